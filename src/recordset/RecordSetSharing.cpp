// One program is one computer: a row one record set stores or deletes is taken by every other
// record set of the program that holds it (the main grid, the search lists, the reference books),
// so that none of them later takes the program's own change for another computer's.
#include "RecordSet.h"

#include "engines/Engine.h"

bool RecordSet::sharesTableWith(const RecordSet &other) const
{
    // Asked for every row a walk stores: the cheap tests first.
    if (m_writtenTable.isEmpty() || this == &other)
        return false;
    return m_writtenTable == other.m_writtenTable ||
           m_writtenTable.compare(other.m_writtenTable, Qt::CaseInsensitive) == 0;
}

int RecordSet::rowOfKey(qint64 key) const
{
    if (!m_positionsByKey) {
        m_positionsByKey.emplace();
        m_positionsByKey->reserve(m_rows.size());
        for (int row = 0; row < rowCount(); ++row)
            m_positionsByKey->emplace(record(row).key(), row);
    }
    const auto found = m_positionsByKey->find(key);
    return found == m_positionsByKey->end() ? -1 : found->second;
}

void RecordSet::takeStoredRow(const RecordSet &from, qint64 keyAsRead, int row)
{
    if (!sharesTableWith(from))
        return;
    const int here = rowOfKey(keyAsRead);
    // A record being edited keeps what was typed; its post is settled against the register.
    if (here < 0 || (here == m_current && isEditing()))
        return;
    const Record stored = from.record(row);
    const std::vector<SourceColumn> &theirs = from.m_source->columns();
    std::vector<int> columns;
    std::vector<Value> values;
    for (const std::unique_ptr<Field> &field : m_fields) {
        const QString &origin = m_source->columns()[size_t(field->Index())].origin;
        if (origin.isEmpty())
            continue;
        for (size_t column = 0; column < theirs.size(); ++column) {
            if (theirs[column].origin.compare(origin, Qt::CaseInsensitive) == 0) {
                columns.push_back(field->Index());
                values.push_back(from.valueAt(row, int(column)));
                break;
            }
        }
    }
    handle(here) = m_arena.replace(handle(here), stored.id(), columns, values);
    if (stored.key() != keyAsRead)
        rowsMoved();
    notify(&DataLink::dataSetChanged);
}

void RecordSet::dropDeletedRow(const RecordSet &from, qint64 key)
{
    if (!sharesTableWith(from))
        return;
    const int here = rowOfKey(key);
    if (here < 0 || (here == m_current && isEditing()))
        return;
    m_arena.release(handle(here));
    m_rows.erase(m_rows.begin() + here);
    rowsMoved();
    if (here < m_current || m_current >= rowCount())
        --m_current;
    resynchronise();
}

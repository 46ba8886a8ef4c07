// What other computers commit to the register reaches the rows held here, without a refresh and
// without disturbing the person: the current record stays current and an edit keeps its typing.
#include "RecordSet.h"

#include "engines/Engine.h"

#include <algorithm>
#include <optional>

namespace {

// A change log's table name against a record set's: the server folds names to lower case and a
// statement may quote them.
bool sameTable(QString logged, QString mine)
{
    mine.remove(QLatin1Char('"'));
    return logged.compare(mine, Qt::CaseInsensitive) == 0;
}

// Beyond this many rows a change is taken by reading the rows again: finding each row's place
// costs a pass over the rows held.
constexpr size_t rowByRowLimit = 64;

} // namespace

void RecordSet::takeOthersChanges(const OthersChanges &changes)
{
    if (!Active())
        return;
    const QString &table = m_kind == Kind::Table ? m_tableName : m_writtenTable;
    const auto mine = std::find_if(
        changes.tables.begin(), changes.tables.end(),
        [&](const OthersChanges::Table &t) { return table.isEmpty() || sameTable(t.name, table); });
    if (!changes.everything && mine == changes.tables.end())
        return;
    // A query's rows are those its condition selects now, which only the query itself tells.
    const bool rowByRow = !changes.everything && !mine->whole && m_kind == Kind::Table &&
                          !m_writtenTable.isEmpty() && mine->keys.size() <= rowByRowLimit;
    if (!rowByRow) {
        m_othersPending = true;
        catchUpWithOthers();
        return;
    }
    for (qint64 key : mine->keys)
        takeOthersRow(key);
    notify(&DataLink::rowsChanged);
}

void RecordSet::catchUpWithOthers()
{
    if (!m_othersPending || !Active() || isEditing())
        return;
    m_othersPending = false;
    Reread();
}

void RecordSet::takeOthersRow(qint64 key)
{
    const int here = rowOfKey(key);
    if (here >= 0 && here == m_current && isEditing())
        return; // its post settles it against the register
    // The rows that are current and to go back to, found again by their handles: -1 for none.
    const qint64 current = m_current >= 0 ? qint64(handle(m_current)) : -1;
    const qint64 beforeInsert = m_rowBeforeInsert >= 0 && m_rowBeforeInsert < rowCount()
                                    ? qint64(handle(m_rowBeforeInsert))
                                    : -1;

    std::optional<RecordArena::Handle> stored;
    const quint32 ordinal = here >= 0 ? record(here).ordinal() : m_nextOrdinal;
    m_source->fetch(key, [&](const RowCells &cells, const RowId &id) {
        stored = m_arena.fromCells(cells, FieldCount(), id, ordinal);
    });
    if (here >= 0) {
        m_arena.release(handle(here));
        m_rows.erase(m_rows.begin() + here);
    } else if (stored) {
        ++m_nextOrdinal;
    }
    if (stored) {
        // A row changed in place stays there unless the sort order moves it.
        int at = m_sortOrder.isEmpty() && here >= 0 ? here : placeFor(*stored);
        m_rows.insert(m_rows.begin() + at, *stored);
    }
    rowsMoved();

    const auto rowOf = [this](qint64 held) {
        return int(std::find(m_rows.begin(), m_rows.end(), RecordArena::Handle(held)) -
                   m_rows.begin());
    };
    if (here >= 0 && here == m_current) {
        // The current record itself: as stored now, or, deleted, the next one takes its place.
        m_current = stored ? rowOf(*stored) : std::min(here, rowCount() - 1);
        if (stored)
            notify(&DataLink::recordChanged);
        else
            resynchronise();
    } else if (current >= 0) {
        m_current = rowOf(current);
    } else if (stored) {
        resynchronise(); // the first row of an empty result becomes current
    }
    if (beforeInsert >= 0)
        m_rowBeforeInsert = rowOf(beforeInsert);
}

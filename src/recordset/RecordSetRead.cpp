// Reading a record set's fields and values; reading its rows again from the engine; sorting them:
// by a field (texts as a Russian reader expects them) or back to the engine's order.
#include "RecordSet.h"
#include "Connection.h"

#include "engines/Engine.h"
#include "platform/Error.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <optional>
#include <unordered_map>

// --- reading -----------------------------------------------------------------------------------

Field *RecordSet::findField(const QString &name)
{
    for (const auto &field : m_fields) {
        if (field->FieldName().compare(name, Qt::CaseInsensitive) == 0)
            return field.get();
    }
    return nullptr;
}

Field &RecordSet::FieldNamed(const QString &name)
{
    if (Field *field = findField(name))
        return *field;
    fail(QStringLiteral("Field '%1' not found").arg(name));
}

Field &RecordSet::FieldAt(int index)
{
    if (index < 0 || index >= FieldCount())
        throw Error(QStringLiteral("List index out of bounds (%1)").arg(index));
    return *m_fields[static_cast<size_t>(index)];
}

int RecordSet::RecordTotal() const
{
    requireOpen();
    return rowCount() - (m_state == State::Inserting ? 1 : 0);
}

Value RecordSet::currentValue(int column) const
{
    if (m_current < 0)
        return std::monostate{};
    if (isEditing()) {
        const auto at = std::find(m_assignedColumns.begin(), m_assignedColumns.end(), column);
        if (at != m_assignedColumns.end())
            return m_assignedValues[static_cast<size_t>(at - m_assignedColumns.begin())];
    }
    return record(m_current).value(column);
}

Value RecordSet::valueAt(int row, int column) const
{
    if (row == m_current)
        return currentValue(column);
    return record(row).value(column);
}

// --- sorting -----------------------------------------------------------------------------------

namespace {

// Nulls first, then numbers, then texts.
int rankOf(const Record &r, int column)
{
    switch (r.kind(column)) {
    case Record::Kind::Null:
        return 0;
    case Record::Kind::Text:
        return 2;
    default:
        return 1;
    }
}

double numberOf(const Record &r, int column)
{
    return r.kind(column) == Record::Kind::Integer ? static_cast<double>(r.integer(column))
                                                   : r.real(column);
}

// Whether `a` goes before `b` by `column`; `textBefore` orders two texts.
template <typename TextBefore>
bool sortsBefore(const Record &a, const Record &b, int column, TextBefore textBefore)
{
    const int rankA = rankOf(a, column);
    const int rankB = rankOf(b, column);
    if (rankA != rankB)
        return rankA < rankB;
    if (rankA == 1)
        return numberOf(a, column) < numberOf(b, column);
    return rankA == 2 && textBefore();
}

QCollator russianCollator()
{
    // Texts in the order a Russian reader expects, not by character codes.
    return QCollator(QLocale(QLocale::Russian, QLocale::Russia));
}

} // namespace

void RecordSet::setSortOrder(const QString &fieldName)
{
    requireOpen();
    Settle();
    const QString name = fieldName.isEmpty() ? QString() : FieldNamed(fieldName).FieldName();
    const quint32 currentOrdinal = empty() ? 0 : record(m_current).ordinal();
    m_sortOrder = name;
    applySortOrder();
    if (!empty())
        m_current = rowOfOrdinal(currentOrdinal, m_current);
    resynchronise();
}

void RecordSet::applySortOrder()
{
    const size_t n = m_rows.size();
    std::vector<size_t> order(n);
    std::iota(order.begin(), order.end(), size_t{0});
    const auto held = [this](size_t i) { return m_arena.at(m_rows[i]); };

    if (m_sortOrder.isEmpty()) {
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return held(a).ordinal() < held(b).ordinal(); });
    } else {
        const int column = FieldNamed(m_sortOrder).Index();
        const QCollator collator = russianCollator();
        std::vector<std::optional<QCollatorSortKey>> keys(n);
        for (size_t i = 0; i < n; ++i) {
            const Record r = held(i);
            if (r.kind(column) == Record::Kind::Text)
                keys[i].emplace(collator.sortKey(r.text(column)));
        }
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return sortsBefore(held(a), held(b), column,
                               [&] { return keys[a]->compare(*keys[b]) < 0; });
        });
    }

    std::vector<RecordArena::Handle> sorted;
    sorted.reserve(n);
    for (size_t i : order)
        sorted.push_back(m_rows[i]);
    m_rows = std::move(sorted);
    rowsMoved();
}

int RecordSet::placeFor(RecordArena::Handle row) const
{
    if (m_sortOrder.isEmpty())
        return rowCount();
    const auto sorted = std::find_if(m_fields.begin(), m_fields.end(), [&](const auto &field) {
        return field->FieldName() == m_sortOrder;
    });
    if (sorted == m_fields.end())
        return rowCount();
    const int column = (*sorted)->Index();
    const QCollator collator = russianCollator();
    const Record placed = m_arena.at(row);
    // After every row it does not sort before, as a stable sort would put it.
    const auto first = std::upper_bound(
        m_rows.begin(), m_rows.end(), placed, [&](const Record &a, RecordArena::Handle held) {
            const Record b = m_arena.at(held);
            return sortsBefore(
                a, b, column, [&] { return collator.compare(a.text(column), b.text(column)) < 0; });
        });
    return int(first - m_rows.begin());
}

void RecordSet::Reread()
{
    // A register not reached when it was to open is connected now, with every record set that
    // waits for it.
    if (waitsToOpen()) {
        m_connection->open(true);
        m_connection->openWaiting();
        return;
    }
    Settle();
    std::vector<RecordArena::Handle> fresh;
    RecordArena freshArena;
    readRows(fresh, freshArena);

    // The record that was current stays current; if it is gone, the next one still there, failing
    // that the previous one.
    std::vector<qint64> oldKeys;
    oldKeys.reserve(m_rows.size());
    for (int i = 0; i < rowCount(); ++i)
        oldKeys.push_back(record(i).key());
    const int oldCurrent = m_current;

    m_rows = std::move(fresh);
    m_arena = std::move(freshArena);
    rowsMoved();
    applySortOrder();

    if (!CanModify()) {
        // Rows without a key are found again by their position.
        m_current = std::min(oldCurrent, rowCount() - 1);
    } else {
        std::unordered_map<qint64, int> positions;
        for (int i = 0; i < rowCount(); ++i)
            positions.emplace(record(i).key(), i);
        m_current = -1;
        const auto find = [&](int from, int step) {
            for (int i = from; i >= 0 && i < static_cast<int>(oldKeys.size()) && m_current < 0;
                 i += step) {
                if (auto it = positions.find(oldKeys[static_cast<size_t>(i)]);
                    it != positions.end())
                    m_current = it->second;
            }
        };
        find(oldCurrent, 1);
        find(oldCurrent - 1, -1);
    }
    resynchronise();
}

bool RecordSet::RefreshRecord()
{
    requireOpen();
    requireModifiable();
    if (isEditing())
        fail(QStringLiteral("Cannot refresh a record while it is edited"));
    if (empty())
        return false;
    RecordArena::Handle &row = handle(m_current);
    const Record read = m_arena.at(row);
    const quint32 ordinal = read.ordinal();
    std::optional<RecordArena::Handle> stored;
    const bool found = m_source->fetch(read.key(), [&](const RowCells &cells, const RowId &id) {
        stored = m_arena.fromCells(cells, FieldCount(), id, ordinal);
    });
    if (found && stored) {
        m_arena.release(row);
        row = *stored;
        notify(&DataLink::recordChanged);
        return true;
    }
    m_arena.release(row);
    m_rows.erase(m_rows.begin() + m_current);
    rowsMoved();
    const bool wasLast = m_current >= rowCount();
    resynchronise();
    m_atEnd = wasLast && !empty();
    return false;
}

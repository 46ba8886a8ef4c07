// Reading a record set's fields and values, and sorting its rows: by a field (texts as a Russian
// reader expects them) or back to the engine's order.
#include "RecordSet.h"

#include "platform/Error.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <optional>

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

void RecordSet::setSortOrder(const QString &fieldName)
{
    requireOpen();
    settle();
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
    const int n = rowCount();
    std::vector<int> order(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        order[static_cast<size_t>(i)] = i;

    if (m_sortOrder.isEmpty()) {
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return record(a).ordinal() < record(b).ordinal(); });
    } else {
        const int column = FieldNamed(m_sortOrder).Index();
        // Texts in the order a Russian reader expects, not by character codes.
        QCollator collator(QLocale(QLocale::Russian, QLocale::Russia));
        std::vector<std::optional<QCollatorSortKey>> keys(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i) {
            const Record r = record(i);
            if (r.kind(column) == Record::Kind::Text)
                keys[static_cast<size_t>(i)].emplace(collator.sortKey(r.text(column)));
        }
        const auto rank = [&](const Record &r) {
            switch (r.kind(column)) {
            case Record::Kind::Null:
                return 0;
            case Record::Kind::Text:
                return 2;
            default:
                return 1;
            }
        };
        const auto number = [&](const Record &r) {
            return r.kind(column) == Record::Kind::Integer ? static_cast<double>(r.integer(column))
                                                           : r.real(column);
        };
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const Record ra = record(a);
            const Record rb = record(b);
            const int rankA = rank(ra);
            const int rankB = rank(rb);
            if (rankA != rankB)
                return rankA < rankB;
            if (rankA == 1)
                return number(ra) < number(rb);
            if (rankA == 2)
                return keys[static_cast<size_t>(a)]->compare(*keys[static_cast<size_t>(b)]) < 0;
            return false;
        });
    }

    std::vector<RecordArena::Handle> sorted;
    sorted.reserve(static_cast<size_t>(n));
    for (int i : order)
        sorted.push_back(m_rows[static_cast<size_t>(i)]);
    m_rows = std::move(sorted);
}

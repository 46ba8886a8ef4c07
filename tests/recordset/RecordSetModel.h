#pragma once

// The plain model the record-set walk of tst_model.cpp is compared with: what tblMain and the file
// must hold after each operation, and the values the walk writes. One test file includes it.
#include "ModelCases.h"
#include "RecordSetFixture.h"

#include "engines/EngineErrors.h"

#include <QCollator>
#include <QLocale>

#include <array>
#include <map>
#include <optional>
#include <random>

namespace {
const QString notEditing = QStringLiteral("tblMain: Dataset not in edit or insert mode");

// What tblMain and the file must hold, kept the plain way.
class Model
{
public:
    std::map<qint64, Values> file;
    // How often another program changed each row, and whether the engine calls a row changed
    // on any such change (a server's row version) or only when a value differs (the file).
    std::map<qint64, int> changesElsewhere;
    bool everyChangeCounts = false;
    qint64 lastKey = 0; // the table numbers keys without ever reusing one
    std::vector<ModelRow> rows;
    int current = -1;
    State state = State::Browsing;
    bool modified = false;
    bool atEnd = true;
    bool atBeginning = true;
    std::map<int, SqlValue> assigned;
    int sortColumn = -1;
    // The keys another program wrote since the record set last took their changes, in order.
    std::vector<qint64> touched;

    bool editing() const { return state == State::Editing || state == State::Inserting; }
    int count() const { return int(rows.size()); }

    Values shown(int row) const
    {
        Values values = rows[size_t(row)].values;
        if (row == current && editing()) {
            for (const auto &[column, value] : assigned)
                values[size_t(column)] = value;
        }
        return values;
    }

    void open()
    {
        readFile();
        current = rows.empty() ? -1 : 0;
        atBeginning = true;
        atEnd = rows.empty();
    }

    // --- the operations -----------------------------------------------------------------------

    Outcome toFirst()
    {
        return settled([&] {
            current = rows.empty() ? -1 : 0;
            atBeginning = true;
            atEnd = rows.empty();
        });
    }

    Outcome toLast()
    {
        return settled([&] {
            current = count() - 1;
            atEnd = true;
            atBeginning = rows.empty();
        });
    }

    Outcome toNext()
    {
        return settled([&] {
            if (atEnd)
                return;
            if (current + 1 < count()) {
                ++current;
                atBeginning = atEnd = false;
            } else {
                atEnd = true;
            }
        });
    }

    Outcome toPrior()
    {
        return settled([&] {
            if (current > 0) {
                --current;
                atBeginning = atEnd = false;
            } else {
                atBeginning = true;
            }
        });
    }

    Outcome skipBy(int distance)
    {
        Outcome outcome = settle();
        if (outcome.error || distance == 0)
            return outcome;
        if (rows.empty()) {
            (distance > 0 ? atEnd : atBeginning) = true;
            return outcome;
        }
        const int target = std::clamp(current + distance, 0, count() - 1);
        outcome.number = target - current;
        current = target;
        if (outcome.number != 0)
            atBeginning = atEnd = false;
        if (outcome.number != distance)
            (distance > 0 ? atEnd : atBeginning) = true;
        return outcome;
    }

    // A click on the row: the record shown there, found again after the settle.
    Outcome moveTo(int row)
    {
        if (row < 0 || row >= count())
            return {};
        const quint64 target = rows[size_t(row)].identity;
        Outcome outcome = settle();
        if (outcome.error)
            return outcome;
        for (int i = 0; i < count(); ++i) {
            if (rows[size_t(i)].identity == target)
                return skipBy(i - current);
        }
        return outcome; // the target was the blank record the settle dropped
    }

    // The record of that key made current after settling; number 1 when found.
    Outcome toKey(qint64 key)
    {
        Outcome outcome = settle();
        if (outcome.error)
            return outcome;
        for (int i = 0; i < count(); ++i) {
            if (rows[size_t(i)].key == key) {
                skipBy(i - current);
                return {std::nullopt, 1};
            }
        }
        return outcome;
    }

    Outcome startInsert(bool append)
    {
        Outcome outcome = settle();
        if (outcome.error)
            return outcome;
        const bool wasEmpty = rows.empty();
        const int at = append || wasEmpty ? count() : current;
        m_beforeInsert = current;
        ModelRow blank;
        blank.identity = ++m_identities;
        rows.insert(rows.begin() + at, blank);
        current = at;
        // Not a move: the beginning and end flags keep what they were.
        assigned.clear();
        setState(State::Inserting);
        return outcome;
    }

    Outcome startEdit()
    {
        if (editing())
            return {};
        if (rows.empty())
            return startInsert(false);
        assigned.clear();
        setState(State::Editing);
        return {};
    }

    // A value for a column, or the message that refuses it; editing is checked first.
    Outcome write(int column, const std::optional<SqlValue> &value, const QString &refusal)
    {
        if (!editing())
            return {notEditing};
        if (column == 0)
            return {QStringLiteral("Field 'Код' cannot be modified")};
        if (!value)
            return {refusal};
        assigned[column] = *value;
        modified = true;
        return {};
    }

    Outcome post()
    {
        if (!editing())
            return {notEditing};
        return write();
    }

    void cancel()
    {
        if (!editing())
            return;
        if (state == State::Inserting) {
            rows.erase(rows.begin() + current);
            current = m_beforeInsert;
        }
        assigned.clear();
        setState(State::Browsing);
        resynchronise();
    }

    Outcome remove()
    {
        if (state == State::Inserting) {
            cancel();
            return {};
        }
        if (rows.empty())
            return {QStringLiteral("tblMain: Cannot perform this operation on an empty dataset")};
        // A row already gone is deleted as asked; one changed since it was read is refused.
        if (file.count(rows[size_t(current)].key) && changedSinceRead(rows[size_t(current)]))
            return {RowChangedElsewhere().message()};
        file.erase(rows[size_t(current)].key);
        rows.erase(rows.begin() + current);
        current = std::min(current, count() - 1);
        assigned.clear();
        setState(State::Browsing);
        resynchronise();
        return {};
    }

    Outcome reread()
    {
        return settled([&] {
            std::vector<qint64> oldKeys;
            for (const ModelRow &row : rows)
                oldKeys.push_back(row.key);
            const int oldCurrent = current;
            readFile();
            sortRows();
            current = -1;
            for (int i = oldCurrent; i >= 0 && i < int(oldKeys.size()) && current < 0; ++i)
                current = indexOfKey(oldKeys[size_t(i)]);
            for (int i = oldCurrent - 1; i >= 0 && current < 0; --i)
                current = indexOfKey(oldKeys[size_t(i)]);
            resynchronise();
        });
    }

    Outcome sortBy(int column)
    {
        return settled([&] {
            const quint64 was = current >= 0 ? rows[size_t(current)].identity : 0;
            sortColumn = column;
            sortRows();
            for (int i = 0; i < count(); ++i) {
                if (rows[size_t(i)].identity == was)
                    current = i;
            }
            resynchronise();
        });
    }

    // --- another program --------------------------------------------------------------------

    qint64 insertedElsewhere()
    {
        Values values;
        values[0] = ++lastKey;
        file[lastKey] = values;
        touched.push_back(lastKey);
        return lastKey;
    }

    // Each row another program wrote, in turn, as stored now: in place, or where the sort order
    // puts it (after the rows it does not sort before), a new one at the end when unsorted; gone
    // when deleted. A record being edited keeps what it was read as. No move, no settle.
    Outcome othersShown()
    {
        for (qint64 key : std::exchange(touched, {})) {
            const int here = indexOfKey(key);
            if (here >= 0 && here == current && editing())
                continue;
            const quint64 currentIdentity = current >= 0 ? rows[size_t(current)].identity : 0;
            const quint64 beforeInsert = m_beforeInsert >= 0 && m_beforeInsert < count()
                                             ? rows[size_t(m_beforeInsert)].identity
                                             : 0;
            std::optional<ModelRow> stored;
            if (const auto found = file.find(key); found != file.end()) {
                stored = ModelRow{key, here >= 0 ? rows[size_t(here)].identity : ++m_identities,
                                  found->second, changesElsewhere[key]};
            }
            if (here >= 0)
                rows.erase(rows.begin() + here);
            if (stored) {
                const auto place =
                    sortColumn < 0 ? rows.begin() + (here >= 0 ? here : count())
                                   : std::upper_bound(rows.begin(), rows.end(), *stored,
                                                      [&](const ModelRow &a, const ModelRow &b) {
                                                          return sortsBefore(a, b);
                                                      });
                rows.insert(place, *stored);
            }
            if (here >= 0 && here == current && !stored) {
                current = std::min(here, count() - 1);
                resynchronise();
            } else if (current >= 0) {
                current = indexOfIdentity(currentIdentity);
            } else if (stored) {
                resynchronise();
            }
            if (beforeInsert)
                m_beforeInsert = indexOfIdentity(beforeInsert);
        }
        return {};
    }

private:
    // Settles, then runs the move unless the settle failed.
    template <typename Move> Outcome settled(Move move)
    {
        Outcome outcome = settle();
        if (!outcome.error)
            move();
        return outcome;
    }

    Outcome settle()
    {
        if (!editing())
            return {};
        if (modified)
            return write();
        cancel();
        return {};
    }

    Outcome write()
    {
        ModelRow &row = rows[size_t(current)];
        if (state == State::Inserting) {
            row.key = ++lastKey;
            Values values;
            values[0] = row.key;
            for (const auto &[column, value] : assigned)
                values[size_t(column)] = value;
            file[row.key] = values;
            row.values = values;
        } else if (!assigned.empty()) {
            // Another program's change is kept unless it touched what this post writes or a
            // column tied to it; the record then holds the row as stored.
            const auto stored = file.find(row.key);
            if (stored == file.end())
                return {RowChangedElsewhere().message()};
            for (const auto &[column, value] : assigned) {
                for (int tied : tiedTo(column)) {
                    if (stored->second[size_t(tied)] != row.values[size_t(tied)])
                        return {RowChangedElsewhere().message()};
                }
            }
            for (const auto &[column, value] : assigned)
                stored->second[size_t(column)] = value;
            row.values = stored->second;
            row.changesSeen = changesElsewhere[row.key];
        }
        assigned.clear();
        setState(State::Browsing);
        resynchronise();
        return {};
    }

    // A column and those it goes with: the four parts of a date of birth; the age and the jubilee
    // with the year they are computed from.
    static std::vector<int> tiedTo(int column)
    {
        if (column >= 2 && column <= 5)
            return {2, 3, 4, 5};
        if (column == 6 || column == 7)
            return {3, 6, 7};
        return {column};
    }

    // Whether a deletion is refused: the row is gone or changed since it was read.
    bool changedSinceRead(const ModelRow &row) const
    {
        const auto stored = file.find(row.key);
        if (stored == file.end())
            return true;
        const auto changes = changesElsewhere.find(row.key);
        const int changed = changes == changesElsewhere.end() ? 0 : changes->second;
        return everyChangeCounts ? changed != row.changesSeen : stored->second != row.values;
    }

    void setState(State next)
    {
        if (state != next)
            modified = false;
        state = next;
    }

    void resynchronise()
    {
        if (rows.empty()) {
            current = -1;
            atBeginning = atEnd = true;
        } else {
            current = std::clamp(current, 0, count() - 1);
            atBeginning = atEnd = false;
        }
    }

    void readFile()
    {
        rows.clear();
        for (const auto &[key, values] : file) {
            const auto changes = changesElsewhere.find(key);
            rows.push_back({key, ++m_identities, values,
                            changes == changesElsewhere.end() ? 0 : changes->second});
        }
        m_engineOrder.clear();
        for (const ModelRow &row : rows)
            m_engineOrder[row.identity] = m_engineOrder.size();
    }

    int indexOfIdentity(quint64 identity) const
    {
        for (int i = 0; i < count(); ++i) {
            if (rows[size_t(i)].identity == identity)
                return i;
        }
        return -1;
    }

    int indexOfKey(qint64 key) const
    {
        for (int i = 0; i < count(); ++i) {
            if (rows[size_t(i)].key == key)
                return i;
        }
        return -1;
    }

    // No sort column: the engine's order, new records after the rows read. A sort column:
    // empty values first, then numbers, then texts as a Russian reader orders them.
    void sortRows()
    {
        const auto engineRank = [&](const ModelRow &row) {
            const auto it = m_engineOrder.find(row.identity);
            return it == m_engineOrder.end() ? m_engineOrder.size() + row.identity : it->second;
        };
        if (sortColumn < 0) {
            std::stable_sort(rows.begin(), rows.end(), [&](const ModelRow &a, const ModelRow &b) {
                return engineRank(a) < engineRank(b);
            });
            return;
        }
        std::stable_sort(rows.begin(), rows.end(),
                         [&](const ModelRow &a, const ModelRow &b) { return sortsBefore(a, b); });
    }

    bool sortsBefore(const ModelRow &a, const ModelRow &b) const
    {
        static const QCollator collator(QLocale(QLocale::Russian, QLocale::Russia));
        const auto group = [](const SqlValue &v) {
            return std::holds_alternative<std::monostate>(v) ? 0
                   : std::holds_alternative<QString>(v)      ? 2
                                                             : 1;
        };
        const auto number = [](const SqlValue &v) {
            if (auto i = std::get_if<qint64>(&v))
                return double(*i);
            return std::get<double>(v);
        };
        const SqlValue &x = a.values[size_t(sortColumn)];
        const SqlValue &y = b.values[size_t(sortColumn)];
        if (group(x) != group(y))
            return group(x) < group(y);
        if (group(x) == 1)
            return number(x) < number(y);
        if (group(x) == 2)
            return collator.compare(std::get<QString>(x), std::get<QString>(y)) < 0;
        return false;
    }

    int m_beforeInsert = -1;
    quint64 m_identities = 0;
    std::map<quint64, size_t> m_engineOrder; // identity -> position in the last read
};

} // namespace

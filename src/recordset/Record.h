#pragma once

#include "platform/Sqlite.h"

#include <QStringView>

#include <cstdlib>
#include <string_view>

// One held row, kept small because a record set holds every row of its table: the values and
// the texts of a row share one allocation, and a record is two words in the record set's list.
class Record
{
public:
    enum class Kind : quint8 { Null, Integer, Real, Text };

    Record() = default;
    // A blank row of `columns` null values.
    explicit Record(int columns, qint64 key = 0);
    Record(Record &&other) noexcept
        : m_key(other.m_key), m_block(std::exchange(other.m_block, nullptr))
    {}
    Record &operator=(Record &&other) noexcept;
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;
    ~Record() { std::free(m_block); }

    // Builds a row from the statement's columns first..first+columns-1.
    static Record fromStatement(const SqliteStatement &row, int first, int columns, qint64 key);

    qint64 key() const { return m_key; }
    void setKey(qint64 key) { m_key = key; }
    quint32 ordinal() const { return m_block ? header()->ordinal : 0; }
    void setOrdinal(quint32 ordinal) { header()->ordinal = ordinal; }

    Kind kind(int column) const { return cell(column).kind; }
    qint64 integer(int column) const { return cell(column).integer; }
    double real(int column) const { return cell(column).real; }
    QStringView text(int column) const;
    SqlValue value(int column) const;

    // Replaces some values; the others stay as they are.
    void assign(const std::vector<int> &columns, const std::vector<SqlValue> &values);

private:
    struct Cell
    {
        union {
            qint64 integer;
            double real;
            struct
            {
                quint32 offset;
                quint32 length;
            } text;
        };
        Kind kind;
    };
    struct Header
    {
        quint32 columns;
        quint32 ordinal; // the position in the engine's order, for going back to it
    };

    Header *header() const { return static_cast<Header *>(m_block); }
    Cell *cells() const { return reinterpret_cast<Cell *>(header() + 1); }
    const char16_t *chars() const
    {
        return reinterpret_cast<const char16_t *>(cells() + header()->columns);
    }
    const Cell &cell(int column) const { return cells()[column]; }

    // Lays out a block for cells whose texts come from `textOf`; cells[i].text.length must be set.
    template <typename TextOf>
    static void *build(int columns, const Cell *source, size_t textLength, quint32 ordinal,
                       TextOf textOf);

    qint64 m_key = 0;
    void *m_block = nullptr;
};

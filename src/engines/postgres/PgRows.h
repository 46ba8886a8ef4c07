#pragma once

// What the server engine's parts share: the server's types the program reads, and one row of a
// result lent to a reader.
#include "engines/postgres/PgStatement.h"
#include "engines/Values.h"

#include <libpq-fe.h>

#include <QByteArray>

#include <charconv>
#include <optional>
#include <string_view>

namespace PgRows {

// A value as the server takes it in text form, in statements' parameters and in COPY alike;
// nothing for null.
inline std::optional<QByteArray> serverText(const Value &value)
{
    if (const auto *integer = std::get_if<qint64>(&value))
        return QByteArray::number(*integer);
    if (const auto *real = std::get_if<double>(&value))
        return QByteArray::number(*real, 'g', 17);
    if (const auto *text = std::get_if<QString>(&value))
        return text->toUtf8();
    return std::nullopt;
}

// Rows fetched at a time: few round trips, and little held beside the record set.
constexpr int rowsPerPiece = 4096;

// The server's types the program reads (pg_type.oid).
enum TypeOid : unsigned {
    BoolOid = 16,
    ByteaOid = 17,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    OidOid = 26,
    Float4Oid = 700,
    Float8Oid = 701,
    BpcharOid = 1042,
    VarcharOid = 1043,
    NumericOid = 1700,
    DateOid = 1082,
    TimestampOid = 1114,
};

inline bool isInteger(unsigned type)
{
    return type == Int2Oid || type == Int4Oid || type == Int8Oid || type == OidOid;
}

inline bool isReal(unsigned type)
{
    return type == Float4Oid || type == Float8Oid || type == NumericOid;
}

// One row of a result lent to a reader, its columns counted from `first`.
class PgCells final : public RowCells
{
public:
    PgCells(const PgResult &result, const std::vector<unsigned> &types, int first)
        : m_result(result.get()), m_types(types), m_first(first)
    {}
    void setRow(int row) { m_row = row; }

    Kind kind(int column) const override
    {
        if (PQgetisnull(m_result, m_row, column + m_first))
            return Kind::Null;
        const unsigned type = m_types[static_cast<size_t>(column)];
        return isInteger(type) || type == ByteaOid ? Kind::Integer
               : isReal(type)                      ? Kind::Real
                                                   : Kind::Text;
    }
    qint64 integer(int column) const override
    {
        // Binary data is lent as its size: the server sends it as "\x" and two hex digits a byte.
        if (m_types[static_cast<size_t>(column)] == ByteaOid)
            return std::max<qint64>(0, (qint64(utf8(column).size()) - 2) / 2);
        const std::string_view text = utf8(column);
        qint64 value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        return value;
    }
    double real(int column) const override
    {
        // The server writes numbers with a full stop whatever the program's locale.
        const std::string_view text = utf8(column);
        double value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        return value;
    }
    std::string_view utf8(int column) const override
    {
        return {PQgetvalue(m_result, m_row, column + m_first),
                static_cast<size_t>(PQgetlength(m_result, m_row, column + m_first))};
    }

private:
    const pg_result *m_result;
    const std::vector<unsigned> &m_types;
    int m_first;
    int m_row = 0;
};

} // namespace PgRows

#include "Record.h"

#include "RecordFormat.h"

using namespace RecordFormat;

// --- Record ------------------------------------------------------------------------------------

qint64 Record::key() const
{
    return partsOf(m_block).key;
}

RowId Record::id() const
{
    const Parts parts = partsOf(m_block);
    return {parts.key, parts.version};
}

quint32 Record::ordinal() const
{
    return partsOf(m_block).ordinal;
}

int Record::columns() const
{
    return partsOf(m_block).columns;
}

Record::Kind Record::kind(int column) const
{
    return cellOf(m_block, column).kind;
}

qint64 Record::integer(int column) const
{
    return cellOf(m_block, column).integer;
}

double Record::real(int column) const
{
    return cellOf(m_block, column).real;
}

QString Record::text(int column) const
{
    const std::string_view text = cellOf(m_block, column).text;
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string_view Record::utf8(int column) const
{
    return cellOf(m_block, column).text;
}

Value Record::value(int column) const
{
    const Cell cell = cellOf(m_block, column);
    switch (cell.kind) {
    case Kind::Null:
        return std::monostate{};
    case Kind::Integer:
        return cell.integer;
    case Kind::Real:
        return cell.real;
    case Kind::Text:
        break;
    }
    return QString::fromUtf8(cell.text.data(), static_cast<qsizetype>(cell.text.size()));
}

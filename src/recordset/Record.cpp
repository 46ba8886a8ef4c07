#include "Record.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr size_t cellSize = 16;

} // namespace

Record &Record::operator=(Record &&other) noexcept
{
    if (this != &other) {
        std::free(m_block);
        m_key = other.m_key;
        m_block = std::exchange(other.m_block, nullptr);
    }
    return *this;
}

template <typename TextOf>
void *Record::build(int columns, const Cell *source, size_t textLength, quint32 ordinal,
                    TextOf textOf)
{
    static_assert(sizeof(Cell) == cellSize);
    const size_t bytes =
        sizeof(Header) + size_t(columns) * sizeof(Cell) + textLength * sizeof(char16_t);
    void *block = std::malloc(bytes);
    if (!block)
        throw std::bad_alloc();
    auto *header = static_cast<Header *>(block);
    header->columns = quint32(columns);
    header->ordinal = ordinal;
    auto *cells = reinterpret_cast<Cell *>(header + 1);
    auto *chars = reinterpret_cast<char16_t *>(cells + columns);
    quint32 offset = 0;
    for (int i = 0; i < columns; ++i) {
        cells[i] = source[i];
        if (source[i].kind == Kind::Text) {
            const std::u16string_view text = textOf(i);
            std::memcpy(chars + offset, text.data(), text.size() * sizeof(char16_t));
            cells[i].text = {offset, quint32(text.size())};
            offset += quint32(text.size());
        }
    }
    return block;
}

Record::Record(int columns, qint64 key) : m_key(key)
{
    std::vector<Cell> blank(static_cast<size_t>(columns));
    for (Cell &c : blank) {
        c.integer = 0;
        c.kind = Kind::Null;
    }
    m_block = build(columns, blank.data(), 0, 0, [](int) { return std::u16string_view(); });
}

Record Record::fromStatement(const SqliteStatement &row, int first, int columns, qint64 key)
{
    constexpr int inlineColumns = 16;
    Cell inlineCells[inlineColumns];
    std::vector<Cell> heapCells;
    Cell *cells = inlineCells;
    if (columns > inlineColumns) {
        heapCells.resize(size_t(columns));
        cells = heapCells.data();
    }
    size_t textLength = 0;
    for (int i = 0; i < columns; ++i) {
        Cell &c = cells[i];
        c.integer = 0;
        switch (row.columnType(first + i)) {
        case SqliteStatement::Type::Null:
            c.kind = Kind::Null;
            break;
        case SqliteStatement::Type::Integer:
            c.kind = Kind::Integer;
            c.integer = row.columnInt64(first + i);
            break;
        case SqliteStatement::Type::Real:
            c.kind = Kind::Real;
            c.real = row.columnDouble(first + i);
            break;
        case SqliteStatement::Type::Text:
        case SqliteStatement::Type::Blob:
            c.kind = Kind::Text;
            textLength += row.columnText16(first + i).size();
            break;
        }
    }
    Record record;
    record.m_key = key;
    record.m_block =
        build(columns, cells, textLength, 0, [&](int i) { return row.columnText16(first + i); });
    return record;
}

QStringView Record::text(int column) const
{
    const Cell &c = cell(column);
    return QStringView(chars() + c.text.offset, qsizetype(c.text.length));
}

SqlValue Record::value(int column) const
{
    switch (kind(column)) {
    case Kind::Null:
        return std::monostate{};
    case Kind::Integer:
        return integer(column);
    case Kind::Real:
        return real(column);
    case Kind::Text:
        break;
    }
    return text(column).toString();
}

void Record::assign(const std::vector<int> &columns, const std::vector<SqlValue> &values)
{
    const int count = int(header()->columns);
    constexpr int inlineColumns = 16;
    Cell inlineCells[inlineColumns];
    const SqlValue *inlineReplaced[inlineColumns];
    std::vector<Cell> heapCells;
    std::vector<const SqlValue *> heapReplaced;
    Cell *newCells = inlineCells;
    const SqlValue **replaced = inlineReplaced;
    if (count > inlineColumns) {
        heapCells.resize(size_t(count));
        heapReplaced.resize(size_t(count));
        newCells = heapCells.data();
        replaced = heapReplaced.data();
    }
    std::fill(replaced, replaced + count, nullptr);
    for (size_t i = 0; i < columns.size(); ++i)
        replaced[columns[i]] = &values[i];

    size_t textLength = 0;
    for (int i = 0; i < count; ++i) {
        Cell &c = newCells[i];
        c = cells()[i];
        if (const SqlValue *value = replaced[i]) {
            c.integer = 0;
            if (std::holds_alternative<std::monostate>(*value)) {
                c.kind = Kind::Null;
            } else if (auto integer = std::get_if<qint64>(value)) {
                c.kind = Kind::Integer;
                c.integer = *integer;
            } else if (auto real = std::get_if<double>(value)) {
                c.kind = Kind::Real;
                c.real = *real;
            } else {
                c.kind = Kind::Text;
                textLength += size_t(std::get<QString>(*value).size());
            }
        } else if (c.kind == Kind::Text) {
            textLength += c.text.length;
        }
    }
    void *block = build(count, newCells, textLength, ordinal(), [&](int i) {
        if (const SqlValue *value = replaced[i]) {
            const QString &text = std::get<QString>(*value);
            return std::u16string_view(reinterpret_cast<const char16_t *>(text.utf16()),
                                       size_t(text.size()));
        }
        const QStringView old = this->text(i);
        return std::u16string_view(reinterpret_cast<const char16_t *>(old.utf16()),
                                   size_t(old.size()));
    });
    std::free(m_block);
    m_block = block;
}

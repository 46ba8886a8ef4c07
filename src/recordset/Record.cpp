#include "Record.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include <QStringEncoder>

#include <sys/mman.h>

// A row is a run of bytes:
//   spare      1 byte: how many unused bytes follow the row, left when a shorter row was written
//              over a longer one, so that it can grow back in place
//   ordinal    unsigned LEB128
//   key        a cell
//   columns    unsigned LEB128
//   cells      one after another
// A cell is a tag byte and what it says follows:
//   0x00                 null
//   0x10 + n (n = 0..8)  an integer in n little-endian bytes, sign-extended; 0x10 is zero
//   0x19                 an integer equal to the key (the key column of a table, held once)
//   0x20                 a real in 8 bytes
//   0x40 + n (n < 63)    a text of n UTF-8 bytes
//   0x7F, LEB128 n       a longer text of n UTF-8 bytes
// Multi-byte values are copied with memcpy: a row starts at any byte.

namespace {

constexpr std::byte nullTag{0x00};
constexpr quint8 integerTag = 0x10;
constexpr std::byte keyTag{0x19};
constexpr std::byte realTag{0x20};
constexpr quint8 shortTextTag = 0x40;
constexpr quint8 shortTextLimit = 63;
constexpr std::byte longTextTag{0x7F};
constexpr size_t maxSpare = 255;

struct Cell
{
    Record::Kind kind = Record::Kind::Null;
    qint64 integer = 0;
    double real = 0;
    std::string_view text;
};

quint64 readVarint(const std::byte *&at)
{
    quint64 value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = quint8(*at++);
        value |= quint64(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
    }
}

void writeVarint(std::vector<std::byte> &out, quint64 value)
{
    while (value >= 0x80) {
        out.push_back(std::byte(quint8(value) | 0x80));
        value >>= 7;
    }
    out.push_back(std::byte(value));
}

// The fewest bytes whose sign extension gives the value back.
int integerBytes(qint64 value)
{
    int bytes = 0;
    while (bytes < 8) {
        const int bits = bytes * 8;
        const qint64 low = bits == 0 ? 0 : -(qint64(1) << (bits - 1));
        const qint64 high = bits == 0 ? 0 : (qint64(1) << (bits - 1)) - 1;
        if (value >= low && value <= high)
            break;
        ++bytes;
    }
    return bytes;
}

// Reads the cell at `at` and moves past it. `key` is the value a key-tagged cell stands for.
Cell readCell(const std::byte *&at, qint64 key)
{
    Cell cell;
    const auto tag = quint8(*at++);
    if (tag == quint8(nullTag))
        return cell;
    if (tag == quint8(keyTag)) {
        cell.kind = Record::Kind::Integer;
        cell.integer = key;
        return cell;
    }
    if (tag >= integerTag && tag <= integerTag + 8) {
        const int bytes = tag - integerTag;
        quint64 raw = 0;
        std::memcpy(&raw, at, size_t(bytes)); // little-endian machines only, as the file format
        at += bytes;
        if (bytes > 0 && bytes < 8 && (raw >> (bytes * 8 - 1)) & 1)
            raw |= ~quint64(0) << (bytes * 8);
        cell.kind = Record::Kind::Integer;
        cell.integer = qint64(raw);
        return cell;
    }
    if (tag == quint8(realTag)) {
        std::memcpy(&cell.real, at, sizeof cell.real);
        at += sizeof cell.real;
        cell.kind = Record::Kind::Real;
        return cell;
    }
    const size_t length =
        tag == quint8(longTextTag) ? size_t(readVarint(at)) : size_t(tag - shortTextTag);
    cell.kind = Record::Kind::Text;
    cell.text = std::string_view(reinterpret_cast<const char *>(at), length);
    at += length;
    return cell;
}

// Where the parts of a row start.
struct Parts
{
    size_t spare = 0;
    quint32 ordinal = 0;
    qint64 key = 0;
    int columns = 0;
    const std::byte *cells = nullptr;
};

Parts partsOf(const std::byte *block)
{
    Parts parts;
    const std::byte *at = block;
    parts.spare = size_t(*at++);
    parts.ordinal = quint32(readVarint(at));
    parts.key = readCell(at, 0).integer;
    parts.columns = int(readVarint(at));
    parts.cells = at;
    return parts;
}

Cell cellOf(const std::byte *block, int column)
{
    const Parts parts = partsOf(block);
    const std::byte *at = parts.cells;
    for (int i = 0; i < column; ++i)
        readCell(at, parts.key);
    return readCell(at, parts.key);
}

// Bytes the row takes, its spare room included.
size_t runSize(const std::byte *block)
{
    const Parts parts = partsOf(block);
    const std::byte *at = parts.cells;
    for (int i = 0; i < parts.columns; ++i)
        readCell(at, parts.key);
    return size_t(at - block) + parts.spare;
}

// Builds a row in a buffer reused from row to row; the arena then copies it into place.
class Encoder
{
public:
    Encoder(quint32 ordinal, qint64 key, int columns) : m_key(key)
    {
        m_out.clear();
        m_out.push_back(std::byte{0}); // no spare room
        writeVarint(m_out, ordinal);
        integer(key, false);
        writeVarint(m_out, quint64(columns));
    }

    void null() { m_out.push_back(nullTag); }

    void integer(qint64 value, bool mayBeKey = true)
    {
        if (mayBeKey && value == m_key && m_key != 0) {
            m_out.push_back(keyTag);
            return;
        }
        const int bytes = integerBytes(value);
        m_out.push_back(std::byte(integerTag + bytes));
        const auto raw = quint64(value);
        for (int i = 0; i < bytes; ++i)
            m_out.push_back(std::byte(quint8(raw >> (8 * i))));
    }

    void real(double value)
    {
        m_out.push_back(realTag);
        append(&value, sizeof value);
    }

    void text(std::string_view utf8)
    {
        if (utf8.size() < shortTextLimit) {
            m_out.push_back(std::byte(shortTextTag + utf8.size()));
        } else {
            m_out.push_back(longTextTag);
            writeVarint(m_out, utf8.size());
        }
        append(utf8.data(), utf8.size());
    }

    // Converted straight into the row.
    void text(QStringView utf16)
    {
        QStringEncoder toUtf8(QStringEncoder::Utf8);
        const size_t tagAt = m_out.size();
        const size_t room = size_t(toUtf8.requiredSpace(utf16.size()));
        // Room for the longest tag: a marker and a length of up to five bytes.
        m_out.resize(tagAt + 6 + room);
        char *chars = reinterpret_cast<char *>(m_out.data() + tagAt + 6);
        const size_t length = size_t(toUtf8.appendToBuffer(chars, utf16) - chars);
        size_t tagLength = 1;
        if (length < shortTextLimit) {
            m_out[tagAt] = std::byte(shortTextTag + length);
        } else {
            m_out[tagAt] = longTextTag;
            std::byte *at = m_out.data() + tagAt + 1;
            for (size_t rest = length; ; rest >>= 7) {
                *at++ = std::byte(quint8(rest & 0x7F) | (rest >= 0x80 ? 0x80 : 0));
                ++tagLength;
                if (rest < 0x80)
                    break;
            }
        }
        std::memmove(m_out.data() + tagAt + tagLength, chars, length);
        m_out.resize(tagAt + tagLength + length);
    }

    void cell(const Cell &c)
    {
        switch (c.kind) {
        case Record::Kind::Null:
            null();
            break;
        case Record::Kind::Integer:
            integer(c.integer);
            break;
        case Record::Kind::Real:
            real(c.real);
            break;
        case Record::Kind::Text:
            text(c.text);
            break;
        }
    }

    void value(const SqlValue &v)
    {
        if (auto i = std::get_if<qint64>(&v))
            integer(*i);
        else if (auto d = std::get_if<double>(&v))
            real(*d);
        else if (auto s = std::get_if<QString>(&v))
            text(*s);
        else
            null();
    }

    void raw(const std::byte *begin, const std::byte *end) { m_out.insert(m_out.end(), begin, end); }

    const std::vector<std::byte> &bytes() const { return m_out; }

private:
    void append(const void *data, size_t size)
    {
        const auto *bytes = static_cast<const std::byte *>(data);
        m_out.insert(m_out.end(), bytes, bytes + size);
    }

    qint64 m_key;
    static thread_local std::vector<std::byte> m_out;
};

thread_local std::vector<std::byte> Encoder::m_out;

} // namespace

// --- Record ------------------------------------------------------------------------------------

qint64 Record::key() const
{
    return partsOf(m_block).key;
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
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

SqlValue Record::value(int column) const
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
    return QString::fromUtf8(cell.text.data(), qsizetype(cell.text.size()));
}

// --- RecordArena -------------------------------------------------------------------------------

// The header of a chunk, at its start. A row too large for a usual chunk gets a chunk of its own.
// Chunks are mapped from the system directly: a freed chunk goes back to it at once instead of
// staying with the process as free heap.
struct RecordArena::Chunk
{
    static constexpr size_t size = size_t(1) << offsetBits;

    std::byte *start() { return reinterpret_cast<std::byte *>(this); }

    size_t capacity; // bytes, this header included
    size_t used;
    size_t rows;   // rows held here
    size_t wasted; // bytes of rows given up here
    quint32 slot;
};

RecordArena::RecordArena(RecordArena &&other) noexcept
    : m_slots(std::exchange(other.m_slots, {})), m_freeSlots(std::exchange(other.m_freeSlots, {})),
      m_tail(std::exchange(other.m_tail, nullptr)), m_reserved(std::exchange(other.m_reserved, 0)),
      m_live(std::exchange(other.m_live, 0)), m_wasted(std::exchange(other.m_wasted, 0))
{}

RecordArena &RecordArena::operator=(RecordArena &&other) noexcept
{
    if (this != &other) {
        clear();
        m_slots = std::exchange(other.m_slots, {});
        m_freeSlots = std::exchange(other.m_freeSlots, {});
        m_tail = std::exchange(other.m_tail, nullptr);
        m_reserved = std::exchange(other.m_reserved, 0);
        m_live = std::exchange(other.m_live, 0);
        m_wasted = std::exchange(other.m_wasted, 0);
    }
    return *this;
}

RecordArena::~RecordArena()
{
    clear();
}

void RecordArena::clear()
{
    for (std::byte *start : m_slots) {
        if (start)
            munmap(start, reinterpret_cast<Chunk *>(start)->capacity);
    }
    m_slots.clear();
    m_freeSlots.clear();
    m_tail = nullptr;
    m_reserved = m_live = m_wasted = 0;
}

RecordArena::Chunk *RecordArena::chunk(Handle row) const
{
    return reinterpret_cast<Chunk *>(m_slots[row >> offsetBits]);
}

RecordArena::Handle RecordArena::allocate(size_t bytes)
{
    if (!m_tail || m_tail->used + bytes > m_tail->capacity) {
        constexpr size_t slots = size_t(1) << (32 - offsetBits);
        if (m_freeSlots.empty() && m_slots.size() == slots)
            throw std::bad_alloc(); // 4 GiB of rows in one record set
        const size_t needed = sizeof(Chunk) + bytes;
        const size_t capacity = (needed + Chunk::size - 1) / Chunk::size * Chunk::size;
        m_slots.reserve(m_slots.size() + 1);
        m_freeSlots.reserve(m_freeSlots.size() + 1);
        void *mapped =
            mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            throw std::bad_alloc();
        auto *chunk = static_cast<Chunk *>(mapped);
        *chunk = Chunk{capacity, sizeof(Chunk), 0, 0, 0};
        if (m_freeSlots.empty()) {
            chunk->slot = quint32(m_slots.size());
            m_slots.push_back(chunk->start());
        } else {
            chunk->slot = m_freeSlots.back();
            m_freeSlots.pop_back();
            m_slots[chunk->slot] = chunk->start();
        }
        m_reserved += capacity;
        // A row larger than a usual chunk has its chunk to itself; rows after it go on filling
        // the chunk they were filling.
        if (capacity == Chunk::size) {
            m_tail = chunk;
        } else {
            chunk->used = chunk->capacity;
            chunk->rows = 1;
            return (Handle(chunk->slot) << offsetBits) | Handle(sizeof(Chunk));
        }
    }
    const Handle row = (Handle(m_tail->slot) << offsetBits) | Handle(m_tail->used);
    m_tail->used += bytes;
    ++m_tail->rows;
    return row;
}

void RecordArena::freeChunk(Chunk *chunk)
{
    m_wasted -= chunk->wasted;
    m_reserved -= chunk->capacity;
    m_slots[chunk->slot] = nullptr;
    m_freeSlots.push_back(chunk->slot); // room was reserved when the slot was taken
    if (chunk == m_tail)
        m_tail = nullptr;
    munmap(chunk, chunk->capacity);
}

RecordArena::Handle RecordArena::write(const std::vector<std::byte> &encoded)
{
    const Handle row = allocate(encoded.size());
    std::memcpy(at(row).m_block, encoded.data(), encoded.size());
    m_live += encoded.size();
    return row;
}

RecordArena::Handle RecordArena::blank(int columns, quint32 ordinal)
{
    Encoder encoder(ordinal, 0, columns);
    for (int i = 0; i < columns; ++i)
        encoder.null();
    return write(encoder.bytes());
}

RecordArena::Handle RecordArena::fromStatement(const SqliteStatement &row, int first, int columns,
                                               qint64 key, quint32 ordinal)
{
    Encoder encoder(ordinal, key, columns);
    for (int i = first; i < first + columns; ++i) {
        switch (row.columnType(i)) {
        case SqliteStatement::Type::Null:
            encoder.null();
            break;
        case SqliteStatement::Type::Integer:
            encoder.integer(row.columnInt64(i));
            break;
        case SqliteStatement::Type::Real:
            encoder.real(row.columnDouble(i));
            break;
        case SqliteStatement::Type::Text:
        case SqliteStatement::Type::Blob:
            encoder.text(row.columnUtf8(i));
            break;
        }
    }
    return write(encoder.bytes());
}

RecordArena::Handle RecordArena::replace(Handle row, qint64 key, const std::vector<int> &columns,
                                         const std::vector<SqlValue> &values)
{
    std::byte *block = at(row).m_block;
    const Parts parts = partsOf(block);
    Encoder encoder(parts.ordinal, key, parts.columns);
    const std::byte *at = parts.cells;
    // With the same key a kept cell means the same as it stands: runs of them are copied whole.
    const bool sameKey = key == parts.key;
    const std::byte *kept = at;
    for (int i = 0; i < parts.columns; ++i) {
        const std::byte *start = at;
        const Cell old = readCell(at, parts.key);
        const auto assigned = std::find(columns.begin(), columns.end(), i);
        if (assigned != columns.end()) {
            encoder.raw(kept, start);
            encoder.value(values[size_t(assigned - columns.begin())]);
            kept = at;
        } else if (!sameKey) {
            encoder.cell(old);
            kept = at;
        }
    }
    encoder.raw(kept, at);

    const std::vector<std::byte> &encoded = encoder.bytes();
    const size_t room = size_t(at - block) + parts.spare;
    if (encoded.size() > room) {
        const Handle moved = write(encoded);
        release(row);
        return moved;
    }
    // Written over the old row; room beyond what the spare byte can tell is given up.
    const size_t spare = std::min(room - encoded.size(), maxSpare);
    std::memcpy(block, encoded.data(), encoded.size());
    block[0] = std::byte(spare);
    const size_t lost = room - encoded.size() - spare;
    chunk(row)->wasted += lost;
    m_live -= lost;
    m_wasted += lost;
    return row;
}

void RecordArena::release(Handle row)
{
    const size_t size = runSize(at(row).m_block);
    Chunk *chunk = this->chunk(row);
    chunk->wasted += size;
    m_live -= size;
    m_wasted += size;
    if (--chunk->rows > 0)
        return;
    if (chunk == m_tail) {
        // Emptied while being filled: filled again from its start.
        m_wasted -= chunk->wasted;
        chunk->used = sizeof(Chunk);
        chunk->wasted = 0;
    } else {
        freeChunk(chunk);
    }
}

void RecordArena::packIfWasteful(std::vector<Handle> &held)
{
    constexpr size_t tolerated = 1 << 20;
    if (m_wasted <= m_live || m_wasted <= tolerated)
        return;
    RecordArena packed;
    for (Handle &row : held) {
        const std::byte *block = at(row).m_block;
        const size_t size = runSize(block);
        const Handle copy = packed.allocate(size);
        std::memcpy(packed.at(copy).m_block, block, size);
        packed.m_live += size;
        row = copy;
    }
    *this = std::move(packed);
}

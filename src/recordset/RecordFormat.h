#pragma once

// The byte form of a held row, shared by the row and its arena; internal to the record sets.
#include "Record.h"

#include <QStringEncoder>

#include <cstring>
#include <vector>

// A row is a run of bytes:
//   spare      1 byte: how many unused bytes follow the row, left when a shorter row was written
//              over a longer one, so that it can grow back in place
//   ordinal    unsigned LEB128
//   key        a cell
//   version    unsigned LEB128: the engine's version of the row as read
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

namespace RecordFormat {

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

inline quint64 readVarint(const std::byte *&at)
{
    quint64 value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<quint8>(*at++);
        value |= static_cast<quint64>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return value;
    }
}

inline void writeVarint(std::vector<std::byte> &out, quint64 value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<std::byte>(static_cast<quint8>(value) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::byte>(value));
}

// The fewest bytes whose sign extension gives the value back.
inline int integerBytes(qint64 value)
{
    int bytes = 0;
    while (bytes < 8) {
        const int bits = bytes * 8;
        const qint64 low = bits == 0 ? 0 : -(static_cast<qint64>(1) << (bits - 1));
        const qint64 high = bits == 0 ? 0 : (static_cast<qint64>(1) << (bits - 1)) - 1;
        if (value >= low && value <= high)
            break;
        ++bytes;
    }
    return bytes;
}

// Reads the cell at `at` and moves past it. `key` is the value a key-tagged cell stands for.
inline Cell readCell(const std::byte *&at, qint64 key)
{
    Cell cell;
    const auto tag = static_cast<quint8>(*at++);
    if (tag == static_cast<quint8>(nullTag))
        return cell;
    if (tag == static_cast<quint8>(keyTag)) {
        cell.kind = Record::Kind::Integer;
        cell.integer = key;
        return cell;
    }
    if (tag >= integerTag && tag <= integerTag + 8) {
        const int bytes = tag - integerTag;
        quint64 raw = 0;
        std::memcpy(&raw, at,
                    static_cast<size_t>(bytes)); // little-endian machines only, as the file format
        at += bytes;
        if (bytes > 0 && bytes < 8 && (raw >> (bytes * 8 - 1)) & 1)
            raw |= ~static_cast<quint64>(0) << (bytes * 8);
        cell.kind = Record::Kind::Integer;
        cell.integer = static_cast<qint64>(raw);
        return cell;
    }
    if (tag == static_cast<quint8>(realTag)) {
        std::memcpy(&cell.real, at, sizeof cell.real);
        at += sizeof cell.real;
        cell.kind = Record::Kind::Real;
        return cell;
    }
    const size_t length = tag == static_cast<quint8>(longTextTag)
                              ? static_cast<size_t>(readVarint(at))
                              : static_cast<size_t>(tag - shortTextTag);
    cell.kind = Record::Kind::Text;
    cell.text = std::string_view(reinterpret_cast<const char *>(at), length);
    at += length;
    return cell;
}

// Moves past the cell at `at` without reading its value.
inline void skipCell(const std::byte *&at)
{
    const auto tag = static_cast<quint8>(*at++);
    if (tag >= integerTag && tag <= integerTag + 8)
        at += tag - integerTag;
    else if (tag == static_cast<quint8>(realTag))
        at += sizeof(double);
    else if (tag == static_cast<quint8>(longTextTag)) {
        const quint64 length = readVarint(at);
        at += length;
    } else if (tag >= shortTextTag)
        at += tag - shortTextTag;
    // A null or a key-tagged cell is its tag alone.
}

// Where the parts of a row start.
struct Parts
{
    size_t spare = 0;
    quint32 ordinal = 0;
    qint64 key = 0;
    quint64 version = 0;
    int columns = 0;
    const std::byte *cells = nullptr;
};

inline Parts partsOf(const std::byte *block)
{
    Parts parts;
    const std::byte *at = block;
    parts.spare = static_cast<size_t>(*at++);
    parts.ordinal = static_cast<quint32>(readVarint(at));
    parts.key = readCell(at, 0).integer;
    parts.version = readVarint(at);
    parts.columns = static_cast<int>(readVarint(at));
    parts.cells = at;
    return parts;
}

inline Cell cellOf(const std::byte *block, int column)
{
    const Parts parts = partsOf(block);
    const std::byte *at = parts.cells;
    for (int i = 0; i < column; ++i)
        skipCell(at);
    return readCell(at, parts.key);
}

// Bytes the row takes, its spare room included.
inline size_t runSize(const std::byte *block)
{
    const Parts parts = partsOf(block);
    const std::byte *at = parts.cells;
    for (int i = 0; i < parts.columns; ++i)
        skipCell(at);
    return static_cast<size_t>(at - block) + parts.spare;
}

// Builds a row in a buffer the arena reuses from row to row, then copies into place.
class Encoder
{
public:
    Encoder(std::vector<std::byte> &out, quint32 ordinal, const RowId &id, int columns)
        : m_out(out), m_key(id.key)
    {
        m_out.clear();
        m_out.push_back(std::byte{0}); // no spare room
        writeVarint(m_out, ordinal);
        integer(id.key, false);
        writeVarint(m_out, id.version);
        writeVarint(m_out, static_cast<quint64>(columns));
    }

    void null() { m_out.push_back(nullTag); }

    void integer(qint64 value, bool mayBeKey = true)
    {
        if (mayBeKey && value == m_key && m_key != 0) {
            m_out.push_back(keyTag);
            return;
        }
        const int bytes = integerBytes(value);
        m_out.push_back(static_cast<std::byte>(integerTag + bytes));
        const auto raw = static_cast<quint64>(value);
        for (int i = 0; i < bytes; ++i)
            m_out.push_back(static_cast<std::byte>(quint8(raw >> (8 * i))));
    }

    void real(double value)
    {
        m_out.push_back(realTag);
        append(&value, sizeof value);
    }

    void text(std::string_view utf8)
    {
        if (utf8.size() < shortTextLimit) {
            m_out.push_back(static_cast<std::byte>(shortTextTag + utf8.size()));
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
        const size_t room = static_cast<size_t>(toUtf8.requiredSpace(utf16.size()));
        // Room for the longest tag: a marker and a length of up to five bytes.
        m_out.resize(tagAt + 6 + room);
        char *chars = reinterpret_cast<char *>(m_out.data() + tagAt + 6);
        const size_t length = static_cast<size_t>(toUtf8.appendToBuffer(chars, utf16) - chars);
        size_t tagLength = 1;
        if (length < shortTextLimit) {
            m_out[tagAt] = static_cast<std::byte>(shortTextTag + length);
        } else {
            m_out[tagAt] = longTextTag;
            std::byte *at = m_out.data() + tagAt + 1;
            for (size_t rest = length;; rest >>= 7) {
                *at++ = static_cast<std::byte>(static_cast<quint8>(rest & 0x7F) |
                                               (rest >= 0x80 ? 0x80 : 0));
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

    void value(const Value &v)
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

    void raw(const std::byte *begin, const std::byte *end)
    {
        m_out.insert(m_out.end(), begin, end);
    }

    const std::vector<std::byte> &bytes() const { return m_out; }

private:
    void append(const void *data, size_t size)
    {
        const auto *bytes = static_cast<const std::byte *>(data);
        m_out.insert(m_out.end(), bytes, bytes + size);
    }

    std::vector<std::byte> &m_out;
    qint64 m_key;
};

} // namespace RecordFormat

#pragma once

#include "platform/Sqlite.h"

#include <QString>

#include <cstddef>
#include <string_view>
#include <vector>

// One held row. A record set holds every row of its result, so a row is kept as small as its
// values allow: one run of bytes in its record set's arena, integers in as few bytes as their
// value needs, texts in UTF-8, as the engine stores them. A Record is the address of that run:
// copied freely, owned by the arena that made it.
class Record
{
public:
    enum class Kind : quint8 { Null, Integer, Real, Text };

    Record() = default;

    qint64 key() const;
    // The position in the engine's order, for going back to it.
    quint32 ordinal() const;
    int columns() const;

    Kind kind(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;
    QString text(int column) const;
    SqlValue value(int column) const;

private:
    friend class RecordArena;
    explicit Record(std::byte *block) : m_block(block) {}

    std::byte *m_block = nullptr;
};

// The memory of a record set's rows: large chunks filled one row after another. A chunk is given
// back as soon as none of its rows is held any more, so rewriting every row in order (as the age
// calculation does) keeps about one copy of the rows, and the whole arena is packed again when
// rows given up elsewhere outweigh the rows held.
class RecordArena
{
public:
    RecordArena() = default;
    RecordArena(RecordArena &&other) noexcept;
    RecordArena &operator=(RecordArena &&other) noexcept;
    RecordArena(const RecordArena &) = delete;
    RecordArena &operator=(const RecordArena &) = delete;
    ~RecordArena();

    // A row of `columns` null values.
    Record blank(int columns, quint32 ordinal);
    // The statement's columns first..first+columns-1.
    Record fromStatement(const SqliteStatement &row, int first, int columns, qint64 key,
                         quint32 ordinal);
    // The record with a key and some values replaced, the others kept. Written over the old row
    // when it fits there; otherwise the old row is given up and a new one made.
    Record replace(Record record, qint64 key, const std::vector<int> &columns,
                   const std::vector<SqlValue> &values);
    // Gives up a row that is no longer held.
    void release(Record record);

    // When rows given up in partly used chunks outweigh the rows held, moves the held rows (in
    // the order given) into fresh chunks and updates them.
    void packIfWasteful(std::vector<Record> &held);

    // Bytes taken from the system, chunk headers and free room included.
    size_t reservedBytes() const { return m_reserved; }

private:
    struct Chunk;

    std::byte *allocate(size_t bytes);
    Record write(const std::vector<std::byte> &encoded);
    void freeChunk(Chunk *chunk);
    static void unmap(Chunk *chunk);
    void clear();

    std::vector<Chunk *> m_chunks;
    Chunk *m_tail = nullptr;
    size_t m_reserved = 0;
    size_t m_live = 0;   // bytes of rows held
    size_t m_wasted = 0; // bytes of rows given up in chunks still in use
};

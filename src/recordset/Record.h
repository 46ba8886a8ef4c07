#pragma once

#include "engines/Values.h"

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
    using Kind = RowCells::Kind;

    Record() = default;

    qint64 key() const;
    // The key and the engine's version of the row as it was read or last written.
    RowId id() const;
    // The position in the engine's order, for going back to it.
    quint32 ordinal() const;
    int columns() const;

    Kind kind(int column) const;
    qint64 integer(int column) const;
    double real(int column) const;
    QString text(int column) const;
    Value value(int column) const;
    std::string_view utf8(int column) const;

private:
    friend class RecordArena;
    explicit Record(std::byte *block) : m_block(block) {}

    std::byte *m_block = nullptr;
};

// A held row lent as cells, the way an engine lends the rows it reads: what a write gives the
// engine as the row it read, to check that nobody changed it since.
class RecordCells final : public RowCells
{
public:
    explicit RecordCells(Record record) : m_record(record) {}

    Kind kind(int column) const override { return m_record.kind(column); }
    qint64 integer(int column) const override { return m_record.integer(column); }
    double real(int column) const override { return m_record.real(column); }
    std::string_view utf8(int column) const override { return m_record.utf8(column); }

private:
    Record m_record;
};

// The memory of a record set's rows: large chunks filled one row after another. A row is named by
// a four-byte handle (its chunk and its place there), half what an address takes in a list of a
// million rows. A chunk is given back as soon as none of its rows is held any more, so rewriting
// every row in order (as the age calculation does) keeps about one copy of the rows, and the whole
// arena is packed again when rows given up elsewhere outweigh the rows held.
class RecordArena
{
public:
    using Handle = quint32;

    RecordArena() = default;
    RecordArena(RecordArena &&other) noexcept;
    RecordArena &operator=(RecordArena &&other) noexcept;
    RecordArena(const RecordArena &) = delete;
    RecordArena &operator=(const RecordArena &) = delete;
    ~RecordArena();

    // The row a handle names; valid until the arena next makes, replaces or packs a row.
    Record at(Handle row) const
    {
        return Record(m_slots[row >> offsetBits] + (row & ((Handle(1) << offsetBits) - 1)));
    }

    // A row of `columns` null values.
    Handle blank(int columns, quint32 ordinal);
    // The first `columns` cells of a row read from the engine.
    Handle fromCells(const RowCells &row, int columns, const RowId &id, quint32 ordinal);
    // The row with its id and some values replaced, the others kept. Written over the old row
    // when it fits there; otherwise the old row is given up and a new one made.
    Handle replace(Handle row, const RowId &id, const std::vector<int> &columns,
                   const std::vector<Value> &values);
    // Gives up a row that is no longer held.
    void release(Handle row);

    // When rows given up in partly used chunks outweigh the rows held, moves the held rows (in
    // the order given) into fresh chunks and updates their handles.
    void packIfWasteful(std::vector<Handle> &held);

    // Bytes taken from the system, chunk headers and free room included.
    size_t reservedBytes() const { return m_reserved; }

private:
    struct Chunk;
    // A handle is a chunk's slot and the row's offset in it: 16,384 chunks of 256 KiB.
    static constexpr int offsetBits = 18;

    Handle allocate(size_t bytes);
    Handle write(const std::vector<std::byte> &encoded);
    Chunk *chunk(Handle row) const;
    void freeChunk(Chunk *chunk);
    void clear();

    std::vector<std::byte *> m_slots; // chunk starts; null where a chunk was given back
    std::vector<quint32> m_freeSlots;
    Chunk *m_tail = nullptr;
    std::vector<std::byte> m_encoded; // the row being built, before it is copied into place
    size_t m_reserved = 0;
    size_t m_live = 0;   // bytes of rows held
    size_t m_wasted = 0; // bytes of rows given up in chunks still in use
};

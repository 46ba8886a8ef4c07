#include "Record.h"

#include "RecordFormat.h"

#include <algorithm>
#include <new>

#include <sys/mman.h>

using namespace RecordFormat;

// --- RecordArena -------------------------------------------------------------------------------

// The header of a chunk, at its start. A row too large for a usual chunk gets a chunk of its own.
// Chunks are mapped from the system directly: a freed chunk goes back to it at once instead of
// staying with the process as free heap.
struct RecordArena::Chunk
{
    static constexpr size_t size = static_cast<size_t>(1) << offsetBits;

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
        constexpr size_t slots = static_cast<size_t>(1) << (32 - offsetBits);
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
            chunk->slot = static_cast<quint32>(m_slots.size());
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
    Encoder encoder(m_encoded, ordinal, RowId(), columns);
    for (int i = 0; i < columns; ++i)
        encoder.null();
    return write(encoder.bytes());
}

RecordArena::Handle RecordArena::fromCells(const RowCells &row, int columns, const RowId &id,
                                           quint32 ordinal)
{
    Encoder encoder(m_encoded, ordinal, id, columns);
    for (int i = 0; i < columns; ++i) {
        switch (row.kind(i)) {
        case RowCells::Kind::Null:
            encoder.null();
            break;
        case RowCells::Kind::Integer:
            encoder.integer(row.integer(i));
            break;
        case RowCells::Kind::Real:
            encoder.real(row.real(i));
            break;
        case RowCells::Kind::Text:
            encoder.text(row.utf8(i));
            break;
        }
    }
    return write(encoder.bytes());
}

RecordArena::Handle RecordArena::replace(Handle row, const RowId &id,
                                         const std::vector<int> &columns,
                                         const std::vector<Value> &values)
{
    std::byte *block = at(row).m_block;
    const Parts parts = partsOf(block);
    Encoder encoder(m_encoded, parts.ordinal, id, parts.columns);
    const std::byte *at = parts.cells;
    // With the same key a kept cell means the same as it stands: runs of them are copied whole.
    const bool sameKey = id.key == parts.key;
    const std::byte *kept = at;
    for (int i = 0; i < parts.columns; ++i) {
        const std::byte *start = at;
        const auto assigned = std::find(columns.begin(), columns.end(), i);
        if (assigned != columns.end()) {
            skipCell(at);
            encoder.raw(kept, start);
            encoder.value(values[static_cast<size_t>(assigned - columns.begin())]);
            kept = at;
        } else if (!sameKey) {
            encoder.cell(readCell(at, parts.key));
            kept = at;
        } else {
            skipCell(at);
        }
    }
    encoder.raw(kept, at);

    const std::vector<std::byte> &encoded = encoder.bytes();
    const size_t room = static_cast<size_t>(at - block) + parts.spare;
    if (encoded.size() > room) {
        const Handle moved = write(encoded);
        release(row);
        return moved;
    }
    // Written over the old row; room beyond what the spare byte can tell is given up.
    const size_t spare = std::min(room - encoded.size(), maxSpare);
    std::memcpy(block, encoded.data(), encoded.size());
    block[0] = static_cast<std::byte>(spare);
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

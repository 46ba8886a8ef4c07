// Inserting, editing, posting, cancelling and deleting a record.
#include "RecordSet.h"

#include "Connection.h"

#include "engines/Engine.h"
#include "engines/EngineErrors.h"

#include <optional>
#include <utility>

void RecordSet::startInserting(bool append)
{
    Settle();
    requireModifiable();
    m_rowBeforeInsert = m_current;
    const int at = append || empty() ? rowCount() : m_current;
    // The ordinal is never reused while the result is held, even after deletions: sorting finds
    // the record that was current by it.
    m_rows.insert(m_rows.begin() + at, m_arena.blank(FieldCount(), m_nextOrdinal++));
    rowsMoved();
    m_current = at;
    // Not a move: the beginning and end flags keep what they were. So a walk "until AtEnd" over
    // an empty table never visits the blank record, and one appended by Down on the last row
    // stands at the end, where Up drops it.
    dropPending();
    setState(State::Inserting);
    notify(&DataLink::dataSetChanged);
}

void RecordSet::StartInsert()
{
    startInserting(false);
}

void RecordSet::StartAppend()
{
    startInserting(true);
}

void RecordSet::StartEdit()
{
    if (isEditing())
        return;
    requireOpen();
    if (empty()) {
        StartInsert();
        return;
    }
    Settle();
    requireModifiable();
    dropPending();
    setState(State::Editing);
    notify(&DataLink::recordChanged);
}

void RecordSet::checkWritable(const Field &field)
{
    if (!isEditing())
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    if (field.ReadOnly())
        throw Error(QStringLiteral("Field '%1' cannot be modified").arg(field.DisplayName()));
}

void RecordSet::assignValue(Field &field, Value value)
{
    checkWritable(field);
    const auto at = std::find(m_assignedColumns.begin(), m_assignedColumns.end(), field.Index());
    if (at == m_assignedColumns.end()) {
        m_assignedColumns.push_back(field.Index());
        m_assignedValues.push_back(std::move(value));
    } else {
        m_assignedValues[static_cast<size_t>(at - m_assignedColumns.begin())] = std::move(value);
    }
    m_modified = true;
    notify(&DataLink::fieldChanged, field);
}

void RecordSet::PostRecord()
{
    if (!isEditing())
        fail(QStringLiteral("Dataset not in edit or insert mode"));
    notify(&DataLink::updateRecord);

    // The engine either stores the row or changes nothing and throws; in that case everything
    // stays pending so the user can correct the record and post again.
    RecordArena::Handle &row = handle(m_current);
    if (m_state == State::Inserting) {
        const qint64 key = m_source->insert(m_assignedColumns, m_assignedValues);
        const RecordArena::Handle blank = row;
        const quint32 ordinal = m_arena.at(blank).ordinal();
        // Read back, so that the record holds what the engine stored, with its version.
        const bool fetched = m_source->fetch(key, [&](const RowCells &read, const RowId &id) {
            row = m_arena.fromCells(read, FieldCount(), id, ordinal);
        });
        if (fetched)
            m_arena.release(blank);
        else
            row = m_arena.replace(row, RowId{key, 0}, m_assignedColumns, m_assignedValues);
        rowsMoved();
    } else {
        // What another computer changed meanwhile and this post kept comes back with the row
        // as stored; otherwise the record is the row as read with this post's values.
        const Record read = m_arena.at(row);
        const quint32 ordinal = read.ordinal();
        const qint64 keyAsRead = read.key();
        std::optional<RecordArena::Handle> storedRow;
        RowId stored;
        try {
            stored =
                m_source->update(read.id(), RecordCells(read), m_assignedColumns, comparedColumns(),
                                 m_assignedValues, [&](const RowCells &cells, const RowId &id) {
                                     storedRow =
                                         m_arena.fromCells(cells, FieldCount(), id, ordinal);
                                 });
        } catch (const RowChangedElsewhere &) {
            refuse(false); // nothing was read back: the engine changed nothing
        } catch (...) {
            // A commit that failed after the row was read back stored nothing.
            if (storedRow)
                m_arena.release(*storedRow);
            throw;
        }
        if (storedRow) {
            m_arena.release(row);
            row = *storedRow;
        } else {
            row = m_arena.replace(row, stored, m_assignedColumns, m_assignedValues);
        }
        if (stored.key != keyAsRead)
            rowsMoved(); // a row known by its place moved with the change
        m_connection->rowStored(*this, keyAsRead, m_current);
    }
    m_arena.packIfWasteful(m_rows);
    dropPending();
    setState(State::Browsing);
    resynchronise();
}

void RecordSet::CancelRecord()
{
    if (!isEditing())
        return;
    if (m_state == State::Inserting) {
        m_arena.release(handle(m_current));
        m_rows.erase(m_rows.begin() + m_current);
        rowsMoved();
        m_current = m_rowBeforeInsert;
    }
    dropPending();
    setState(State::Browsing);
    resynchronise();
}

void RecordSet::DeleteRecord()
{
    requireOpen();
    if (m_state == State::Inserting) {
        CancelRecord();
        return;
    }
    if (empty())
        fail(QStringLiteral("Cannot perform this operation on an empty dataset"));
    requireModifiable();
    const Record read = record(m_current);
    try {
        m_source->remove(read.id(), RecordCells(read));
    } catch (const RowChangedElsewhere &) {
        refuse(true);
    }
    const qint64 deleted = read.key();
    m_arena.release(handle(m_current));
    m_rows.erase(m_rows.begin() + m_current);
    rowsMoved();
    m_connection->rowDeleted(*this, deleted);
    m_current = std::min(m_current, rowCount() - 1);
    dropPending();
    setState(State::Browsing);
    resynchronise();
}

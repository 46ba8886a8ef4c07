#include "RecordSet.h"

#include "Connection.h"

#include "platform/Error.h"
#include "platform/Engine.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

// --- SqlLines ----------------------------------------------------------------------------------

void SqlLines::clear()
{
    if (m_lines.isEmpty())
        return;
    m_owner->setActive(false);
    m_lines.clear();
}

void SqlLines::add(const QString &line)
{
    m_owner->setActive(false);
    m_lines.append(line);
}

QString SqlLines::text() const
{
    QString text;
    for (const QString &line : m_lines)
        text += line + QLatin1String("\r\n");
    return text;
}

// --- RecordSet ---------------------------------------------------------------------------------

RecordSet::RecordSet(QString name, Connection &connection, Kind kind)
    : m_name(std::move(name)), m_connection(&connection), m_kind(kind), m_sql(*this)
{
    m_connection->attach(this);
}

RecordSet::~RecordSet()
{
    // Closing at the end drops a pending change without writing it; nobody is told any more.
    m_links.clear();
    close();
    m_connection->detach(this);
}

void RecordSet::fail(const QString &message) const
{
    throw Error(m_name + QStringLiteral(": ") + message);
}

void RecordSet::openLater()
{
    m_wanted = true;
    notify(&DataLink::stateChanged);
}

bool RecordSet::waitsToOpen() const
{
    return m_wanted && !Active() && m_connection->onServer();
}

void RecordSet::requireOpen() const
{
    if (waitsToOpen())
        throw Error(QStringLiteral("Нет связи с сервером баз данных: реестр не загружен. Когда "
                                   "сервер будет доступен, нажмите кнопку обновления (с круговой "
                                   "стрелкой): программа подключится и загрузит реестр"));
    if (!Active())
        fail(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

bool RecordSet::CanModify() const
{
    return m_source && m_source->isModifiable();
}

void RecordSet::requireModifiable() const
{
    if (!CanModify())
        fail(QStringLiteral("Cannot modify a read-only dataset"));
}

void RecordSet::DisableControls()
{
    if (m_controlsDisabled == 0 && isEditing())
        notify(&DataLink::updateRecord);
    ++m_controlsDisabled;
}

void RecordSet::EnableControls()
{
    if (m_controlsDisabled == 0 || --m_controlsDisabled > 0 || !m_missedData)
        return;
    const bool layout = std::exchange(m_missedLayout, false);
    m_missedData = false;
    notify(&DataLink::stateChanged);
    if (layout)
        notify(&DataLink::layoutChanged);
    notify(&DataLink::dataSetChanged);
}

DisabledControls::~DisabledControls()
{
    if (!m_set)
        return;
    try {
        m_set->EnableControls();
    } catch (const std::exception &) {
        // A failure is already on its way to the user.
    }
}

void DisabledControls::enable()
{
    std::exchange(m_set, nullptr)->EnableControls();
}

void RecordSet::attach(DataLink *link)
{
    m_links.add(link);
}

void RecordSet::detach(DataLink *link)
{
    m_links.remove(link);
}

void RecordSet::notifyLayoutChanged()
{
    notify(&DataLink::layoutChanged);
}

void RecordSet::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    m_modified = false;
    notify(&DataLink::stateChanged);
}

void RecordSet::dropPending()
{
    m_assignedColumns.clear();
    m_assignedValues.clear();
}

// --- opening and closing -----------------------------------------------------------------------

void RecordSet::setActive(bool active)
{
    m_wanted = active;
    if (active)
        open();
    else
        close();
}

void RecordSet::readRows(std::vector<RecordArena::Handle> &into, RecordArena &arena)
{
    const int columns = static_cast<int>(m_source->columns().size());
    quint32 ordinal = 0;
    into.reserve(m_rows.size()); // a refresh reads about as many rows as it holds
    m_source->readAll([&](const RowCells &row, const RowId &id) {
        into.push_back(arena.fromCells(row, columns, id, ordinal++));
    });
    m_nextOrdinal = ordinal;
}

void RecordSet::open()
{
    if (Active())
        return;
    Engine &engine = m_connection->engine();
    if (Active())
        return; // opened with the connection, as a record set that waited for it
    m_source = m_kind == Kind::Table ? engine.table(m_tableName) : engine.query(m_sql.text());
    std::vector<RecordArena::Handle> records;
    RecordArena arena;
    try {
        readRows(records, arena);
    } catch (...) {
        m_source.reset();
        throw;
    }
    m_rows = std::move(records);
    m_arena = std::move(arena);
    rowsMoved();
    m_writtenTable = m_source->writtenTable();
    const std::vector<SourceColumn> &columns = m_source->columns();
    for (const SourceColumn &column : columns)
        m_fields.push_back(std::make_unique<Field>(*this, FieldCount(), column));

    m_current = empty() ? -1 : 0;
    m_atBeginning = true;
    m_atEnd = empty();
    // The record set is open whatever its watchers make of it: a control that misses its field
    // fails, but every other control still learns of the state, the fields and the rows, and
    // the failure is raised at the end.
    std::exception_ptr failure;
    const auto tell = [&](auto &&step) {
        try {
            step();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    };
    tell([this] { setState(State::Browsing); });
    tell([this] { notify(&DataLink::layoutChanged); });
    tell([this] { notify(&DataLink::dataSetChanged); });
    if (failure)
        std::rethrow_exception(failure);
}

void RecordSet::close()
{
    if (!Active())
        return;
    dropPending();
    m_rows.clear();
    rowsMoved();
    m_arena = RecordArena();
    m_fields.clear();
    m_source.reset();
    m_writtenTable.clear();
    m_current = -1;
    m_atBeginning = m_atEnd = true;
    m_sortOrder.clear();
    setState(State::Closed);
    notify(&DataLink::layoutChanged);
}

// --- settling and moving -----------------------------------------------------------------------

void RecordSet::Settle()
{
    requireOpen();
    if (!isEditing())
        return;
    notify(&DataLink::updateRecord);
    if (m_modified)
        PostRecord();
    else
        CancelRecord();
}

void RecordSet::ToFirst()
{
    Settle();
    m_current = empty() ? -1 : 0;
    m_atBeginning = true;
    m_atEnd = empty();
    notify(&DataLink::dataSetChanged);
}

void RecordSet::ToNext()
{
    Settle();
    if (m_atEnd)
        return;
    if (m_current + 1 < rowCount()) {
        ++m_current;
        m_atBeginning = m_atEnd = false;
        notify(&DataLink::dataSetScrolled, 1);
    } else {
        // No move, but the flag changed: the navigator's buttons depend on it.
        m_atEnd = true;
        notify(&DataLink::dataSetScrolled, 0);
    }
}

void RecordSet::ToPrior()
{
    Settle();
    if (m_current > 0) {
        --m_current;
        m_atBeginning = m_atEnd = false;
        notify(&DataLink::dataSetScrolled, -1);
    } else if (!m_atBeginning) {
        m_atBeginning = true;
        notify(&DataLink::dataSetScrolled, 0);
    }
}

void RecordSet::ToLast()
{
    Settle();
    m_current = rowCount() - 1;
    m_atEnd = true;
    m_atBeginning = empty();
    notify(&DataLink::dataSetChanged);
}

int RecordSet::SkipBy(int distance)
{
    Settle();
    if (distance == 0)
        return 0;
    if (empty()) {
        (distance > 0 ? m_atEnd : m_atBeginning) = true;
        return 0;
    }
    const qint64 target =
        std::clamp<qint64>(static_cast<qint64>(m_current) + distance, 0, rowCount() - 1);
    const int moved = static_cast<int>(target - m_current);
    m_current = static_cast<int>(target);
    if (moved != 0)
        m_atBeginning = m_atEnd = false;
    bool flagSet = false;
    if (moved != distance) {
        bool &flag = distance > 0 ? m_atEnd : m_atBeginning;
        flagSet = !flag;
        flag = true;
    }
    if (moved != 0 || flagSet)
        notify(&DataLink::dataSetScrolled, moved);
    return moved;
}

int RecordSet::MoveTo(int row)
{
    requireOpen();
    if (row < 0 || row >= rowCount())
        return 0;
    const quint32 target = record(row).ordinal();
    Settle();
    const int at = rowOfOrdinal(target, row);
    return at < 0 ? 0 : SkipBy(at - m_current);
}

bool RecordSet::ToKey(qint64 key)
{
    requireOpen();
    Settle();
    for (int row = 0; row < rowCount(); ++row) {
        if (record(row).key() == key) {
            SkipBy(row - m_current);
            return true;
        }
    }
    return false;
}

int RecordSet::rowOfOrdinal(quint32 ordinal, int hint) const
{
    // Settling removes at most the one blank record: the target is where it was or a row up.
    for (int row : {hint, hint - 1}) {
        if (row >= 0 && row < rowCount() && record(row).ordinal() == ordinal)
            return row;
    }
    for (int row = 0; row < rowCount(); ++row) {
        if (record(row).ordinal() == ordinal)
            return row;
    }
    return -1;
}

// --- editing -----------------------------------------------------------------------------------

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
                m_source->update(read.id(), RecordCells(read), m_assignedColumns, m_assignedValues,
                                 [&](const RowCells &cells, const RowId &id) {
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

void RecordSet::resynchronise()
{
    if (empty()) {
        m_current = -1;
        m_atBeginning = m_atEnd = true;
    } else {
        m_current = std::clamp(m_current, 0, rowCount() - 1);
        m_atBeginning = m_atEnd = false;
    }
    notify(&DataLink::dataSetChanged);
}

#include "RecordSet.h"

#include "Connection.h"

#include "engines/EngineErrors.h"
#include "engines/Engine.h"

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
    m_comparedFor.clear(); // its columns may differ from the last source's
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

#pragma once

#include "DataLink.h"
#include "DataLinks.h"
#include "Field.h"
#include "Record.h"

#include "platform/Dialogs.h"
#include "engines/EngineErrors.h"
#include "engines/Values.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <vector>

class Connection;
class RecordSet;
struct OthersChanges;
class RowSource;

// The SQL text of a query record set, as a list of lines. Every change closes the query.
class SqlLines
{
public:
    explicit SqlLines(RecordSet &owner) : m_owner(&owner) {}

    void clear();
    void add(const QString &line);
    const QStringList &lines() const { return m_lines; }
    // The lines joined, each followed by a carriage return and a line feed.
    QString text() const;

private:
    RecordSet *m_owner;
    QStringList m_lines;
};

// An ordered result held whole in memory, a table or the result of an SQL text, with a cursor on
// one current record. Every cursor move first settles a pending change of the current record:
// posted when a field was assigned since editing began, dropped silently otherwise.
class RecordSet
{
public:
    enum class Kind { Table, Query };
    enum class State { Closed, Browsing, Editing, Inserting };

    RecordSet(QString name, Connection &connection, Kind kind);
    ~RecordSet();
    RecordSet(const RecordSet &) = delete;
    RecordSet &operator=(const RecordSet &) = delete;

    const QString &name() const { return m_name; }
    Connection &connection() const { return *m_connection; }
    Kind kind() const { return m_kind; }
    State state() const { return m_state; }
    bool isEditing() const { return m_state == State::Editing || m_state == State::Inserting; }

    void setTableName(const QString &table) { m_tableName = table; }
    const QString &tableName() const { return m_tableName; }
    SqlLines &SQL() { return m_sql; }

    bool Active() const { return m_state != State::Closed; }
    void setActive(bool active);
    // Opens at the next refresh (Reread), or with the first of the connection's record sets that
    // opens: the register could not be reached when it was to open. Until then every operation
    // says that the register is not connected and what to do.
    void openLater();
    bool waitsToOpen() const;

    void ToFirst();
    void ToNext();
    void ToPrior();
    void ToLast();
    int SkipBy(int distance);
    // Makes the record shown at `row` current, as a click on it does: the pending record is
    // settled first and the target found again afterwards (dropping a blank record above it
    // moves it up a row). Gives the distance moved; 0 when the target was the dropped record.
    int MoveTo(int row);
    // Makes the record with this engine key current (after settling); false when none has it.
    bool ToKey(qint64 key);
    // The engine key of the current record; 0 for none or a new one not yet posted.
    qint64 currentKey() const { return m_current < 0 ? 0 : record(m_current).key(); }
    // Posts or drops the pending record, as every move does first.
    void Settle();
    bool AtEnd() const { return m_atEnd; }
    bool AtBeginning() const { return m_atBeginning; }

    void StartInsert();
    void StartAppend();
    void StartEdit();
    void PostRecord();
    void CancelRecord();
    void DeleteRecord();
    void Reread();
    // Reads the current record again from the engine, as it is stored now; a record deleted
    // meanwhile is dropped and the cursor stands on the next one (at the end after the last).
    // False when it was dropped. Not while editing.
    bool RefreshRecord();
    bool IsModified() const { return m_modified; }

    // While controls are disabled the watchers are told nothing; when the last disabling ends
    // they are told once that the state and every record may have changed (and the layout, if
    // it did). A long run over the records, such as the age walk, so pays for one refresh
    // instead of several per record. Typed text not yet written is written first.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_controlsDisabled > 0; }

    Field &FieldNamed(const QString &name);
    Field *findField(const QString &name);
    Field &FieldAt(int index);
    int FieldCount() const { return static_cast<int>(m_fields.size()); }

    int RecordTotal() const;
    const QString &SortOrder() const { return m_sortOrder; }
    void setSortOrder(const QString &fieldName);

    // Whether the engine lets rows of this result be changed, added and deleted.
    bool CanModify() const;

    // For controls showing several rows: the rows held (a blank row being inserted included),
    // the current one's position among them, and any row's value without moving the cursor.
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    int currentRow() const { return m_current; }
    Value valueAt(int row, int column) const;
    Value currentValue(int column) const;

    void attach(DataLink *link);
    void detach(DataLink *link);

    // Carries out what the person chose about a refused change of the current record (see
    // RecordConflict). Fails as the operation it starts does, with a RecordConflict again when
    // the row changed once more.
    void resolveConflict(ConflictView::Kind kind, ConflictChoice choice);

    // Used by the connection: another record set of this program stored the row it held as
    // `keyAsRead` (now its row `row`), or deleted it. A copy of that row held here takes the
    // values stored, by column, and their version, unless it is being edited.
    void takeStoredRow(const RecordSet &from, qint64 keyAsRead, int row);
    void dropDeletedRow(const RecordSet &from, qint64 key);
    // Used by the connection: what other computers committed. Rows changed elsewhere take what
    // is stored now, rows added elsewhere appear in their place in the order shown, rows deleted
    // elsewhere go; the current record stays current. A record being edited keeps what was
    // typed and what it was read as: its post settles any conflict. A change too large to take
    // row by row reads the rows again, once no record is being edited (catchUpWithOthers).
    void takeOthersChanges(const OthersChanges &changes);
    void catchUpWithOthers();

    // Used by fields.
    void checkWritable(const Field &field);
    void assignValue(Field &field, Value value);
    void notifyLayoutChanged();

private:
    friend class SqlLines;

    [[noreturn]] void fail(const QString &message) const;
    void requireOpen() const;
    void requireModifiable() const;
    void open();
    void close();
    void setState(State state);
    void startInserting(bool append);
    void dropPending();
    // After a post, a cancel, a delete, a refresh or a sort: the flags are cleared (or both set
    // for an empty result) and the controls read everything again.
    void resynchronise();
    void readRows(std::vector<RecordArena::Handle> &into, RecordArena &arena);
    // The held row at a position of the rows shown; 0 <= row < rowCount().
    RecordArena::Handle &handle(int row) { return m_rows[static_cast<size_t>(row)]; }
    Record record(int row) const { return m_arena.at(m_rows[static_cast<size_t>(row)]); }
    void applySortOrder();
    bool empty() const { return m_rows.empty(); }
    // Where the record with this ordinal now stands, looking near `hint` first; -1 if gone.
    int rowOfOrdinal(quint32 ordinal, int hint) const;
    // What the window about a refused change of the current record shows: its values as read,
    // as stored now (none: deleted) and as typed.
    ConflictView conflictView(ConflictView::Kind kind) const;
    // The record in editing is compared from now on against the row as stored now; what was
    // typed stays pending. False when the row is gone.
    bool rebaseOnStored();
    // After the engine refused a post or deletion of the current record: throws its
    // RecordConflict, telling a deleted row from a changed one. Returns for a deletion of a row
    // already gone: what the person wanted is done.
    void refuse(bool deleting);

    // Where the record of this key stands; -1 when none is held.
    int rowOfKey(qint64 key) const;
    // The rows were added, removed or reordered: positions by key are found anew.
    void rowsMoved() { m_positionsByKey.reset(); }
    // Whether the rows of `other` are written to the same table.
    bool sharesTableWith(const RecordSet &other) const;
    // Takes the row of `key` as another computer stored it, or its deletion; false when it
    // could not (the row is held by an edit, or the source cannot read rows by key).
    void takeOthersRow(qint64 key);
    // Where a row read anew goes among the rows shown: by the sort order, else at the end.
    int placeFor(RecordArena::Handle row) const;

    template <typename Method, typename... Args> void notify(Method method, Args &&...args);

    QString m_name;
    Connection *m_connection;
    Kind m_kind;
    QString m_tableName;
    SqlLines m_sql;
    State m_state = State::Closed;
    bool m_wanted = false; // to be open: set to open, and not closed since

    std::unique_ptr<RowSource> m_source;     // while open
    QString m_writtenTable;                  // the table its rows are written to, while open
    std::vector<RecordArena::Handle> m_rows; // rows of m_arena, in the order shown
    RecordArena m_arena;
    std::vector<std::unique_ptr<Field>> m_fields;
    int m_current = -1; // -1 only in an empty result
    int m_rowBeforeInsert = -1;
    quint32 m_nextOrdinal = 0; // the position in the engine's order a new record gets
    bool m_atEnd = true;
    bool m_atBeginning = true;
    bool m_modified = false;
    QString m_sortOrder;

    // The values assigned since editing began, in the order first assigned.
    std::vector<int> m_assignedColumns;
    std::vector<Value> m_assignedValues;
    // The columns a post of the assigned ones compares with what was read: those and the ones the
    // register ties to them. Computed columns have no origin and are never compared.
    const std::vector<int> &comparedColumns() const;
    mutable std::vector<int> m_comparedFor; // the assigned columns m_compared was computed for
    mutable std::vector<int> m_compared;

    mutable std::optional<std::unordered_map<qint64, int>> m_positionsByKey;

    DataLinks m_links;
    int m_controlsDisabled = 0;
    // What the watchers missed while disabled.
    bool m_missedData = false;
    bool m_missedLayout = false;
    // Another computer changed more than can be taken row by row while a record was edited.
    bool m_othersPending = false;
};

// Defined here, since every part of the record set tells its watchers.
template <typename Method, typename... Args> void RecordSet::notify(Method method, Args &&...args)
{
    if (m_controlsDisabled > 0) {
        m_missedData = true;
        if constexpr (std::is_same_v<Method, decltype(&DataLink::layoutChanged)>)
            m_missedLayout = m_missedLayout || method == &DataLink::layoutChanged;
        return;
    }
    m_links.tell(method, std::forward<Args>(args)...);
}

// A post or deletion of a record refused because another computer changed or deleted its row
// since it was read: what to show, and the record set to resolve it on. Still a
// RowChangedElsewhere, with its message, for whoever does not ask the person.
class RecordConflict : public RowChangedElsewhere
{
public:
    RecordConflict(RecordSet &set, ConflictView view) : m_set(&set), m_view(std::move(view)) {}
    RecordSet &set() const { return *m_set; }
    const ConflictView &view() const { return m_view; }

private:
    RecordSet *m_set;
    ConflictView m_view;
};

// Disables the record set's controls for its lifetime; enable() ends it early and reports a
// failure of the controls' refresh, which the destructor, already on a failure's way, drops.
class DisabledControls
{
public:
    explicit DisabledControls(RecordSet &set) : m_set(&set) { m_set->DisableControls(); }
    ~DisabledControls();
    DisabledControls(const DisabledControls &) = delete;
    DisabledControls &operator=(const DisabledControls &) = delete;

    void enable();

private:
    RecordSet *m_set;
};

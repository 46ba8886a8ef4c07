#pragma once

#include "engines/Values.h"
#include "platform/Wait.h"

class Engine;

#include <QDateTime>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// What a register's storage must give the record sets, whichever engine keeps it: a Base.mdb file
// (SQLite) or a database on a server (PostgreSQL). Nothing above the record sets knows which.

// Asks the person at the computer for a server's password; nothing when they decline.
using PasswordPrompt = std::function<std::optional<QString>(const QString &question)>;

// How long the program waits for any answer of a server before it gives the connection up.
inline constexpr std::chrono::seconds defaultAnswerLimit{30};

// How the program reaches a register on a server beyond its connection string.
struct ServerAccess
{
    PasswordPrompt prompt;           // asked when the server wants a password no file gave
    std::optional<QString> password; // one the person already gave in this run, kept in memory
    std::chrono::seconds answerLimit = defaultAnswerLimit;
    WaitObserver waiting;
    // Told of a change the server stored although its answer was lost on the way, with the words
    // for the person: the change is saved, and the connection was made again.
    std::function<void(const QString &message)> stored;
    // Hear other computers' changes as they are committed (the program does; a tool does not).
    bool watchChanges = false;
    // The register's tables, whose description and first rows the opening reads together, so
    // that a register opens in the same few round trips whatever it holds; whether the role may
    // write is judged by the first, the people's.
    std::vector<QString> tables;
};

// Something that runs transactions: an engine, or a bare connection of the database tool.
class TransactionTarget
{
public:
    // Begins a write transaction; where the engine has a write lock, it is taken now, so that a
    // second writer waits for this one instead of interleaving with it.
    virtual void beginTransaction() = 0;
    virtual void commitTransaction() = 0;
    virtual void rollbackTransaction() = 0;

protected:
    TransactionTarget() = default;
    ~TransactionTarget() = default;
    TransactionTarget(const TransactionTarget &) = default;
    TransactionTarget &operator=(const TransactionTarget &) = default;
};

// A select is editable, on every engine, when every column that comes from a table comes from the
// same one and that table's key is among them. `tables`: the table each column comes from, empty
// for one that is computed. Gives that one table, or empty when there is none.
QString editableQueryTable(const std::vector<QString> &tables);
// Makes the select's columns that are its table's key read-only (the engine numbers the key) and
// gives the first one's place, or -1 when the key is not among them (the select is not editable).
int markKeyColumns(std::vector<SourceColumn> &columns, const std::function<bool(size_t)> &isKey);

// Every column read from the table (those with an origin), in ascending order.
std::vector<int> tableColumns(const std::vector<SourceColumn> &columns);

// A cell's value as read, to be written or compared again.
Value cellValue(const RowCells &row, int column);

// Puts a name in double quotes for SQL, doubling quotes inside it; both engines take it so.
QString quoteIdentifier(const QString &name);

// The one transaction guard, begun when made. It is committed only by commit(), whose failure
// reaches the caller; ended any other way (a failure, an early return) it is rolled back. A commit
// that fails is rolled back too, so no transaction is ever left open behind the user's back.
class Transaction
{
public:
    explicit Transaction(TransactionTarget &target);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // Commits now; fails with the engine's message, the transaction then rolled back.
    void commit();

private:
    TransactionTarget *m_target;
    bool m_open = true;
};

// The rows of a table or of a select statement, with what is needed to write them back: every row
// is identified by a key, and changes are written through that key.
//
// A write never overwrites what another computer changed since the program read the row: an update
// fails with RowChangedElsewhere when the other changed what it writes (or a column tied to it),
// and keeps any other change; a deletion fails when the row changed at all or is gone. The engine
// has then changed nothing. So two computers never overwrite each other's work without a word.
class RowSource
{
public:
    // Given one row at a time, its columns as the source's.
    using RowReader = std::function<void(const RowCells &row, const RowId &id)>;

    virtual ~RowSource() = default;

    virtual const std::vector<SourceColumn> &columns() const = 0;
    virtual bool isModifiable() const = 0;
    // The table its rows are written to, as the engine names it; empty when they are not.
    virtual QString writtenTable() const = 0;

    // Reads every row in the engine's order.
    virtual void readAll(const RowReader &reader) = 0;
    // Reads one row again; false when it no longer exists.
    virtual bool fetch(qint64 key, const RowReader &reader) = 0;

    // Writes the given columns of a row read as `read` (its id and every value as read) and gives
    // its id afterwards: the version of what is stored now, and the key, which moves with every
    // change where the row's place is its identity (a server table without a key). What another
    // computer changed since the read is kept, unless it changed one of the `compared` columns
    // (those written, and what the register ties to them): then it fails with RowChangedElsewhere.
    // When the row stored may differ from the row read with these columns written, `stored` is
    // given the row as stored, after `read` was last used (the reader may move what `read` lends).
    // Fails with the engine's message, or RowChangedElsewhere; the engine has then changed nothing.
    virtual RowId update(const RowId &id, const RowCells &read, const std::vector<int> &columns,
                         const std::vector<int> &compared, const std::vector<Value> &values,
                         const RowReader &stored) = 0;
    // Adds a row with the given columns, the others left to the table's defaults; gives its key.
    virtual qint64 insert(const std::vector<int> &columns, const std::vector<Value> &values) = 0;
    // Deletes a row read as `read`; fails as update() does.
    virtual void remove(const RowId &id, const RowCells &read) = 0;
};

// What other programs committed to the register since the engine was last asked.
struct OthersChanges
{
    struct Table
    {
        QString name;             // as the change log names it; compared without case
        std::vector<qint64> keys; // the keys of the rows changed, added or deleted
        bool whole = false;       // any row may have changed: the table is read again
    };
    std::vector<Table> tables;
    bool everything = false; // anything may have changed (no log, or notices were lost)

    bool empty() const { return tables.empty() && !everything; }
};

// The table the register keeps its change log in (made with its tables, kept by its triggers):
// where the engines read which rows other programs changed, and who changed them.
inline constexpr char changeLogTable[] = "Izmeneniya";

// Who made a change, as the change log keeps it.
struct ChangeAuthor
{
    QString computer;
    QString person;
    QDateTime at;
};

// The computer's name and the person's login, as this program writes them into the change log.
QString thisComputer();
QString thisPerson();

// One open register.
class Engine : public TransactionTarget
{
public:
    virtual ~Engine() = default;

    // All rows and columns of a table, in table order.
    virtual std::unique_ptr<RowSource> table(const QString &name) = 0;
    // The result of a select, editable where its columns come from one table with its key.
    virtual std::unique_ptr<RowSource> query(const QString &sql) = 0;

    // The data is shown, never changed: a file that cannot be written, a role that may only read.
    virtual bool isReadOnly() const = 0;
    // Where the register is, for messages: the file, or the server and its database.
    virtual QString where() const = 0;

    // The kind of network file system a file lies on; empty for a local file and for a server.
    virtual QString networkShare() const { return {}; }
    // A file on a share still in write-ahead-log mode that another copy holds: read only.
    virtual bool logInUseOnShare() const { return false; }
    // Folds a file's log into the file itself so that a copy of the file alone holds all the
    // data; false at once when another program is writing. A server has nothing to fold.
    virtual bool checkpointUnlessBusy() { return true; }

    // Begins a transaction that only reads and sees the whole register as it was at one moment,
    // whatever other computers commit meanwhile; ended by rollbackTransaction().
    virtual void beginSnapshot() { beginTransaction(); }

    // Within a transaction, lets the posts that follow go ahead of their answers: on a server
    // every answer is a round trip, and a long run of posts (the age walk) would wait for each.
    // A post refused when its answer comes is reported as a RefusedPost from a later post or from
    // settlePosts(); the transaction then holds exactly the posts before the refused one. Ends
    // with the transaction. An engine whose posts are answered at once does nothing here.
    virtual void sendPostsAhead() {}
    // Waits for the answers of every post sent ahead; fails as above.
    virtual void settlePosts() {}

    // Within a write transaction, takes a table for it alone: another computer's writes to it,
    // and its own such transactions, wait until this one ends (at most as long as any wait for
    // another computer, then they fail saying the register is busy). Where the transaction's
    // begin already locks every writer out (a file), nothing more is needed.
    virtual void takeTable(const QString &table) { (void)table; }

    // Watching what other programs change. A descriptor that becomes readable when there may be
    // news for othersChanges(); -1 when the engine is to be asked about once a second instead.
    virtual int changeSignal() { return -1; }
    // What other programs committed since the last call, never this program's own changes;
    // empty when nothing. Nothing while a transaction is open here.
    virtual OthersChanges othersChanges() { return {}; }
    // Who changed the row of `table` with `key` last, when the change log still knows.
    virtual std::optional<ChangeAuthor> lastChange(const QString &table, qint64 key)
    {
        (void)table;
        (void)key;
        return std::nullopt;
    }
    // Within a write transaction that changes many rows of `table` (the age calculation):
    // other programs are told of one change of the whole table instead of each row's.
    virtual void changeWholeTable(const QString &table) { (void)table; }
    // Runs a statement that writes (`$1`, `$2`... for the parameters), in the transaction open.
    virtual void execute(const QString &sql, const std::vector<Value> &parameters) = 0;

protected:
    Engine() = default;
};

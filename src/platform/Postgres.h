#pragma once

#include "Engine.h"
#include "Values.h"

#include <QString>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

// The result of one statement on the server; owns it.
class PgResult
{
public:
    explicit PgResult(pg_result *result = nullptr) : m_result(result) {}
    PgResult(PgResult &&other) noexcept;
    PgResult &operator=(PgResult &&other) noexcept;
    ~PgResult();

    pg_result *get() const { return m_result; }
    int rows() const;
    int columns() const;
    bool isNull(int row, int column) const;
    QString text(int row, int column) const;

private:
    pg_result *m_result;
};

// Whether a libpq connection string or URI carries a password (which never belongs on a command
// line or in a settings file: the password file, a service file or the person give it).
bool conninfoHasPassword(const QString &conninfo);

// One connection to a PostgreSQL server, by a libpq connection string or URI. Texts travel as
// UTF-8. A connection the server dropped (a restart, the network) is made again at the next
// statement; the statement that found it gone fails with a message naming the server.
class PgConnection : public TransactionTarget
{
public:
    // Connects; when the server asks for a password, `prompt` is asked for one. Fails with a
    // message naming the server (host, port, database; never a password) and its reason.
    PgConnection(const QString &conninfo, const PasswordPrompt &prompt = {});
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // "сервер «host:port», база данных «name»".
    const QString &where() const { return m_where; }

    // Runs one statement with its parameters (null for a null value) and gives its result; fails
    // with the server's message. A text of several statements is refused by the server.
    PgResult exec(const QString &sql, const std::vector<Value> &parameters = {});
    // Runs a script of several statements (a schema), without parameters.
    void execScript(const QString &sql);

    // A commit the server turned into a rollback (the transaction had failed), or one whose
    // transaction went with a lost connection, fails: nothing of it is stored.
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;
    // A read-only transaction on one snapshot of the database.
    void beginSnapshot();
    bool inTransaction() const { return m_inTransaction; }

    // Pipelined posts, within a transaction: post() sends a statement without waiting for its
    // answer, which must be exactly one changed row; answers are read as they come. A refused
    // post (an error, or no row changed) is reported as a RefusedPost naming its key, from a
    // later post() or from settle(); the transaction is then made to hold exactly the posts
    // before it (rolled back and those sent again). Any other statement settles first.
    // Runs a select and gives its rows a piece at a time (through a cursor), so that a large
    // result is never held whole beside what the caller makes of it.
    void readInPieces(const QString &sql, const std::function<void(const PgResult &)> &piece);

    // Rows sent in bulk by `COPY table (columns) FROM STDIN`: begun by beginCopy(), one row per
    // copyRow() (the values in the statement's column order), and ended by endCopy(), which fails
    // with the server's message when it refuses a row.
    void beginCopy(const QString &sql);
    void copyRow(const std::vector<Value> &row);
    void endCopy();

    void startPipeline();
    bool pipelining() const { return m_pipeline.has_value(); }
    // The id of the transaction the pipeline's posts run in: the version of every row they write.
    quint64 pipelineTransaction() const { return m_pipeline ? m_pipeline->transaction : 0; }
    void post(const QString &sql, const std::vector<Value> &parameters, qint64 key);
    void settle();

private:
    // One statement's parameters as the server takes them: texts, a null pointer for null.
    struct Parameters
    {
        explicit Parameters(const std::vector<Value> &values);
        std::vector<QByteArray> texts;
        std::vector<bool> nulls;
        std::vector<const char *> pointers() const;
    };
    struct Post
    {
        qint64 key;
        QByteArray statement; // a prepared statement's name
        Parameters parameters;
    };
    // What the pipeline still owes an answer for, in the order sent.
    struct Awaited
    {
        enum class Kind { Prepare, Post, Sync } kind;
        size_t post = 0; // the post's index, for Kind::Post
        bool answered = false;
    };
    struct Pipeline
    {
        std::vector<Post> posts; // every post since the pipeline started, to send again
        std::deque<Awaited> awaited;
        int sinceSync = 0;
        std::optional<size_t> refused; // the first post refused
        QString refusal;
        bool changedElsewhere = false; // refused because its row was not as read
        quint64 transaction = 0;
    };

    void connect();
    [[noreturn]] void fail(const QString &reason) const;
    [[noreturn]] void loseConnection();
    QByteArray prepared(const QString &sql, int parameters);
    void send(size_t post);
    // Sends what is buffered and reads what has come; with `drain`, until every answer is in.
    void pump(bool drain);
    void readAnswers();
    void resendBefore(size_t refused);
    PgResult run(const QString &sql, const std::vector<Value> &parameters, bool script);

    QString m_conninfo;
    std::optional<QString> m_password;
    pg_conn *m_conn = nullptr;
    QString m_where;
    bool m_inTransaction = false;
    std::map<QString, QByteArray> m_prepared; // statements prepared on this connection
    std::optional<Pipeline> m_pipeline;
    QByteArray m_copyBuffer;
};

// A table or a select on the server. A table is written through its one whole-number primary key,
// or, without one, through the row's physical place (which moves with every change: an update
// gives the new one). A select is editable when its columns come from one table and include that
// table's key.
class PgRowSource final : public RowSource
{
public:
    static std::unique_ptr<PgRowSource> forTable(PgConnection &db, const QString &table,
                                                 bool readOnly);
    static std::unique_ptr<PgRowSource> forQuery(PgConnection &db, const QString &sql,
                                                 bool readOnly);

    const std::vector<SourceColumn> &columns() const override { return m_columns; }
    bool isModifiable() const override { return !m_table.isEmpty() && !m_readOnly; }
    void readAll(const RowReader &reader) override;
    bool fetch(qint64 key, const RowReader &reader) override;
    RowId update(const RowId &id, const RowCells &read, const std::vector<int> &columns,
                 const std::vector<Value> &values) override;
    qint64 insert(const std::vector<int> &columns, const std::vector<Value> &values) override;
    void remove(const RowId &id, const RowCells &read) override;

private:
    PgRowSource(PgConnection &db, QString selectSql, bool readOnly);
    // The columns of the result from `first` on, but for the row version last where there is one.
    void describe(const PgResult &result, int first);
    // The key column as SQL, and the key as a parameter; with a version, also that the row is
    // still that version.
    QString keyCondition(int parameter) const;
    QString versionCondition(int parameter) const;
    Value keyParameter(qint64 key) const;
    qint64 keyOf(const PgResult &result, int row, int column) const;
    RowId idOf(const PgResult &result, int row, int keyColumn) const;
    QString selectList() const;

    PgConnection *m_db;
    QString m_selectSql;
    bool m_readOnly;
    QString m_table;     // the table written to, as SQL; empty when read-only
    QString m_keyColumn; // its key column as SQL; empty: the row's physical place
    int m_keyIndex = -1; // the result column that holds the key
    int m_dataOffset = 0;
    bool m_versioned = false; // the result's last column is the row's version (xmin)
    struct Updated
    {
        std::vector<int> columns;
        QString sql;
    } m_updated; // the UPDATE last made, for the columns it writes
    std::vector<SourceColumn> m_columns;
    std::vector<unsigned> m_types; // the server's type of each column
};

// A register on a PostgreSQL server as the register's engine.
class PostgresEngine final : public Engine
{
public:
    PostgresEngine(const QString &conninfo, const PasswordPrompt &prompt);

    PgConnection &connection() { return m_db; }

    std::unique_ptr<RowSource> table(const QString &name) override;
    std::unique_ptr<RowSource> query(const QString &sql) override;
    // The role may not change the register's people.
    bool isReadOnly() const override { return m_readOnly; }
    QString where() const override { return m_db.where(); }
    void beginTransaction() override { m_db.beginTransaction(); }
    void beginSnapshot() override { m_db.beginSnapshot(); }
    void commitTransaction() override { m_db.commitTransaction(); }
    void rollbackTransaction() override { m_db.rollbackTransaction(); }
    void sendPostsAhead() override { m_db.startPipeline(); }
    void settlePosts() override { m_db.settle(); }
    void takeTable(const QString &table) override;

private:
    PgConnection m_db;
    bool m_readOnly = false;
};

#pragma once

#include "engines/postgres/PgStatement.h"

#include "engines/Engine.h"

#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

struct pg_conn;
class ConnectionLost;

// Whether a libpq connection string or URI carries a password (which never belongs on a command
// line or in a settings file: the password file, a service file or the person give it).
bool conninfoHasPassword(const QString &conninfo);

// One connection to a PostgreSQL server, by a libpq connection string or URI. Texts travel as
// UTF-8. A connection the server dropped (a restart, the network) is made again at the next
// statement; the statement that found it gone fails with a message naming the server. No wait on
// the server lasts longer than the answer limit: past it the connection is dropped and the
// statement fails with «Нет связи с сервером…»; TCP keepalives notice a silent network sooner.
class PgConnection : public TransactionTarget
{
public:
    // Connects; when the server asks for a password, the person is asked through `access.prompt`,
    // again after a refused one, until the server takes it or they decline (PasswordDeclined).
    // Fails with a message naming the server (host, port, database; never a password), what
    // happened and what to do.
    explicit PgConnection(const QString &conninfo, ServerAccess access = {});
    PgConnection(const QString &conninfo, const PasswordPrompt &prompt);
    ~PgConnection();
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    // "сервер «host:port», база данных «name»".
    const QString &where() const { return m_where; }
    // The password the server took, when the person gave one: kept in memory only.
    const std::optional<QString> &password() const { return m_password; }

    // Statements sent together, their answers read together: one round trip for all. Each gives
    // its result or fails as exec() would, the first failure reported after all are read.
    std::vector<PgResult> execTogether(const std::vector<QString> &statements);

    // Runs one statement with its parameters (null for a null value) and gives its result; fails
    // with the server's message. A text of several statements is refused by the server.
    PgResult exec(const QString &sql, const std::vector<Value> &parameters = {});
    // Runs a script of several statements (a schema), without parameters.
    void execScript(const QString &sql);

    // A change in a transaction of its own, the statement and its COMMIT sent together. When the
    // connection goes before their answer comes, the program connects again and asks the server
    // what became of the transaction (see fateOf) before it says anything: committed, the
    // person is told so through ServerAccess::stored, and the result is that of `afterLoss` (run
    // with the transaction's row version as $1; no result when it is empty); not committed, it
    // fails saying that nothing was saved; not to be learned, it fails with OutcomeUnknown.
    // Within an open transaction it is exec(), the commit to come answering for it.
    PgResult write(const QString &sql, const std::vector<Value> &parameters,
                   const QString &afterLoss = QString());

    // What became of a transaction this program sent: asked on a connection made anew, after
    // the connection it ran on (when its backend still holds it open) is ended.
    enum class Fate { Committed, NotCommitted, Unknown };
    Fate fateOf(quint64 transaction);
    // The version a transaction gives the rows it writes (xmin): the low half of its id.
    static quint64 rowVersion(quint64 transaction) { return transaction & 0xffffffffu; }

    // A commit the server turned into a rollback (the transaction had failed), or one whose
    // transaction went with a lost connection, fails: nothing of it is stored. A COMMIT whose
    // answer is lost is settled as a write's is.
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;
    // A read-only transaction on one snapshot of the database.
    void beginSnapshot();
    bool inTransaction() const { return m_inTransaction; }
    // Other sessions' notices on the channel `reestr`, heard on this connection between
    // statements, from listen() on. `sentAlready`: the LISTEN went in a batch of the caller's.
    // A connection made again listens again at the next notices(), which then says that some
    // may have been lost; one the server closed is dropped (the next statement connects).
    struct Notice
    {
        int backend; // the server process that sent it
        QString payload;
    };
    void listen(bool sentAlready = false);
    // The server process of the session, 0 while not connected: the sender of its notices.
    int backendPid() const;
    std::vector<Notice> notices(bool &lost);
    // The connection's socket while it listens, readable when there is news; -1 otherwise.
    int listeningSocket() const;

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
    // The version of every row the pipeline's posts write: their transaction's.
    quint64 pipelineTransaction() const { return m_pipeline ? rowVersion(m_transaction) : 0; }
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
    };
    // A connection given up while its transaction was open: its backend may still hold the
    // transaction (and its locks) until it notices, so the next connection ends it.
    struct Abandoned
    {
        int backend;
        quint64 transaction;
    };

    using Clock = std::chrono::steady_clock;

    // Connects, asking for the password as the server requires; see the constructor.
    void open();
    void connect();
    // Why the connection could not be made, in the person's words.
    QString connectionFailure() const;
    // Waits until the socket is ready for `events`; false when the answer limit passed first. The
    // waiting observer hears of a wait that takes long.
    bool await(short events, bool connecting = false);
    // Reads the answers of what was sent up to the next one that is whole.
    PgResult nextResult();
    // The connection is given up after the answer limit: the next statement connects anew.
    [[noreturn]] void timedOut();
    QString refusal(const pg_result *result) const;
    [[noreturn]] void fail(const QString &reason) const;
    [[noreturn]] void loseConnection(const pg_result *result = nullptr);
    // Closes the connection; a transaction it held is noted as abandoned.
    void dropConnection();
    void reconnectIfLost();
    // A connection the server closed while it was idle (a restart) is found before anything is
    // sent on it: nothing was lost, so it is made again without a word.
    bool closedWhileIdle();
    void endAbandoned();
    // Sends the statement and COMMIT together and reads both answers.
    PgResult execThenCommit(const QString &sql, const std::vector<Value> &parameters);
    // After a lost connection's write of `transaction`: says the outcome, or fails with it.
    void settleLost(quint64 transaction, const ConnectionLost &lost);
    QByteArray prepared(const QString &sql, int parameters);
    void send(size_t post);
    // Sends what is buffered and reads what has come; with `drain`, until every answer is in.
    void pump(bool drain);
    void readAnswers();
    void resendBefore(size_t refused);
    PgResult run(const QString &sql, const std::vector<Value> &parameters, bool script,
                 bool retried = false);

    QString m_conninfo;
    ServerAccess m_access;
    bool m_listening = false;
    int m_connections = 0; // connections made, the first one 1
    int m_listeningOn = 0; // the connection that listens
    std::optional<QString> m_password;
    bool m_connected = false; // the host took the connection (it is not an address that is silent)
    bool m_timedOut = false;  // the last connection attempt ran out of time
    bool m_cancelled = false; // the person cancelled the wait that ended last
    pg_conn *m_conn = nullptr;
    QString m_where;
    bool m_inTransaction = false;
    quint64 m_transaction = 0; // the open write transaction's id (xid8); 0 when none
    std::optional<Abandoned> m_abandoned;
    int m_lockWaitSeconds = 0; // how long a statement waits for another computer's lock
    std::map<QString, QByteArray> m_prepared; // statements prepared on this connection
    std::optional<Pipeline> m_pipeline;
    QByteArray m_copyBuffer;
};

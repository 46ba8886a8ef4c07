#pragma once

#include "engines/sqlite/SqliteStatement.h"

#include "engines/Engine.h"
#include "engines/EngineErrors.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

struct sqlite3;

// One connection to a database file.
class SqliteConnection : public TransactionTarget
{
public:
    enum class Mode {
        OpenExisting, // read-write; a missing file is an error, never created
        CreateNew     // the file must not exist; it is created empty
    };

    // How long a statement waits for another process's lock before it fails.
    static constexpr int busyTimeoutMs = lockWaitSeconds * 1000;
    // Told of every wait for another program's lock on a file, as a server's waits are; it may
    // cancel the wait. One for the whole program.
    static void setWaitObserver(WaitObserver observer);

    SqliteConnection(const QString &path, Mode mode);
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;
    ~SqliteConnection();

    const QString &path() const { return m_path; }
    // True when the file or its folder cannot be written: the data is shown, never changed, and
    // nothing is created beside the file.
    bool isReadOnly() const { return m_readOnly; }
    // The kind of network file system the file lies on ("nfs", "fuse.sshfs", ...), empty when it
    // is local. On a share the file uses a rollback journal, never the write-ahead log.
    const QString &networkShare() const { return m_networkShare; }
    // Read only because the file is on a share in write-ahead-log mode and another copy of the
    // program has it open, so it could not be switched.
    bool logInUseOnShare() const { return m_logInUseOnShare; }

    // Runs one or several statements (a schema).
    void exec(const QString &sql);
    SqliteStatement prepare(const QString &sql);
    // A select of a record set: one statement, which only reads.
    SqliteStatement prepareQuery(const QString &sql);

    // BEGIN IMMEDIATE: the write lock is taken at once.
    void beginTransaction() override;
    void commitTransaction() override;
    void rollbackTransaction() override;

    bool inTransaction() const;
    // Changes whenever another connection commits a change to the file, never with this one's.
    quint64 dataVersion();
    // Writes made through this connection, so that a reader of the file can tell whether another
    // part of the program wrote since it read.
    quint64 writesMade() const { return m_writesMade; }
    void countWrite() { ++m_writesMade; }

    qint64 lastInsertRowId() const;
    int changes() const;
    QString lastError() const;

    // Copies every committed change from the write-ahead log into the database file itself,
    // so that a copy of the file alone holds all the data.
    void checkpoint();
    // The same, but false at once when another connection is writing, instead of waiting.
    bool checkpointWithoutWaiting();

    sqlite3 *handle() const { return m_db; }

private:
    // False when a file on a share is in write-ahead-log mode and another connection has it.
    bool configure();
    // SQLite's busy handler: waits for the lock in short sleeps up to the limit, telling the
    // wait observer, which may cancel it. `count` is the number of times called in this wait.
    static int waitForLock(void *connection, int count);
    void setBusyWait(bool wait);
    bool inWriteAheadLogMode() const;

    QString m_path;
    QString m_networkShare;
    sqlite3 *m_db = nullptr;
    bool m_readOnly = false;
    bool m_logInUseOnShare = false;
    SqliteStatement m_dataVersion;
    std::optional<quint64> m_versionWhileWriting; // within a transaction begun here
    quint64 m_writesMade = 0;
    std::chrono::steady_clock::time_point m_busySince;
};

// Makes sure the SQLite library can be used: it initialises and is recent enough. Fails with
// "Error creating object. ..." otherwise, which ends the program's start-up.
void initializeEngine();

// SQLite's failure on `db` as a message (its own `text` when it gave one apart): a full disk and a
// busy file in the program's words.
QString engineMessage(sqlite3 *db, const char *text = nullptr);

// True when the file starts with the header of a Microsoft Jet or ACE (Access) database.
bool isJetDatabaseFile(const QString &path);

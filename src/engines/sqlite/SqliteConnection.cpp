#include "engines/sqlite/SqliteConnection.h"

#include "platform/FileSystems.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QFileInfo>

#include <QUrl>

#include <sqlite3.h>

#include <cerrno>
#include <unistd.h>

namespace {

// The last wait for another program's lock was cancelled by the person (all waits run on the
// thread of the windows).
thread_local bool busyWaitCancelled = false;

WaitObserver &waitObserver()
{
    static WaitObserver observer;
    return observer;
}

} // namespace

void SqliteConnection::setWaitObserver(WaitObserver observer)
{
    waitObserver() = std::move(observer);
}

int SqliteConnection::waitForLock(void *connection, int count)
{
    using namespace std::chrono;
    auto *self = static_cast<SqliteConnection *>(connection);
    if (count == 0) {
        self->m_busySince = steady_clock::now();
        busyWaitCancelled = false;
    }
    Wait wait{Files::shownPath(self->m_path), Wait::For::File,
              duration_cast<milliseconds>(steady_clock::now() - self->m_busySince),
              milliseconds(busyTimeoutMs)};
    const WaitObserver &observer = waitObserver();
    const auto end = [&] {
        if (observer && wait.waited >= 100ms) {
            wait.waited = 0ms;
            observer(wait);
        }
        return 0;
    };
    if (wait.waited >= wait.limit)
        return end();
    if (observer && wait.waited >= 100ms && !observer(wait)) {
        busyWaitCancelled = true;
        return end();
    }
    sqlite3_sleep(20);
    return 1;
}

void SqliteConnection::setBusyWait(bool wait)
{
    if (wait)
        sqlite3_busy_handler(m_db, &SqliteConnection::waitForLock, this);
    else
        sqlite3_busy_timeout(m_db, 0);
}

// The one place an engine failure becomes a message, for statements and for plain executions
// alike (a transaction's COMMIT is one): `text` is the engine's own, when it gave one apart.
QString engineMessage(sqlite3 *db, const char *text)
{
    // A full disk shows in many guises (an I/O error on the shared-memory file, for one): the
    // operating system's code tells it apart.
    if (sqlite3_errcode(db) == SQLITE_FULL || sqlite3_system_errno(db) == ENOSPC)
        return QStringLiteral("на диске нет свободного места");
    // Another program held the file longer than the busy timeout, or the person stopped waiting.
    if ((sqlite3_errcode(db) & 0xFF) == SQLITE_BUSY)
        return busyWaitCancelled ? QStringLiteral("Ожидание отменено: файл реестра занят другой "
                                                  "программой, и ничего не сохранено. Повторите "
                                                  "действие немного позже")
                                 : RegisterBusy().message();
    return QString::fromUtf8(text ? text : sqlite3_errmsg(db));
}

namespace {

// SQLite takes an empty file for an empty database and would write a header into it: only a file
// that already starts as a database is opened.
bool hasDatabaseHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(16) == QByteArray("SQLite format 3", 16);
}

bool writable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

} // namespace

namespace {

// The engine's settings for the whole process, made before its first use: no statistics of its
// memory, which would take a lock around every allocation.
void configureEngineOnce()
{
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    (void)configured;
}

// Creating the file ourselves with O_EXCL makes "never overwrite" hold even against a file that
// appears between a check and the open.
void createEmptyFile(const QString &path, const QString &shown)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        throw Error(QFileInfo::exists(path) ? QStringLiteral("Файл «%1» уже существует.").arg(shown)
                                            : QStringLiteral("Не удается создать файл «%1»: %2.")
                                                  .arg(shown, file.errorString()));
    }
}

// Refuses what is not a register's database file, before any statement that could write.
void requireDatabaseFile(const QString &path, const QString &shown)
{
    if (!QFileInfo(path).isFile()) {
        throw Error(QStringLiteral("Файл базы данных «%1» не найден. Создайте реестр, "
                                   "выполнив в этой папке команду reestr-db init, или "
                                   "перенесите базу старой программы командой "
                                   "reestr-db import СТАРЫЙ.mdb")
                        .arg(shown));
    }
    if (isJetDatabaseFile(path)) {
        throw Error(QStringLiteral("Файл «%1» — база данных Access старого формата. "
                                   "Преобразуйте её, выполнив в этой папке команду: "
                                   "reestr-db import %2")
                        .arg(shown, QFileInfo(path).fileName()));
    }
    if (QFileInfo(path).size() == 0)
        throw Error(QStringLiteral("Файл «%1» пуст: это не база данных").arg(shown));
    if (!hasDatabaseHeader(path))
        throw Error(QStringLiteral("Файл «%1» не является базой данных").arg(shown));
}

} // namespace

SqliteConnection::SqliteConnection(const QString &path, Mode mode) : m_path(path)
{
    configureEngineOnce();
    const QString shown = Files::shownPath(path);
    QByteArray name = path.toUtf8();
    int flags = SQLITE_OPEN_READWRITE;
    if (mode == Mode::CreateNew) {
        createEmptyFile(path, shown);
    } else {
        requireDatabaseFile(path, shown);
        // The write-ahead log lives beside the file: the folder must be writable too.
        const QString folder = QFileInfo(path).absolutePath();
        if (!writable(path) || !writable(folder)) {
            m_readOnly = true;
            flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
            // Without a log of another writer nothing needs to be shared: opened as immutable,
            // the engine creates no files beside it. With one, it is read through its index.
            const bool otherWriter = QFileInfo::exists(path + QStringLiteral("-wal"));
            name = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded() +
                   (otherWriter ? QByteArray("?mode=ro") : QByteArray("?immutable=1"));
        }
    }

    m_networkShare = networkFileSystem(path);

    // A connection is used by one thread only: the engine need not lock it at every call.
    int rc = sqlite3_open_v2(name.constData(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    try {
        if (rc != SQLITE_OK)
            throw Error(m_db ? engineMessage(m_db) : QStringLiteral("out of memory"));
        if (!configure()) {
            // On a share, a file in write-ahead-log mode that another copy has open cannot be
            // switched: it is read only, and nothing of it is changed.
            sqlite3_close(m_db);
            m_db = nullptr;
            m_readOnly = m_logInUseOnShare = true;
            name = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded() +
                   QByteArray("?mode=ro");
            rc = sqlite3_open_v2(name.constData(), &m_db,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
            if (rc != SQLITE_OK)
                throw Error(m_db ? engineMessage(m_db) : QStringLiteral("out of memory"));
            configure();
        }
    } catch (const Error &e) {
        sqlite3_close(m_db);
        m_db = nullptr;
        // A file this constructor created is not left behind, empty or half made.
        if (mode == Mode::CreateNew)
            Files::removeDatabase(path);
        throw Error(
            QStringLiteral("Не удается открыть базу данных «%1»: %2").arg(shown, e.message()));
    }
}

SqliteConnection::~SqliteConnection()
{
    sqlite3_close_v2(m_db);
}

bool SqliteConnection::configure()
{
    setBusyWait(true);
    sqlite3_extended_result_codes(m_db, 1);
    // A file already in write-ahead-log mode on a share is switched before its log's index is
    // ever mapped: in exclusive locking mode the engine keeps that index in its own memory.
    const bool switchOnShare = !m_readOnly && !m_networkShare.isEmpty() && inWriteAheadLogMode();
    if (switchOnShare)
        exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE"));
    // Reading the schema is the first access to the file: a file that is not a database, or one
    // that another program holds locked, is reported here rather than at the first query.
    try {
        prepare(QStringLiteral("SELECT count(*) FROM sqlite_schema")).step();
    } catch (const Error &) {
        if (switchOnShare && (sqlite3_errcode(m_db) & 0xFF) == SQLITE_BUSY)
            return false; // another copy has it open
        throw;
    }
    if (m_readOnly)
        return true; // nothing may be written, not even the journal mode
    if (!m_networkShare.isEmpty()) {
        // The write-ahead log keeps its index in memory shared between the programs that use the
        // file, which computers on a network do not share: a share gets the rollback journal,
        // with every commit on the share's disk before it returns.
        SqliteStatement mode = prepare(QStringLiteral("PRAGMA journal_mode=DELETE"));
        if (!mode.step() || mode.columnText(0) != QLatin1String("delete"))
            return false;
        exec(QStringLiteral("PRAGMA synchronous=FULL"));
        if (switchOnShare) {
            exec(QStringLiteral("PRAGMA locking_mode=NORMAL"));
            // The exclusive lock goes with the next access.
            prepare(QStringLiteral("SELECT count(*) FROM sqlite_schema")).step();
        }
        exec(QStringLiteral("PRAGMA cache_size=-512"));
        return true;
    }
    // A write-ahead log lets a second copy of the program read and write the same file at the
    // same time; a commit is on disk before the post returns, and the log is folded back into
    // the file at checkpoints and when the last connection closes.
    prepare(QStringLiteral("PRAGMA journal_mode=WAL")).step();
    exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    // The file is read through the engine's own small cache, not a memory map: tables are read
    // whole into the record sets, and a mapped file would count all its pages as the program's
    // memory; the cache serves the writes and single-row lookups.
    exec(QStringLiteral("PRAGMA cache_size=-512"));
    return true;
}

bool SqliteConnection::inWriteAheadLogMode() const
{
    // Bytes 18 and 19 of the header are the file format versions: 2 for write-ahead logging.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(20);
    return head.size() == 20 && head[18] == 2;
}

void SqliteConnection::exec(const QString &sql)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        Error error(engineMessage(m_db, message));
        sqlite3_free(message);
        throw error;
    }
}

SqliteStatement SqliteConnection::prepare(const QString &sql)
{
    return SqliteStatement(m_db, sql);
}

SqliteStatement SqliteConnection::prepareQuery(const QString &sql)
{
    return SqliteStatement(m_db, sql, SqliteStatement::Only::OneQuery);
}

bool SqliteConnection::inTransaction() const
{
    return sqlite3_get_autocommit(m_db) == 0;
}

quint64 SqliteConnection::dataVersion()
{
    if (m_versionWhileWriting)
        return *m_versionWhileWriting;
    if (!m_dataVersion.isValid())
        m_dataVersion = prepare(QStringLiteral("PRAGMA data_version"));
    m_dataVersion.step();
    const auto version = static_cast<quint64>(m_dataVersion.columnInt64(0));
    m_dataVersion.reset();
    return version;
}

qint64 SqliteConnection::lastInsertRowId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

int SqliteConnection::changes() const
{
    return sqlite3_changes(m_db);
}

QString SqliteConnection::lastError() const
{
    return engineMessage(m_db);
}

bool SqliteConnection::checkpointWithoutWaiting()
{
    setBusyWait(false);
    const int rc =
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    setBusyWait(true);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
        return false;
    if (rc != SQLITE_OK)
        throw Error(engineMessage(m_db));
    return true;
}

void SqliteConnection::checkpoint()
{
    int logged = 0;
    int written = 0;
    if (sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, &logged, &written) !=
        SQLITE_OK) {
        throw Error(engineMessage(m_db));
    }
    if (logged != written)
        throw Error(QStringLiteral("не все изменения перенесены из журнала в файл"));
}

void SqliteConnection::beginTransaction()
{
    exec(QStringLiteral("BEGIN IMMEDIATE"));
    // Nobody else can commit while this transaction holds the write lock.
    m_versionWhileWriting.reset();
    m_versionWhileWriting = dataVersion();
}

void SqliteConnection::commitTransaction()
{
    m_versionWhileWriting.reset();
    exec(QStringLiteral("COMMIT"));
}

void SqliteConnection::rollbackTransaction()
{
    m_versionWhileWriting.reset();
    exec(QStringLiteral("ROLLBACK"));
}

void initializeEngine()
{
    // 3.33 names the schema table sqlite_schema.
    constexpr int oldestUsable = 3033000;
    configureEngineOnce();
    if (sqlite3_initialize() != SQLITE_OK || sqlite3_libversion_number() < oldestUsable) {
        throw Error(QStringLiteral("Error creating object.  Please verify that the SQLite library "
                                   "3.33 (or later) has been properly installed"));
    }
}

bool isJetDatabaseFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(20);
    return head.size() == 20 &&
           (head.mid(4, 15) == "Standard Jet DB" || head.mid(4, 15) == "Standard ACE DB");
}

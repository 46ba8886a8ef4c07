#include "Sqlite.h"

#include "FileSystems.h"
#include "Files.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QFileInfo>

#include <QUrl>

#include <sqlite3.h>

#include <cerrno>
#include <unistd.h>

namespace {

// The one place an engine failure becomes a message, for statements and for plain executions
// alike (a transaction's COMMIT is one): `text` is the engine's own, when it gave one apart.
QString engineMessage(sqlite3 *db, const char *text = nullptr)
{
    // A full disk shows in many guises (an I/O error on the shared-memory file, for one): the
    // operating system's code tells it apart.
    if (sqlite3_errcode(db) == SQLITE_FULL || sqlite3_system_errno(db) == ENOSPC)
        return QStringLiteral("на диске нет свободного места");
    // Another program held the file longer than the busy timeout.
    if ((sqlite3_errcode(db) & 0xFF) == SQLITE_BUSY)
        return RegisterBusy().message();
    return QString::fromUtf8(text ? text : sqlite3_errmsg(db));
}

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

// --- SqliteStatement ---------------------------------------------------------------------------

SqliteStatement::SqliteStatement(sqlite3 *db, const QString &sql) : m_db(db)
{
    const QByteArray utf8 = sql.toUtf8();
    if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &m_stmt, nullptr) !=
        SQLITE_OK)
        fail();
    if (!m_stmt) // an empty text or only a comment
        throw Error(QStringLiteral("SQL text is empty"));
}

SqliteStatement::SqliteStatement(sqlite3 *db, const QString &sql, Only) : m_db(db)
{
    const QByteArray utf8 = sql.toUtf8();
    const char *tail = nullptr;
    if (sqlite3_prepare_v2(db, utf8.constData(), static_cast<int>(utf8.size()), &m_stmt, &tail) !=
        SQLITE_OK)
        fail();
    if (!m_stmt)
        throw Error(QStringLiteral("SQL text is empty"));
    // What follows the first statement must be blanks and comments only: preparing the rest
    // gives no statement then.
    sqlite3_stmt *second = nullptr;
    const int rest = static_cast<int>(utf8.constData() + utf8.size() - tail);
    const bool more = sqlite3_prepare_v2(db, tail, rest, &second, nullptr) != SQLITE_OK || second;
    sqlite3_finalize(second);
    const bool writes = !sqlite3_stmt_readonly(m_stmt);
    if (more || writes) {
        // A constructor that throws has no destructor to finalise the statement.
        sqlite3_finalize(std::exchange(m_stmt, nullptr));
        throw Error(more ? QStringLiteral("Текст запроса содержит больше одной команды SQL")
                         : QStringLiteral("Запрос должен только читать данные, а не изменять их"));
    }
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_db(std::exchange(other.m_db, nullptr)), m_stmt(std::exchange(other.m_stmt, nullptr))
{}

SqliteStatement &SqliteStatement::operator=(SqliteStatement &&other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_db = std::exchange(other.m_db, nullptr);
        m_stmt = std::exchange(other.m_stmt, nullptr);
    }
    return *this;
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

void SqliteStatement::fail() const
{
    throw Error(engineMessage(m_db));
}

void SqliteStatement::bind(int index, const SqlValue &value)
{
    int rc = SQLITE_OK;
    if (std::holds_alternative<std::monostate>(value)) {
        rc = sqlite3_bind_null(m_stmt, index);
    } else if (auto i = std::get_if<qint64>(&value)) {
        rc = sqlite3_bind_int64(m_stmt, index, *i);
    } else if (auto d = std::get_if<double>(&value)) {
        rc = sqlite3_bind_double(m_stmt, index, *d);
    } else {
        // In the file's own encoding, so the engine need not convert it; a short text is
        // converted on the stack (the engine copies it).
        const QString &text = std::get<QString>(value);
        QStringEncoder toUtf8(QStringEncoder::Utf8);
        char buffer[768];
        if (toUtf8.requiredSpace(text.size()) <= static_cast<qsizetype>(sizeof buffer)) {
            const char *end = toUtf8.appendToBuffer(buffer, text);
            rc = sqlite3_bind_text(m_stmt, index, buffer, static_cast<int>(end - buffer),
                                   SQLITE_TRANSIENT);
        } else {
            const QByteArray utf8 = text.toUtf8();
            rc = sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()),
                                   SQLITE_TRANSIENT);
        }
    }
    if (rc != SQLITE_OK)
        fail();
}

void SqliteStatement::bindInt64(int index, qint64 value)
{
    if (sqlite3_bind_int64(m_stmt, index, value) != SQLITE_OK)
        fail();
}

void SqliteStatement::bindBlob(int index, const QByteArray &bytes)
{
    if (sqlite3_bind_blob64(m_stmt, index, bytes.constData(), sqlite3_uint64(bytes.size()),
                            SQLITE_TRANSIENT) != SQLITE_OK)
        fail();
}

void SqliteStatement::bindCell(int index, const RowCells &row, int column)
{
    int rc = SQLITE_OK;
    switch (row.kind(column)) {
    case RowCells::Kind::Null:
        rc = sqlite3_bind_null(m_stmt, index);
        break;
    case RowCells::Kind::Integer:
        rc = sqlite3_bind_int64(m_stmt, index, row.integer(column));
        break;
    case RowCells::Kind::Real:
        rc = sqlite3_bind_double(m_stmt, index, row.real(column));
        break;
    case RowCells::Kind::Text: {
        const std::string_view text = row.utf8(column);
        rc = sqlite3_bind_text(m_stmt, index, text.data(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT);
        break;
    }
    }
    if (rc != SQLITE_OK)
        fail();
}

bool SqliteStatement::step()
{
    switch (sqlite3_step(m_stmt)) {
    case SQLITE_ROW:
        return true;
    case SQLITE_DONE:
        return false;
    default: {
        // Keep the message before reset() replaces it, and leave the statement reusable.
        Error error(engineMessage(m_db));
        sqlite3_reset(m_stmt);
        throw error;
    }
    }
}

void SqliteStatement::run()
{
    while (step()) {
    }
    reset();
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

int SqliteStatement::columnCount() const
{
    return sqlite3_column_count(m_stmt);
}

SqliteStatement::Type SqliteStatement::columnType(int column) const
{
    switch (sqlite3_column_type(m_stmt, column)) {
    case SQLITE_INTEGER:
        return Type::Integer;
    case SQLITE_FLOAT:
        return Type::Real;
    case SQLITE_TEXT:
        return Type::Text;
    case SQLITE_BLOB:
        return Type::Blob;
    default:
        return Type::Null;
    }
}

qint64 SqliteStatement::columnInt64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::columnDouble(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

std::u16string_view SqliteStatement::columnText16(int column) const
{
    auto chars = static_cast<const char16_t *>(sqlite3_column_text16(m_stmt, column));
    const int bytes = sqlite3_column_bytes16(m_stmt, column);
    return chars ? std::u16string_view(chars, static_cast<size_t>(bytes) / sizeof(char16_t))
                 : std::u16string_view();
}

std::string_view SqliteStatement::columnUtf8(int column) const
{
    auto chars = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, column));
    const int bytes = sqlite3_column_bytes(m_stmt, column);
    return chars ? std::string_view(chars, static_cast<size_t>(bytes)) : std::string_view();
}

QString SqliteStatement::columnText(int column) const
{
    const std::u16string_view text = columnText16(column);
    return QString(reinterpret_cast<const QChar *>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

SqlValue SqliteStatement::columnValue(int column) const
{
    switch (columnType(column)) {
    case Type::Null:
        return std::monostate{};
    case Type::Integer:
        return columnInt64(column);
    case Type::Real:
        return columnDouble(column);
    case Type::Text:
    case Type::Blob:
        break;
    }
    return columnText(column);
}

QString SqliteStatement::columnName(int column) const
{
    return QString::fromUtf8(sqlite3_column_name(m_stmt, column));
}

QString SqliteStatement::columnDeclaredType(int column) const
{
    return QString::fromUtf8(sqlite3_column_decltype(m_stmt, column));
}

QString SqliteStatement::columnTable(int column) const
{
    return QString::fromUtf8(sqlite3_column_table_name(m_stmt, column));
}

QString SqliteStatement::columnOrigin(int column) const
{
    return QString::fromUtf8(sqlite3_column_origin_name(m_stmt, column));
}

// --- SqliteConnection --------------------------------------------------------------------------

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

} // namespace

SqliteConnection::SqliteConnection(const QString &path, Mode mode) : m_path(path)
{
    configureEngineOnce();
    const QString shown = Files::shownPath(path);
    QByteArray name = path.toUtf8();
    int flags = SQLITE_OPEN_READWRITE;
    if (mode == Mode::CreateNew) {
        // Creating the file ourselves with O_EXCL makes "never overwrite" hold even against a
        // file that appears between a check and the open.
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            throw Error(QFileInfo::exists(path)
                            ? QStringLiteral("Файл «%1» уже существует.").arg(shown)
                            : QStringLiteral("Не удается создать файл «%1»: %2.")
                                  .arg(shown, file.errorString()));
        }
    } else {
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
        // Checked before any statement that could write.
        if (QFileInfo(path).size() == 0)
            throw Error(QStringLiteral("Файл «%1» пуст: это не база данных").arg(shown));
        if (!hasDatabaseHeader(path))
            throw Error(QStringLiteral("Файл «%1» не является базой данных").arg(shown));
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
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
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
    sqlite3_busy_timeout(m_db, 0);
    const int rc =
        sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_timeout(m_db, busyTimeoutMs);
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

RowCells::Kind StatementCells::kind(int column) const
{
    switch (m_statement.columnType(column + m_first)) {
    case SqliteStatement::Type::Null:
        return Kind::Null;
    case SqliteStatement::Type::Integer:
        return Kind::Integer;
    case SqliteStatement::Type::Real:
        return isSizeOnly(column) ? Kind::Integer : Kind::Real;
    case SqliteStatement::Type::Text:
    case SqliteStatement::Type::Blob:
        if (isSizeOnly(column))
            return Kind::Integer;
        break;
    }
    return Kind::Text;
}

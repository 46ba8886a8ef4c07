#include "JetImport.h"

#include "platform/Sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <mdbtools.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <vector>

namespace JetImport {

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int)
{
    g_interrupted = true;
}

// Ctrl+C and termination end the copy at the next row, which then cleans up after itself.
class InterruptGuard
{
public:
    InterruptGuard()
    {
        g_interrupted = false;
        struct sigaction action = {};
        action.sa_handler = onInterrupt;
        sigaction(SIGINT, &action, &m_int);
        sigaction(SIGTERM, &action, &m_term);
    }
    ~InterruptGuard()
    {
        sigaction(SIGINT, &m_int, nullptr);
        sigaction(SIGTERM, &m_term, nullptr);
    }

private:
    struct sigaction m_int = {};
    struct sigaction m_term = {};
};

struct MdbDeleter
{
    void operator()(MdbHandle *mdb) const { mdb_close(mdb); }
};
struct TableDeleter
{
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};

QString typeName(int type)
{
    switch (type) {
    case MDB_MONEY:
        return QStringLiteral("Currency");
    case MDB_DATETIME:
        return QStringLiteral("Date/Time");
    case MDB_BINARY:
        return QStringLiteral("Binary");
    case MDB_OLE:
        return QStringLiteral("OLE Object");
    case MDB_REPID:
        return QStringLiteral("Replication ID");
    case MDB_NUMERIC:
        return QStringLiteral("Decimal");
    case MDB_COMPLEX:
        return QStringLiteral("Attachment");
    default:
        return QStringLiteral("type %1").arg(type);
    }
}

struct ColumnPlan
{
    MdbColumn *column;
    QString name;
    QString declaration; // the SQL type, with the key clause where it applies
};

struct TablePlan
{
    std::unique_ptr<MdbTableDef, TableDeleter> table;
    QString name;
    std::vector<ColumnPlan> columns;
};

// The auto-numbered key: a Long Integer that is numbered by Access, or the one column of the
// primary key.
int keyColumnOf(MdbTableDef *table)
{
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto *column = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
        if (column->is_long_auto)
            return int(i);
    }
    mdb_read_indices(table);
    for (unsigned i = 0; table->indices && i < table->indices->len; ++i) {
        auto *index = static_cast<MdbIndex *>(g_ptr_array_index(table->indices, i));
        if (QLatin1String(index->name) == QLatin1String("PrimaryKey") && index->num_keys == 1) {
            const int column = index->key_col_num[0] - 1;
            auto *key = static_cast<MdbColumn *>(g_ptr_array_index(table->columns, column));
            if (key->col_type == MDB_LONGINT)
                return column;
        }
    }
    return -1;
}

TablePlan planTable(MdbHandle *mdb, MdbCatalogEntry *entry)
{
    TablePlan plan;
    plan.name = QString::fromUtf8(entry->object_name);
    plan.table.reset(mdb_read_table(entry));
    if (!plan.table)
        throw Error(QStringLiteral("Таблица «%1» не читается: файл повреждён").arg(plan.name));
    mdb_read_columns(plan.table.get());
    const bool jet4 = mdb->f->jet_version != MDB_VER_JET3;
    const int key = keyColumnOf(plan.table.get());
    for (unsigned i = 0; i < plan.table->num_cols; ++i) {
        auto *column = static_cast<MdbColumn *>(g_ptr_array_index(plan.table->columns, i));
        ColumnPlan c{column, QString::fromUtf8(column->name), QString()};
        switch (column->col_type) {
        case MDB_TEXT:
            // Jet 4 gives text sizes in bytes of UTF-16.
            c.declaration =
                QStringLiteral("VARCHAR(%1)").arg(jet4 ? column->col_size / 2 : column->col_size);
            break;
        case MDB_MEMO:
            c.declaration = QStringLiteral("TEXT");
            break;
        case MDB_LONGINT:
            c.declaration = int(i) == key ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                                          : QStringLiteral("INTEGER");
            break;
        case MDB_INT:
        case MDB_BOOL: // Yes/No as Access counts it: -1 and 0
            c.declaration = QStringLiteral("SMALLINT");
            break;
        case MDB_BYTE:
            c.declaration = QStringLiteral("TINYINT");
            break;
        case MDB_FLOAT:
            c.declaration = QStringLiteral("REAL");
            break;
        case MDB_DOUBLE:
            c.declaration = QStringLiteral("DOUBLE");
            break;
        default:
            throw Error(
                QStringLiteral(
                    "Таблица «%1», столбец «%2»: тип %3 программа не хранит; импорт остановлен")
                    .arg(plan.name, c.name, typeName(column->col_type)));
        }
        plan.columns.push_back(std::move(c));
    }
    return plan;
}

// The value of one field of the row just fetched, NULL told apart from an empty text.
SqlValue valueOf(MdbHandle *mdb, const MdbColumn &column, const MdbField &field)
{
    if (column.col_type == MDB_BOOL) // the null bit holds a Yes/No value
        return qint64(field.is_null ? 0 : -1);
    if (field.is_null)
        return std::monostate{};
    switch (column.col_type) {
    case MDB_LONGINT:
        return qint64(qint32(mdb_get_int32(mdb->pg_buf, field.start)));
    case MDB_INT:
        return qint64(qint16(mdb_get_int16(mdb->pg_buf, field.start)));
    case MDB_BYTE:
        return qint64(mdb_get_byte(mdb->pg_buf, field.start));
    case MDB_FLOAT:
        return double(mdb_get_single(mdb->pg_buf, field.start));
    case MDB_DOUBLE:
        return mdb_get_double(mdb->pg_buf, field.start);
    default: {
        char *text = mdb_col_to_string(mdb, mdb->pg_buf, field.start, column.col_type, field.siz);
        QString value = QString::fromUtf8(text ? text : "");
        g_free(text);
        return value;
    }
    }
}

qint64 copyRows(MdbHandle *mdb, TablePlan &plan, SqliteConnection &db, const Progress &progress)
{
    QStringList names;
    QStringList marks;
    for (const ColumnPlan &c : plan.columns) {
        names << quoteIdentifier(c.name);
        marks << QStringLiteral("?");
    }
    SqliteStatement insert =
        db.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                       .arg(quoteIdentifier(plan.name), names.join(QStringLiteral(", ")),
                            marks.join(QStringLiteral(", "))));
    MdbTableDef *table = plan.table.get();
    std::vector<MdbField> fields(table->num_cols + 1);
    const qint64 total = table->num_rows;
    qint64 rows = 0;
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
        if (g_interrupted)
            throw Error(QStringLiteral("Импорт прерван"));
        // The usual binding shows NULL and an empty text alike: read the row's own null flags.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, int(table->cur_row) - 1, &start, &size) != 0)
            throw Error(
                QStringLiteral("Таблица «%1»: строка %2 не читается").arg(plan.name).arg(rows + 1));
        const int count = mdb_crack_row(table, start & 0x1fff, size, fields.data());
        if (count < int(table->num_cols))
            throw Error(
                QStringLiteral("Таблица «%1»: строка %2 не читается").arg(plan.name).arg(rows + 1));
        for (int i = 0; i < int(table->num_cols); ++i) {
            const MdbField &field = fields[size_t(i)];
            const auto *column =
                static_cast<MdbColumn *>(g_ptr_array_index(table->columns, field.colnum));
            insert.bind(field.colnum + 1, valueOf(mdb, *column, field));
        }
        insert.run();
        ++rows;
        if (progress && rows % 1000 == 0)
            progress(plan.name, rows, total);
    }
    if (progress)
        progress(plan.name, rows, total);
    return rows;
}

void removeDatabaseFiles(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm", "-journal"})
        QFile::remove(path + QLatin1String(suffix));
}

} // namespace

QList<TableSummary> importDatabase(const Options &options, const Progress &progress)
{
    const QString source = QDir::toNativeSeparators(QFileInfo(options.source).absoluteFilePath());
    if (!QFileInfo(options.source).isFile())
        throw Error(QStringLiteral("Файл «%1» не найден").arg(source));
    if (!isJetDatabaseFile(options.source))
        throw Error(QStringLiteral("Файл «%1» — не база данных Access").arg(source));
    if (QFileInfo::exists(options.target))
        throw Error(QStringLiteral("Файл «%1» уже существует").arg(options.target));

    // libmdb takes the code page of Jet 3 texts from its environment.
    qputenv("MDB_JET3_CHARSET", options.codepage.toLatin1());
    std::unique_ptr<MdbHandle, MdbDeleter> mdb(
        mdb_open(QFile::encodeName(options.source).constData(), MDB_NOFLAGS));
    if (!mdb)
        throw Error(QStringLiteral("Файл «%1» не открывается как база данных Access").arg(source));
    // A file cut short (a broken copy) is not a whole number of pages, or lacks pages the
    // catalogue needs; libmdb only complains on its error output, so both are checked here.
    if (QFileInfo(options.source).size() % mdb->fmt->pg_size != 0)
        throw Error(QStringLiteral("Файл «%1» повреждён или обрезан").arg(source));
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE))
        throw Error(QStringLiteral("Файл «%1»: список таблиц не читается").arg(source));

    // Every table is understood before anything is written.
    std::vector<TablePlan> plans;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type == MDB_TABLE && !mdb_is_system_table(entry))
            plans.push_back(planTable(mdb.get(), entry));
    }

    // The register itself must be there, whatever else the file holds.
    for (const char *required : {"Main", "God", "Mesyats", "Chislo"}) {
        const bool found = std::any_of(plans.begin(), plans.end(), [&](const TablePlan &plan) {
            return plan.name == QLatin1String(required);
        });
        if (!found) {
            throw Error(
                QStringLiteral(
                    "В файле «%1» нет таблицы %2: файл повреждён, обрезан или это не база реестра")
                    .arg(source, QLatin1String(required)));
        }
    }

    // The copy goes to a name of its own beside the target.
    QString temporary;
    std::unique_ptr<SqliteConnection> db;
    const QFileInfo target(options.target);
    for (int attempt = 0; !db; ++attempt) {
        temporary = target.absoluteDir().filePath(
            QStringLiteral(".%1.import-%2")
                .arg(target.fileName())
                .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        try {
            db = std::make_unique<SqliteConnection>(temporary, SqliteConnection::Mode::CreateNew);
        } catch (const Error &) {
            if (attempt > 10 || !QFileInfo::exists(temporary))
                throw;
        }
    }

    QList<TableSummary> summary;
    InterruptGuard interrupts;
    try {
        db->exec(QStringLiteral("BEGIN"));
        for (TablePlan &plan : plans) {
            QStringList columns;
            for (const ColumnPlan &c : plan.columns)
                columns << quoteIdentifier(c.name) + QLatin1Char(' ') + c.declaration;
            db->exec(QStringLiteral("CREATE TABLE %1 (%2)")
                         .arg(quoteIdentifier(plan.name), columns.join(QStringLiteral(", "))));
        }
        for (TablePlan &plan : plans) {
            const qint64 rows = copyRows(mdb.get(), plan, *db, progress);
            // A short read means a damaged or cut file: better nothing than part of the register.
            if (rows != qint64(plan.table->num_rows)) {
                throw Error(
                    QStringLiteral(
                        "Таблица «%1»: прочитано %2 строк из %3 — файл повреждён или обрезан")
                        .arg(plan.name)
                        .arg(rows)
                        .arg(plan.table->num_rows));
            }
            SqliteStatement count = db->prepare(
                QStringLiteral("SELECT count(*) FROM %1").arg(quoteIdentifier(plan.name)));
            count.step();
            if (count.columnInt64(0) != rows)
                throw Error(QStringLiteral("Таблица «%1»: записано не всё").arg(plan.name));
            summary.append({plan.name, rows});
        }
        db->exec(QStringLiteral("COMMIT"));
        db.reset();
        if (!QFile::rename(temporary, options.target))
            throw Error(QStringLiteral("Файл «%1» уже существует").arg(options.target));
    } catch (...) {
        db.reset();
        removeDatabaseFiles(temporary);
        throw;
    }
    return summary;
}

} // namespace JetImport

#include "JetReader.h"

#include "ImportStream.h"

#include <QFile>
#include <QFileInfo>

#include <mdbtools.h>

#include <memory>
#include <vector>

namespace JetReader {

namespace {

using ImportStream::Kind;

struct MdbDeleter
{
    void operator()(MdbHandle *mdb) const { mdb_close(mdb); }
};
struct TableDeleter
{
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};

// The reader stops on purpose with a message for the user.
struct Stop
{
    QString message;
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

struct TablePlan
{
    std::unique_ptr<MdbTableDef, TableDeleter> table;
    QString name;
    std::vector<MdbColumn *> columns;
};

class Sender
{
public:
    explicit Sender(int fd) : m_fd(fd) {}
    void send(Kind kind, const ImportStream::Writer &payload = {})
    {
        // The importer is gone (it failed or was interrupted): nothing is left to do.
        if (!ImportStream::writeFrame(m_fd, kind, payload.bytes()))
            throw Stop{};
    }
    void next(const QString &table)
    {
        ImportStream::Writer payload;
        payload.text(table);
        send(Kind::Next, payload);
    }

private:
    int m_fd;
};

MdbColumn *columnAt(MdbTableDef *table, unsigned i)
{
    return static_cast<MdbColumn *>(g_ptr_array_index(table->columns, i));
}

// The auto-numbered key: a Long Integer that Access numbers, or the one column of the primary
// key. Indices read from a damaged file are checked before they are used.
int keyColumnOf(MdbTableDef *table)
{
    for (unsigned i = 0; i < table->num_cols; ++i) {
        if (columnAt(table, i)->is_long_auto)
            return static_cast<int>(i);
    }
    mdb_read_indices(table);
    for (unsigned i = 0; table->indices && i < table->indices->len; ++i) {
        auto *index = static_cast<MdbIndex *>(g_ptr_array_index(table->indices, i));
        if (QLatin1String(index->name) != QLatin1String("PrimaryKey") || index->num_keys != 1)
            continue;
        const int column = index->key_col_num[0] - 1;
        if (column >= 0 && column < static_cast<int>(table->num_cols) &&
            columnAt(table, static_cast<unsigned>(column))->col_type == MDB_LONGINT)
            return column;
    }
    return -1;
}

TablePlan planTable(MdbHandle *mdb, MdbCatalogEntry *entry, Sender &sender)
{
    TablePlan plan;
    plan.name = QString::fromUtf8(entry->object_name);
    sender.next(plan.name);
    const QString damaged =
        QStringLiteral("Таблица «%1» не читается: файл повреждён").arg(plan.name);
    plan.table.reset(mdb_read_table(entry));
    if (!plan.table)
        throw Stop{damaged};
    // A damaged definition can leave libmdb without a column list, or with fewer columns than
    // the definition counts.
    if (!mdb_read_columns(plan.table.get()) || !plan.table->columns ||
        plan.table->columns->len != plan.table->num_cols)
        throw Stop{damaged};
    if (plan.table->num_cols == 0) {
        throw Stop{QStringLiteral("Таблица «%1» не содержит ни одного столбца: файл повреждён")
                       .arg(plan.name)};
    }

    const bool jet4 = mdb->f->jet_version != MDB_VER_JET3;
    const int key = keyColumnOf(plan.table.get());
    ImportStream::Writer payload;
    payload.text(plan.name);
    payload.number(plan.table->num_cols);
    for (unsigned i = 0; i < plan.table->num_cols; ++i) {
        MdbColumn *column = columnAt(plan.table.get(), i);
        const QString name = QString::fromUtf8(column->name);
        QString declaration;
        switch (column->col_type) {
        case MDB_TEXT:
            // Jet 4 gives text sizes in bytes of UTF-16.
            declaration =
                QStringLiteral("VARCHAR(%1)").arg(jet4 ? column->col_size / 2 : column->col_size);
            break;
        case MDB_MEMO:
            declaration = QStringLiteral("TEXT");
            break;
        case MDB_LONGINT:
            declaration = static_cast<int>(i) == key
                              ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                              : QStringLiteral("INTEGER");
            break;
        case MDB_INT:
        case MDB_BOOL: // Yes/No as Access counts it: -1 and 0
            declaration = QStringLiteral("SMALLINT");
            break;
        case MDB_BYTE:
            declaration = QStringLiteral("TINYINT");
            break;
        case MDB_FLOAT:
            declaration = QStringLiteral("REAL");
            break;
        case MDB_DOUBLE:
            declaration = QStringLiteral("DOUBLE");
            break;
        default:
            throw Stop{
                QStringLiteral(
                    "Таблица «%1», столбец «%2»: тип %3 программа не хранит; импорт остановлен")
                    .arg(plan.name, name, typeName(column->col_type))};
        }
        plan.columns.push_back(column);
        payload.text(name);
        payload.text(declaration);
    }
    sender.send(Kind::Table, payload);
    return plan;
}

// The value of one field of the row just fetched, NULL told apart from an empty text.
SqlValue valueOf(MdbHandle *mdb, const MdbColumn &column, const MdbField &field)
{
    if (column.col_type == MDB_BOOL) // the null bit holds a Yes/No value
        return static_cast<qint64>(field.is_null ? 0 : -1);
    if (field.is_null)
        return std::monostate{};
    switch (column.col_type) {
    case MDB_LONGINT:
        return static_cast<qint64>(qint32(mdb_get_int32(mdb->pg_buf, field.start)));
    case MDB_INT:
        return static_cast<qint64>(qint16(mdb_get_int16(mdb->pg_buf, field.start)));
    case MDB_BYTE:
        return static_cast<qint64>(mdb_get_byte(mdb->pg_buf, field.start));
    case MDB_FLOAT:
        return static_cast<double>(mdb_get_single(mdb->pg_buf, field.start));
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

void sendRows(MdbHandle *mdb, int number, TablePlan &plan, Sender &sender)
{
    sender.next(plan.name);
    MdbTableDef *table = plan.table.get();
    {
        ImportStream::Writer begin;
        begin.number(number);
        begin.number(table->num_rows);
        sender.send(Kind::Begin, begin);
    }
    const QString unreadable = QStringLiteral("Таблица «%1»: строка %2 не читается");
    std::vector<MdbField> fields(table->num_cols + 1);
    qint64 rows = 0;
    mdb_rewind_table(table);
    while (mdb_fetch_row(table)) {
        // The usual binding shows NULL and an empty text alike: read the row's own null flags.
        int start = 0;
        size_t size = 0;
        if (mdb_find_row(mdb, static_cast<int>(table->cur_row) - 1, &start, &size) != 0)
            throw Stop{unreadable.arg(plan.name).arg(rows + 1)};
        const int count = mdb_crack_row(table, start & 0x1fff, size, fields.data());
        if (count < static_cast<int>(table->num_cols))
            throw Stop{unreadable.arg(plan.name).arg(rows + 1)};
        std::vector<SqlValue> values(table->num_cols);
        for (unsigned i = 0; i < table->num_cols; ++i) {
            const MdbField &field = fields[i];
            if (field.colnum < 0 || field.colnum >= static_cast<int>(table->num_cols))
                throw Stop{unreadable.arg(plan.name).arg(rows + 1)};
            values[static_cast<size_t>(field.colnum)] =
                valueOf(mdb, *plan.columns[static_cast<size_t>(field.colnum)], field);
        }
        ImportStream::Writer row;
        for (const SqlValue &value : values)
            row.value(value);
        sender.send(Kind::Row, row);
        ++rows;
    }
    sender.send(Kind::End);
}

} // namespace

int sendDatabase(const QString &source, const QString &codepage, int fd)
{
    Sender sender(fd);
    try {
        // libmdb takes the code page of Jet 3 texts from its environment.
        qputenv("MDB_JET3_CHARSET", codepage.toLatin1());
        std::unique_ptr<MdbHandle, MdbDeleter> mdb(
            mdb_open(QFile::encodeName(source).constData(), MDB_NOFLAGS));
        if (!mdb)
            throw Stop{QStringLiteral("файл не открывается как база данных Access")};
        if (!mdb_read_catalog(mdb.get(), MDB_TABLE))
            throw Stop{QStringLiteral("список таблиц не читается")};

        // mdb_read_table re-reads the catalogue: the entries are collected first.
        std::vector<MdbCatalogEntry *> entries;
        for (unsigned i = 0; i < mdb->num_catalog; ++i) {
            auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
            if (entry && entry->object_type == MDB_TABLE && !mdb_is_system_table(entry))
                entries.push_back(entry);
        }
        std::vector<TablePlan> plans;
        for (MdbCatalogEntry *entry : entries)
            plans.push_back(planTable(mdb.get(), entry, sender));
        sender.send(Kind::Planned);
        for (size_t i = 0; i < plans.size(); ++i)
            sendRows(mdb.get(), static_cast<int>(i), plans[i], sender);
        return 0;
    } catch (const Stop &stop) {
        if (!stop.message.isEmpty()) {
            ImportStream::Writer payload;
            payload.text(stop.message);
            ImportStream::writeFrame(fd, Kind::Failure, payload.bytes());
        }
        return 1;
    } catch (const Error &e) {
        ImportStream::Writer payload;
        payload.text(e.message());
        ImportStream::writeFrame(fd, Kind::Failure, payload.bytes());
        return 1;
    }
}

} // namespace JetReader

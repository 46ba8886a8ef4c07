#include "JetReader.h"

#include "ImportStream.h"
#include "JetValues.h"

#include <QFile>
#include <QFileInfo>

#include <mdbtools.h>

#include <cstdlib>
#include <cstring>
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
        return QStringLiteral("Attachment or multi-value");
    default:
        return QStringLiteral("с кодом %1, которого программа не знает").arg(type);
    }
}

// What the file's format is called where a message has to say it.
QString formatName(MdbHandle *mdb)
{
    switch (mdb->f->jet_version) {
    case MDB_VER_JET3:
        return QStringLiteral("Access 97 (Jet 3)");
    case MDB_VER_JET4:
        return QStringLiteral("Access 2000–2003 (Jet 4)");
    default:
        return QStringLiteral("Access 2007 или новее (.accdb)");
    }
}

struct TablePlan
{
    std::unique_ptr<MdbTableDef, TableDeleter> table;
    QString name;
    std::vector<MdbColumn *> columns; // by the file's column number
    std::vector<bool> sent;           // by the file's column number: false when left out
};

// How a column of each Jet type is declared in the new file; empty for a type the reader cannot
// read. Currency and Decimal keep their exact digits as text (a numeric declaration would let
// the file turn them into binary floating point); dates are ISO 8601 texts.
QString declarationOf(const MdbColumn &column, bool jet4, bool isKey)
{
    switch (column.col_type) {
    case MDB_TEXT:
        // Jet 4 gives text sizes in bytes of UTF-16.
        return QStringLiteral("VARCHAR(%1)").arg(jet4 ? column.col_size / 2 : column.col_size);
    case MDB_MEMO:
        return QStringLiteral("TEXT");
    case MDB_LONGINT:
        return isKey ? QStringLiteral("INTEGER PRIMARY KEY AUTOINCREMENT")
                     : QStringLiteral("INTEGER");
    case MDB_INT:
    case MDB_BOOL: // Yes/No as Access counts it: -1 and 0
        return QStringLiteral("SMALLINT");
    case MDB_BYTE:
        return QStringLiteral("TINYINT");
    case MDB_FLOAT:
        return QStringLiteral("REAL");
    case MDB_DOUBLE:
        return QStringLiteral("DOUBLE");
    case MDB_DATETIME:
        return QStringLiteral("DATETIME");
    case MDB_MONEY:
        return QStringLiteral("CURRENCY TEXT(19,4)");
    case MDB_NUMERIC:
        return QStringLiteral("DECIMAL TEXT(%1,%2)").arg(column.col_prec).arg(column.col_scale);
    case MDB_REPID:
        return QStringLiteral("VARCHAR(38)");
    case MDB_OLE:
    case MDB_BINARY:
        return QStringLiteral("BLOB");
    default:
        return QString();
    }
}

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

// Reads a table's definition and its columns. A damaged definition can leave libmdb without a
// column list, or with fewer columns than the definition counts.
void readDefinition(TablePlan &plan, MdbCatalogEntry *entry)
{
    const QString damaged =
        QStringLiteral("Таблица «%1» не читается: файл повреждён").arg(plan.name);
    plan.table.reset(mdb_read_table(entry));
    if (!plan.table)
        throw Stop{damaged};
    if (!mdb_read_columns(plan.table.get()) || !plan.table->columns ||
        plan.table->columns->len != plan.table->num_cols)
        throw Stop{damaged};
    if (plan.table->num_cols == 0) {
        throw Stop{QStringLiteral("Таблица «%1» не содержит ни одного столбца: файл повреждён")
                       .arg(plan.name)};
    }
}

TablePlan planTable(MdbHandle *mdb, MdbCatalogEntry *entry, bool skipUnsupported, Sender &sender)
{
    TablePlan plan;
    plan.name = QString::fromUtf8(entry->object_name);
    sender.next(plan.name);
    readDefinition(plan, entry);

    const bool jet4 = mdb->f->jet_version != MDB_VER_JET3;
    const int key = keyColumnOf(plan.table.get());
    ImportStream::Writer payload;
    payload.text(plan.name);
    QStringList names;
    QStringList declarations;
    for (unsigned i = 0; i < plan.table->num_cols; ++i) {
        MdbColumn *column = columnAt(plan.table.get(), i);
        // A column without a name (a damaged description) is named by its place.
        const QString name = *column->name ? QString::fromUtf8(column->name)
                                           : QStringLiteral("№%1 без имени").arg(i + 1);
        const QString declaration = declarationOf(*column, jet4, static_cast<int>(i) == key);
        plan.columns.push_back(column);
        plan.sent.push_back(!declaration.isEmpty());
        if (!declaration.isEmpty()) {
            names << name;
            declarations << declaration;
            continue;
        }
        if (!skipUnsupported) {
            throw Stop{QStringLiteral("Таблица «%1», столбец «%2»: тип %3 не читается (файл %4); "
                                      "импорт остановлен. Чтобы перенести всё остальное без "
                                      "этого столбца, укажите --skip-unsupported")
                           .arg(plan.name, name, typeName(column->col_type), formatName(mdb))};
        }
        ImportStream::Writer skipped;
        skipped.text(plan.name);
        skipped.text(name);
        skipped.text(typeName(column->col_type));
        sender.send(Kind::Skipped, skipped);
    }
    if (names.isEmpty()) {
        throw Stop{QStringLiteral("Таблица «%1»: ни один столбец не читается (файл %2)")
                       .arg(plan.name, formatName(mdb))};
    }
    payload.number(names.size());
    for (qsizetype i = 0; i < names.size(); ++i) {
        payload.text(names[i]);
        payload.text(declarations[i]);
    }
    sender.send(Kind::Table, payload);
    return plan;
}

// Reads the bytes of an OLE Object field, which may lie on pages of their own.
QByteArray oleBytes(MdbHandle *mdb, MdbColumn &column, const MdbField &field)
{
    // libmdb reads from the column's bound buffer, which starts with the field's header.
    std::vector<char> bound(size_t(mdb->bind_size > 0 ? mdb->bind_size : 0) + 65536);
    std::memcpy(bound.data(), reinterpret_cast<const char *>(mdb->pg_buf) + field.start,
                std::min<size_t>(size_t(field.siz), bound.size()));
    void *const previous = column.bind_ptr;
    column.bind_ptr = bound.data();
    size_t size = 0;
    void *bytes = mdb_ole_read_full(mdb, &column, &size);
    column.bind_ptr = previous;
    QByteArray value(static_cast<const char *>(bytes), qsizetype(bytes ? size : 0));
    std::free(bytes);
    return value;
}

// The value of one field of the row just fetched, NULL told apart from an empty text.
void sendValue(MdbHandle *mdb, MdbColumn &column, const MdbField &field, ImportStream::Writer &row)
{
    const char *const at = reinterpret_cast<const char *>(mdb->pg_buf) + field.start;
    if (column.col_type == MDB_BOOL) { // the null bit holds a Yes/No value
        row.value(static_cast<qint64>(field.is_null ? 0 : -1));
        return;
    }
    if (field.is_null) {
        row.value(std::monostate{});
        return;
    }
    switch (column.col_type) {
    case MDB_LONGINT:
        row.value(static_cast<qint64>(qint32(mdb_get_int32(mdb->pg_buf, field.start))));
        return;
    case MDB_INT:
        row.value(static_cast<qint64>(qint16(mdb_get_int16(mdb->pg_buf, field.start))));
        return;
    case MDB_BYTE:
        row.value(static_cast<qint64>(mdb_get_byte(mdb->pg_buf, field.start)));
        return;
    case MDB_FLOAT:
        row.value(static_cast<double>(mdb_get_single(mdb->pg_buf, field.start)));
        return;
    case MDB_DOUBLE:
        row.value(mdb_get_double(mdb->pg_buf, field.start));
        return;
    case MDB_DATETIME:
        row.value(JetValues::dateText(mdb_get_double(mdb->pg_buf, field.start)));
        return;
    case MDB_MONEY: {
        qint64 units = 0;
        std::memcpy(&units, at, sizeof units); // little-endian, as the file and this machine
        row.value(JetValues::scaledDecimalText(units, 4));
        return;
    }
    case MDB_BINARY:
        row.blob(QByteArray(at, field.siz));
        return;
    case MDB_OLE:
        row.blob(oleBytes(mdb, column, field));
        return;
    default: { // texts, memos, Decimal (exact decimal digits) and replication IDs
        char *text = mdb_col_to_string(mdb, mdb->pg_buf, field.start, column.col_type, field.siz);
        row.value(QString::fromUtf8(text ? text : ""));
        g_free(text);
        return;
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
        // The fields come in the row's own order: each is found by its column number.
        std::vector<const MdbField *> byColumn(table->num_cols, nullptr);
        for (unsigned i = 0; i < table->num_cols; ++i) {
            const MdbField &field = fields[i];
            if (field.colnum < 0 || field.colnum >= static_cast<int>(table->num_cols))
                throw Stop{unreadable.arg(plan.name).arg(rows + 1)};
            byColumn[static_cast<size_t>(field.colnum)] = &field;
        }
        ImportStream::Writer row;
        for (size_t column = 0; column < byColumn.size(); ++column) {
            if (!plan.sent[column])
                continue;
            if (!byColumn[column])
                throw Stop{unreadable.arg(plan.name).arg(rows + 1)};
            sendValue(mdb, *plan.columns[column], *byColumn[column], row);
        }
        sender.send(Kind::Row, row);
        ++rows;
    }
    sender.send(Kind::End);
}

// The file's own tables, collected first: mdb_read_table re-reads the catalogue.
std::vector<MdbCatalogEntry *> userTables(MdbHandle *mdb)
{
    std::vector<MdbCatalogEntry *> entries;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (entry && entry->object_type == MDB_TABLE && !mdb_is_system_table(entry))
            entries.push_back(entry);
    }
    return entries;
}

// The code page of an Access 97 file's texts, read from the texts themselves: opened once with
// every byte taken as the character of the same number, its table and column names and a sample
// of its texts give their bytes back. Empty for a later format (its texts are Unicode).
QString detectCodePage(const QString &source)
{
    qputenv("MDB_JET3_CHARSET", "ISO-8859-1");
    std::unique_ptr<MdbHandle, MdbDeleter> mdb(
        mdb_open(QFile::encodeName(source).constData(), MDB_NOFLAGS));
    if (!mdb || mdb->f->jet_version != MDB_VER_JET3 || !mdb_read_catalog(mdb.get(), MDB_TABLE))
        return QString();
    constexpr int sampledRows = 2000;
    QList<QByteArray> texts;
    const auto bytesOf = [](const char *text) { return QString::fromUtf8(text).toLatin1(); };
    for (MdbCatalogEntry *entry : userTables(mdb.get())) {
        texts << bytesOf(entry->object_name);
        std::unique_ptr<MdbTableDef, TableDeleter> table(mdb_read_table(entry));
        if (!table || !mdb_read_columns(table.get()) || !table->columns)
            continue;
        std::vector<std::vector<char>> bound;
        for (unsigned i = 0; i < table->num_cols && i < table->columns->len; ++i) {
            MdbColumn *column = columnAt(table.get(), i);
            texts << bytesOf(column->name);
            if (column->col_type != MDB_TEXT && column->col_type != MDB_MEMO)
                continue;
            bound.emplace_back(size_t(mdb->bind_size > 0 ? mdb->bind_size : MDB_BIND_SIZE) + 1);
            mdb_bind_column(table.get(), int(i) + 1, bound.back().data(), nullptr);
        }
        if (bound.empty())
            continue;
        mdb_rewind_table(table.get());
        for (int row = 0; row < sampledRows && mdb_fetch_row(table.get()); ++row) {
            for (const std::vector<char> &value : bound)
                texts << bytesOf(value.data());
        }
    }
    return JetValues::chooseCodePage(texts, mdb->f->code_page);
}

} // namespace

int sendDatabase(const QString &source, const QString &codepage, bool skipUnsupported, int fd)
{
    Sender sender(fd);
    try {
        // libmdb takes the code page of Jet 3 texts from its environment.
        const QString chosen = codepage.isEmpty() ? detectCodePage(source) : codepage;
        qputenv("MDB_JET3_CHARSET",
                (chosen.isEmpty() ? QStringLiteral("CP1251") : chosen).toLatin1());
        std::unique_ptr<MdbHandle, MdbDeleter> mdb(
            mdb_open(QFile::encodeName(source).constData(), MDB_NOFLAGS));
        if (!mdb)
            throw Stop{QStringLiteral("файл не открывается как база данных Access")};
        if (!mdb_read_catalog(mdb.get(), MDB_TABLE)) {
            throw Stop{QStringLiteral("список таблиц не читается (файл %1; если он защищён "
                                      "паролем, снимите пароль в Access)")
                           .arg(formatName(mdb.get()))};
        }

        std::vector<TablePlan> plans;
        for (MdbCatalogEntry *entry : userTables(mdb.get()))
            plans.push_back(planTable(mdb.get(), entry, skipUnsupported, sender));
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

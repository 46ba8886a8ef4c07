#include "engines/sqlite/SqliteRowSource.h"

#include "platform/Files.h"

#include "engines/EngineErrors.h"

#include <QDir>
#include <QFileInfo>

#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>

namespace {

struct TableKey
{
    QString column; // the integer primary key, which is the row id
    bool found = false;
};

// The INTEGER PRIMARY KEY of a table: an alias of its row id, numbered by the database.
TableKey integerKeyOf(SqliteConnection &db, const QString &table)
{
    TableKey key;
    int keyColumns = 0;
    SqliteStatement info =
        db.prepare(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(table)));
    while (info.step()) {
        if (info.columnInt64(5) > 0) {
            ++keyColumns;
            if (info.columnText(2).compare(QLatin1String("INTEGER"), Qt::CaseInsensitive) == 0)
                key.column = info.columnText(1);
        }
    }
    key.found = keyColumns == 1 && !key.column.isEmpty();
    return key;
}

} // namespace

bool fieldTypeFromDeclared(const QString &declared, FieldType &type, int &size)
{
    const QString upper = declared.trimmed().toUpper();
    size = 0;
    if (upper.isEmpty())
        return false;

    static const QRegularExpression sized(QStringLiteral("\\(\\s*(\\d+)"));
    const auto has = [&](const char *word) { return upper.contains(QLatin1String(word)); };
    if (has("CHAR") || has("TEXT") || has("CLOB")) {
        type = FieldType::Text;
        const QRegularExpressionMatch match = sized.match(upper);
        if (match.hasMatch())
            size = match.captured(1).toInt();
    } else if (has("DATE") || has("TIME")) {
        type = FieldType::Date;
    } else if (has("BLOB") || has("BINARY") || has("OLE") || has("IMAGE")) {
        type = FieldType::Blob;
    } else if (has("SMALLINT") || has("SHORT") || has("INT16")) {
        type = has("UNSIGNED") ? FieldType::UInt16 : FieldType::Int16;
    } else if (has("WORD") || has("BYTE") || has("TINYINT") || has("UINT16")) {
        type = FieldType::UInt16;
    } else if (has("INT") || has("LONG")) {
        type = FieldType::Int32;
    } else if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL")) {
        type = FieldType::Double;
    } else {
        type = FieldType::Text;
    }
    return true;
}

SqliteRowSource::SqliteRowSource(SqliteConnection &db, const QString &selectSql)
    : m_db(&db), m_selectSql(selectSql)
{}

std::unique_ptr<SqliteRowSource> SqliteRowSource::forTable(SqliteConnection &db,
                                                           const QString &table)
{
    std::unique_ptr<SqliteRowSource> made(new SqliteRowSource(
        db, QStringLiteral("SELECT rowid, * FROM %1").arg(quoteIdentifier(table))));
    SqliteRowSource &source = *made;
    SqliteStatement statement = db.prepare(source.m_selectSql);
    source.m_keyIndex = 0;
    source.m_dataOffset = 1;
    source.describe(statement);
    source.m_table = table;
    source.m_keyColumn = QStringLiteral("rowid");
    const TableKey key = integerKeyOf(db, table);
    source.m_keyless = !key.found;
    for (SourceColumn &column : source.m_columns) {
        column.origin = column.name;
        if (key.found && column.name.compare(key.column, Qt::CaseInsensitive) == 0)
            column.readOnly = true;
    }
    return made;
}

std::unique_ptr<SqliteRowSource> SqliteRowSource::forQuery(SqliteConnection &db, const QString &sql)
{
    std::unique_ptr<SqliteRowSource> made(new SqliteRowSource(db, sql));
    SqliteRowSource &source = *made;
    SqliteStatement statement = db.prepareQuery(sql);
    source.describe(statement);

    std::vector<QString> tables;
    for (int i = 0; i < statement.columnCount(); ++i)
        tables.push_back(statement.columnTable(i));
    const QString table = editableQueryTable(tables);
    int i = 0;
    for (SourceColumn &column : source.m_columns) {
        column.origin = statement.columnOrigin(i);
        column.readOnly = column.origin.isEmpty() || statement.columnTable(i) != table;
        ++i;
    }
    if (table.isEmpty())
        return made;
    const TableKey key = integerKeyOf(db, table);
    if (!key.found)
        return made;
    source.m_keyIndex = markKeyColumns(source.m_columns, [&](size_t column) {
        return source.m_columns[column].origin.compare(key.column, Qt::CaseInsensitive) == 0;
    });
    if (source.m_keyIndex >= 0) {
        source.m_table = table;
        source.m_keyColumn = quoteIdentifier(key.column);
    }
    return made;
}

void SqliteRowSource::describe(SqliteStatement &statement)
{
    m_columns.clear();
    m_undeclared.clear();
    m_sizeOnly.clear();
    for (int i = m_dataOffset; i < statement.columnCount(); ++i) {
        SourceColumn &column = m_columns.emplace_back();
        column.name = statement.columnName(i);
        m_undeclared.push_back(
            !fieldTypeFromDeclared(statement.columnDeclaredType(i), column.type, column.size));
        m_sizeOnly.push_back(column.type == FieldType::Blob);
    }
}

void SqliteRowSource::inferUndeclaredTypes(const RowCells &firstRow)
{
    for (size_t i = 0; i < m_columns.size(); ++i) {
        if (!m_undeclared[i])
            continue;
        switch (firstRow.kind(static_cast<int>(i))) {
        case RowCells::Kind::Integer:
            m_columns[i].type = FieldType::Int32;
            break;
        case RowCells::Kind::Real:
            m_columns[i].type = FieldType::Double;
            break;
        default:
            m_columns[i].type = FieldType::Text;
            break;
        }
        m_undeclared[i] = false;
    }
}

void SqliteRowSource::readAll(const RowReader &reader)
{
    // A table's own select is the program's; a query's text is checked to be one select.
    SqliteStatement statement =
        m_dataOffset > 0 ? m_db->prepare(m_selectSql) : m_db->prepareQuery(m_selectSql);
    // Taken before the rows are read: a commit in between makes the rows look older than they
    // are, which costs a check, never a missed change.
    const quint64 version = m_db->dataVersion();
    m_writesWhenRead = m_db->writesMade();
    m_ownWrites = 0;
    const StatementCells cells(statement, m_dataOffset, &m_sizeOnly);
    bool first = true;
    while (statement.step()) {
        if (first) {
            inferUndeclaredTypes(cells);
            first = false;
        }
        reader(cells, RowId{m_keyIndex >= 0 ? statement.columnInt64(m_keyIndex) : 0, version});
    }
}

bool SqliteRowSource::fetch(qint64 key, const RowReader &reader)
{
    if (m_table.isEmpty() || m_keyIndex < 0)
        return false;
    // The same shape as the full result, so the reader reads it the same way. Prepared once: a
    // walk that checks every row reads each back.
    if (!m_fetch.isValid()) {
        QStringList select;
        if (m_dataOffset > 0)
            select << QStringLiteral("rowid");
        for (const SourceColumn &column : m_columns)
            select << (column.origin.isEmpty() ? QStringLiteral("NULL")
                                               : quoteIdentifier(column.origin));
        m_fetch = m_db->prepare(
            QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                .arg(select.join(QStringLiteral(", ")), quoteIdentifier(m_table), m_keyColumn));
    }
    SqliteStatement &statement = m_fetch;
    const auto done = qScopeGuard([&] { statement.reset(); });
    statement.bindInt64(1, key);
    const quint64 version = m_db->dataVersion();
    const bool found = statement.step();
    if (found)
        reader(StatementCells(statement, m_dataOffset, &m_sizeOnly), RowId{key, version});
    return found;
}

QString SqliteRowSource::columnList(const std::vector<int> &columns) const
{
    QStringList names;
    for (int column : columns)
        names << quoteIdentifier(m_columns[static_cast<size_t>(column)].origin);
    return names.join(QStringLiteral(", "));
}

template <typename Write> auto SqliteRowSource::locked(Write write)
{
    if (m_db->inTransaction())
        return write();
    Transaction transaction(*m_db);
    auto result = write();
    transaction.commit();
    return result;
}

bool SqliteRowSource::mayHaveChanged(const RowId &id, quint64 version) const
{
    return id.version != version || m_db->writesMade() != m_writesWhenRead + m_ownWrites;
}

QString SqliteRowSource::rowCheck(const std::vector<int> &columns) const
{
    QString check;
    for (int i : columns) {
        const QString column = quoteIdentifier(m_columns[size_t(i)].origin);
        // Binary data was read as its size in bytes.
        check += m_sizeOnly[size_t(i)]
                     ? QStringLiteral(" AND length(CAST(%1 AS BLOB)) IS ?").arg(column)
                     : QStringLiteral(" AND CAST(%1 AS BLOB) IS CAST(? AS BLOB)").arg(column);
    }
    return check;
}

void SqliteRowSource::bindRowCheck(SqliteStatement &statement, int first, const RowCells &read,
                                   const std::vector<int> &columns) const
{
    for (int i : columns)
        statement.bindCell(first++, read, i);
}

qint64 SqliteRowSource::rowToWrite(qint64 key, const RowCells &read, bool check) const
{
    if (!m_keyless || !check)
        return key;
    const std::vector<int> columns = tableColumns(m_columns);
    SqliteStatement found = m_db->prepare(
        QStringLiteral("SELECT rowid FROM %1 WHERE 1%2 ORDER BY rowid = ? DESC LIMIT 1")
            .arg(quoteIdentifier(m_table), rowCheck(columns)));
    bindRowCheck(found, 1, read, columns);
    found.bindInt64(int(columns.size()) + 1, key);
    return found.step() ? found.columnInt64(0) : 0;
}

RowId SqliteRowSource::update(const RowId &id, const RowCells &read,
                              const std::vector<int> &columns, const std::vector<int> &compared,
                              const std::vector<Value> &values, const RowReader &stored)
{
    if (columns.empty())
        return id;
    if (columns != m_chosenUpdate.columns)
        chooseUpdate(columns);
    return locked([&] {
        // While nobody else wrote since the row was read it is as read, and the update by key
        // alone is exact. Otherwise what it writes, and what is tied to that, must still be as
        // read; anything else another computer changed is kept, and the row is read back.
        const quint64 version = m_db->dataVersion();
        const bool check = mayHaveChanged(id, version);
        Update &update = *m_chosenUpdate.statements;
        if (check && !update.checked.isValid()) {
            update.compared = compared;
            update.checked = m_db->prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?%4")
                                               .arg(quoteIdentifier(m_table), assignments(columns),
                                                    m_keyColumn, rowCheck(update.compared)));
        }
        const qint64 key = rowToWrite(id.key, read, check);
        if (key == 0)
            throw RowChangedElsewhere();
        SqliteStatement &statement = check ? update.checked : update.byKey;
        int parameter = 1;
        for (size_t i : m_chosenUpdate.order)
            statement.bind(parameter++, values[i]);
        statement.bindInt64(parameter++, key);
        if (check)
            bindRowCheck(statement, parameter, read, update.compared);
        statement.run();
        if (m_db->changes() == 0)
            throw RowChangedElsewhere();
        m_db->countWrite();
        ++m_ownWrites;
        if (check)
            fetch(key, stored);
        return RowId{key, version};
    });
}

QString SqliteRowSource::assignments(std::vector<int> columns) const
{
    // In ascending order, as the values are bound.
    std::sort(columns.begin(), columns.end());
    QStringList assignments;
    for (int column : columns)
        assignments << quoteIdentifier(m_columns[static_cast<size_t>(column)].origin) +
                           QStringLiteral(" = ?");
    return assignments.join(QStringLiteral(", "));
}

void SqliteRowSource::chooseUpdate(const std::vector<int> &columns)
{
    // The statement names the columns in ascending order and the values are bound in that same
    // order, whatever order they were assigned in: a walk that writes the same columns each time
    // reuses one statement, and a value can never land in another column's place.
    std::vector<size_t> order(columns.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return columns[a] < columns[b]; });
    std::vector<int> written;
    written.reserve(order.size());
    for (size_t i : order)
        written.push_back(columns[i]);

    auto cached = m_updates.find(written);
    if (cached == m_updates.end()) {
        Update update;
        update.byKey =
            m_db->prepare(QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                              .arg(quoteIdentifier(m_table), assignments(written), m_keyColumn));
        cached = m_updates.emplace(std::move(written), std::move(update)).first;
    }
    m_chosenUpdate = {columns, std::move(order), &cached->second};
}

qint64 SqliteRowSource::insert(const std::vector<int> &columns, const std::vector<Value> &values)
{
    QString sql;
    if (columns.empty()) {
        sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoteIdentifier(m_table));
    } else {
        QStringList marks;
        for (size_t i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(quoteIdentifier(m_table), columnList(columns),
                       marks.join(QStringLiteral(", ")));
    }
    SqliteStatement statement = m_db->prepare(sql);
    int parameter = 1;
    for (const Value &value : values)
        statement.bind(parameter++, value);
    statement.run();
    m_db->countWrite();
    ++m_ownWrites;
    return m_db->lastInsertRowId();
}

void SqliteRowSource::remove(const RowId &id, const RowCells &read)
{
    locked([&] {
        const bool check = mayHaveChanged(id, m_db->dataVersion());
        const qint64 key = rowToWrite(id.key, read, check);
        if (key == 0)
            throw RowChangedElsewhere();
        const std::vector<int> compared = check ? tableColumns(m_columns) : std::vector<int>();
        SqliteStatement statement =
            m_db->prepare(QStringLiteral("DELETE FROM %1 WHERE %2 = ?%3")
                              .arg(quoteIdentifier(m_table), m_keyColumn, rowCheck(compared)));
        statement.bindInt64(1, key);
        bindRowCheck(statement, 2, read, compared);
        statement.run();
        if (m_db->changes() == 0)
            throw RowChangedElsewhere();
        m_db->countWrite();
        ++m_ownWrites;
        return true;
    });
}

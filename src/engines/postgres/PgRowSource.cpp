// A table or a select on the server as the record sets' row source.
#include "engines/postgres/PgRowSource.h"

#include "PgRows.h"
#include "engines/EngineErrors.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

#include <algorithm>

using namespace PgRows;

namespace {

// A row's physical place, "(block,offset)", as a key and back.
qint64 placeKey(const QString &text)
{
    const QStringList parts =
        QString(text).remove(QLatin1Char('(')).remove(QLatin1Char(')')).split(QLatin1Char(','));
    return parts.size() == 2 ? (parts[0].toLongLong() << 16) | parts[1].toLongLong() : 0;
}

QString placeText(qint64 key)
{
    return QStringLiteral("(%1,%2)").arg(key >> 16).arg(key & 0xFFFF);
}

} // namespace

PgRowSource::PgRowSource(PgConnection &db, QString selectSql, bool readOnly)
    : m_db(&db), m_selectSql(std::move(selectSql)), m_readOnly(readOnly)
{}

std::unique_ptr<PgRowSource> PgRowSource::forTable(PgConnection &db, const QString &table,
                                                   bool readOnly, PgTable known)
{
    // The table as the server names it, folding an unquoted name as a statement would.
    PgTable catalogue = known.sqlName.isEmpty() ? PgTable::read(db, table) : std::move(known);
    if (catalogue.sqlName.isEmpty()) {
        throw Error(QStringLiteral("В базе данных нет таблицы %1 реестра (%2); реестр на сервере "
                                   "создаёт команда reestr-db init --server")
                        .arg(table, db.where()));
    }
    std::unique_ptr<PgRowSource> source(new PgRowSource(db, catalogue.select(), readOnly));
    source->m_table = catalogue.sqlName;
    source->m_keyColumn = catalogue.key.isEmpty() ? QString() : quoteIdentifier(catalogue.key);
    source->m_keyIndex = 0;
    source->m_dataOffset = 1;
    source->m_versioned = true;
    // A table shows its first rows at once: they are read now, with its description.
    if (!catalogue.firstRows)
        catalogue.firstRows = db.exec(catalogue.firstRowsSql());
    source->describe(*catalogue.firstRows, 1);
    source->m_firstRows = std::move(catalogue.firstRows);
    source->m_catalogue = std::move(catalogue);
    for (SourceColumn &column : source->m_columns) {
        column.origin = column.name;
        if (!source->m_catalogue.key.isEmpty() && column.name == source->m_catalogue.key)
            column.readOnly = true; // numbered by the server
        for (const auto &[number, size] : source->m_catalogue.sizes) {
            if (source->m_catalogue.names.at(number) == column.name)
                column.size = size;
        }
    }
    return source;
}

namespace {

// The columns of a select, without its rows, in a transaction that may only read: a select never
// changes data, whatever its text.
PgResult describeSelect(PgConnection &db, const QString &body)
{
    const bool own = !db.inTransaction();
    if (own)
        db.exec(QStringLiteral("BEGIN READ ONLY"));
    PgResult shape;
    try {
        shape = db.exec(QStringLiteral("SELECT * FROM (%1) AS result LIMIT 0").arg(body));
    } catch (const Error &) {
        if (own)
            db.rollbackTransaction();
        throw;
    }
    if (own)
        db.exec(QStringLiteral("COMMIT"));
    return shape;
}

} // namespace

std::unique_ptr<PgRowSource> PgRowSource::forQuery(PgConnection &db, const QString &sql,
                                                   bool readOnly)
{
    std::unique_ptr<PgRowSource> source(new PgRowSource(db, sql, readOnly));
    // The statement runs here to learn its columns; a wrong text fails now, as on the file.
    QString body = sql.trimmed();
    if (body.endsWith(QLatin1Char(';')))
        body.chop(1);
    const PgResult shape = describeSelect(db, body);
    source->describe(shape, 0);

    std::vector<QString> tables;
    for (int i = 0; i < shape.columns(); ++i) {
        const unsigned from = PQftable(shape.get(), i);
        tables.push_back(from == 0 ? QString() : QString::number(from));
    }
    const QString table = editableQueryTable(tables);
    for (SourceColumn &column : source->m_columns)
        column.readOnly = true;
    if (table.isEmpty())
        return source;
    const PgResult named =
        db.exec(QStringLiteral("SELECT $1::oid::regclass::text"), {Value(table.toLongLong())});
    const PgTable catalogue = PgTable::read(db, named.text(0, 0));
    for (int i = 0; i < shape.columns(); ++i) {
        SourceColumn &column = source->m_columns[static_cast<size_t>(i)];
        if (tables[size_t(i)] != table)
            continue;
        const int number = PQftablecol(shape.get(), i);
        if (const auto name = catalogue.names.find(number); name != catalogue.names.end())
            column.origin = name->second;
        if (const auto size = catalogue.sizes.find(number); size != catalogue.sizes.end())
            column.size = size->second;
        column.readOnly = column.origin.isEmpty();
    }
    source->m_keyIndex = markKeyColumns(source->m_columns, [&](size_t column) {
        return !catalogue.key.isEmpty() && tables[column] == table &&
               PQftablecol(shape.get(), int(column)) == catalogue.keyNumber;
    });
    if (source->m_keyIndex >= 0) {
        source->m_table = named.text(0, 0);
        source->m_keyColumn = quoteIdentifier(catalogue.key);
        // Each row with its version, read in the same statement and so of the same moment.
        source->m_versioned = true;
        source->m_selectSql =
            QStringLiteral("SELECT result.*, (SELECT xmin::text FROM %1 WHERE %2 = result.%3) "
                           "FROM (%4) AS result")
                .arg(source->m_table, source->m_keyColumn,
                     quoteIdentifier(source->m_columns[size_t(source->m_keyIndex)].name), body);
    }
    return source;
}

void PgRowSource::describe(const PgResult &result, int first)
{
    m_columns.clear();
    m_types.clear();
    const int end = result.columns() - (m_versioned ? 1 : 0);
    for (int i = first; i < end; ++i) {
        SourceColumn &column = m_columns.emplace_back();
        column.name = QString::fromUtf8(PQfname(result.get(), i));
        const unsigned type = PQftype(result.get(), i);
        const int modifier = PQfmod(result.get(), i);
        m_types.push_back(type);
        if (type == Int2Oid)
            column.type = FieldType::Int16;
        else if (isInteger(type))
            column.type = FieldType::Int32;
        else if (isReal(type))
            column.type = FieldType::Double;
        else if (type == DateOid || type == TimestampOid)
            column.type = FieldType::Date;
        else if (type == ByteaOid)
            column.type = FieldType::Blob;
        else if ((type == VarcharOid || type == BpcharOid) && modifier >= 4)
            column.size = modifier - 4; // the declared length and four bytes of header
    }
}

QString PgRowSource::versionCondition(int parameter) const
{
    return m_versioned ? QStringLiteral(" AND xmin = $%1::xid").arg(parameter) : QString();
}

QString PgRowSource::keyCondition(int parameter) const
{
    return m_keyColumn.isEmpty() ? QStringLiteral("ctid = $%1::tid").arg(parameter)
                                 : QStringLiteral("%1 = $%2").arg(m_keyColumn).arg(parameter);
}

Value PgRowSource::keyParameter(qint64 key) const
{
    return m_keyColumn.isEmpty() ? Value(placeText(key)) : Value(key);
}

namespace {

// A whole number of a result, read where it lies: every row has its key and version.
template <typename Number> Number numberAt(const PgResult &result, int row, int column)
{
    const char *text = PQgetvalue(result.get(), row, column);
    Number value = 0;
    std::from_chars(text, text + PQgetlength(result.get(), row, column), value);
    return value;
}

} // namespace

qint64 PgRowSource::keyOf(const PgResult &result, int row, int column) const
{
    if (column < 0 || result.isNull(row, column))
        return 0;
    if (m_keyColumn.isEmpty())
        return placeKey(result.text(row, column));
    return numberAt<qint64>(result, row, column);
}

RowId PgRowSource::idOf(const PgResult &result, int row, int keyColumn) const
{
    const int version = result.columns() - 1;
    return {keyOf(result, row, keyColumn), m_versioned && !result.isNull(row, version)
                                               ? numberAt<quint64>(result, row, version)
                                               : 0};
}

QString PgRowSource::selectList() const
{
    QStringList select;
    if (m_dataOffset > 0)
        select << (m_keyColumn.isEmpty() ? QStringLiteral("ctid::text") : m_keyColumn);
    for (const SourceColumn &column : m_columns)
        select << (column.origin.isEmpty() ? QStringLiteral("NULL")
                                           : quoteIdentifier(column.origin));
    if (m_versioned)
        select << QStringLiteral("xmin::text");
    return select.join(QStringLiteral(", "));
}

void PgRowSource::readAll(const RowReader &reader)
{
    const auto readPiece = [&](const PgResult &result) {
        PgCells cells(result, m_types, m_dataOffset);
        for (int row = 0; row < result.rows(); ++row) {
            cells.setRow(row);
            reader(cells, idOf(result, row, m_keyIndex));
        }
    };
    if (m_catalogue.sqlName.isEmpty()) {
        m_db->readInPieces(m_selectSql, readPiece);
        return;
    }
    // A table: its first rows in one statement (most tables end there); the rest, through a
    // cursor, after the last of them by the key, or without a key all anew.
    const PgResult first =
        m_firstRows ? std::move(*m_firstRows) : m_db->exec(m_catalogue.firstRowsSql());
    m_firstRows.reset();
    if (first.rows() < rowsPerPiece || !m_catalogue.key.isEmpty())
        readPiece(first);
    if (first.rows() < rowsPerPiece)
        return;
    if (m_catalogue.key.isEmpty())
        m_db->readInPieces(m_selectSql, readPiece);
    else
        m_db->readInPieces(m_catalogue.select(QString::number(keyOf(first, first.rows() - 1, 0))),
                           readPiece);
}

bool PgRowSource::fetch(qint64 key, const RowReader &reader)
{
    if (m_table.isEmpty())
        return false;
    const PgResult result = m_db->exec(
        QStringLiteral("SELECT %1 FROM %2 WHERE %3").arg(selectList(), m_table, keyCondition(1)),
        {keyParameter(key)});
    if (result.rows() == 0)
        return false;
    PgCells cells(result, m_types, m_dataOffset);
    reader(cells, idOf(result, 0, m_dataOffset > 0 ? 0 : m_keyIndex));
    return true;
}

QString PgRowSource::unchangedCondition(int versionAt, const std::vector<int> &compared) const
{
    if (!m_versioned)
        return {};
    const QString sameVersion = QStringLiteral("xmin = $%1::xid").arg(versionAt);
    if (compared.empty())
        return QStringLiteral(" AND ") + sameVersion;
    QStringList same;
    int parameter = versionAt + 1;
    for (int column : compared) {
        const QString name = quoteIdentifier(m_columns[size_t(column)].origin);
        // Binary data was read as its size in bytes.
        same << QStringLiteral("%1 IS NOT DISTINCT FROM $%2")
                    .arg(m_types[size_t(column)] == ByteaOid
                             ? QStringLiteral("octet_length(%1)").arg(name)
                             : name)
                    .arg(parameter++);
    }
    return QStringLiteral(" AND (%1 OR (%2))").arg(sameVersion, same.join(QStringLiteral(" AND ")));
}

QString PgRowSource::equalRowCondition(int placeAt, int valuesAt) const
{
    QStringList same;
    for (int column : tableColumns(m_columns)) {
        same << QStringLiteral("%1 IS NOT DISTINCT FROM $%2")
                    .arg(quoteIdentifier(m_columns[size_t(column)].origin))
                    .arg(valuesAt++);
    }
    return QStringLiteral("ctid = (SELECT ctid FROM %1 WHERE %2 ORDER BY ctid = $%3::tid DESC "
                          "LIMIT 1 FOR UPDATE)")
        .arg(m_table, same.join(QStringLiteral(" AND ")))
        .arg(placeAt);
}

void PgRowSource::chooseUpdate(const std::vector<int> &columns, const std::vector<int> &compared)
{
    const int keyAt = static_cast<int>(columns.size()) + 1;
    QStringList assignments;
    int parameter = 1;
    for (int column : columns) {
        assignments << QStringLiteral("%1 = $%2")
                           .arg(quoteIdentifier(m_columns[static_cast<size_t>(column)].origin))
                           .arg(parameter++);
    }
    // The key finds the row; it is written when its version is still the one read or, when
    // another computer changed it since, while what this write compares is still as read.
    // A row without a key is the one still equal to what was read.
    const bool keyless = m_keyColumn.isEmpty();
    std::vector<int> checked = keyless ? tableColumns(m_columns) : compared;
    const QString where = keyless ? equalRowCondition(keyAt, keyAt + 1)
                                  : keyCondition(keyAt) + unchangedCondition(keyAt + 1, checked);
    const QString set = assignments.join(QStringLiteral(", "));
    const QString sql = QStringLiteral("UPDATE %1 SET %2 WHERE %3").arg(m_table, set, where);
    // Posts sent ahead of their answers (the age walk) name the version alone: a row changed
    // since it was read is refused, and the walk reads that person again.
    const QString byVersion =
        QStringLiteral("UPDATE %1 SET %2 WHERE %3%4")
            .arg(m_table, set, keyCondition(keyAt), versionCondition(keyAt + 1));
    m_updated = {columns, std::move(checked), sql, byVersion};
}

RowId PgRowSource::update(const RowId &id, const RowCells &read, const std::vector<int> &columns,
                          const std::vector<int> &compared, const std::vector<Value> &values,
                          const RowReader &stored)
{
    if (columns.empty())
        return id;
    // A walk writes the same columns each time: the statement is made once for them.
    if (columns != m_updated.columns)
        chooseUpdate(columns, compared);
    // An earlier update of this row whose fate was not learned is asked about first: one the
    // server stored is this program's own version of the row, not another computer's change.
    quint64 version = id.version;
    if (const auto unsure = m_unsureUpdates.find(id.key); unsure != m_unsureUpdates.end()) {
        if (storedEarlier(unsure->second))
            version = PgConnection::rowVersion(unsure->second);
        m_unsureUpdates.erase(unsure);
    }
    std::vector<Value> parameters = values;
    parameters.push_back(keyParameter(id.key));
    if (!m_keyColumn.isEmpty() && m_versioned)
        parameters.push_back(Value(QString::number(version)));
    if (m_db->pipelining() && !m_keyColumn.isEmpty()) {
        // The key stays what it was; the answer is checked when it comes.
        m_db->post(m_updated.byVersion, parameters, id.key);
        return {id.key, m_db->pipelineTransaction()};
    }
    if (m_keyColumn.isEmpty() || m_versioned) {
        for (int column : m_updated.compared)
            parameters.push_back(cellValue(read, column));
    }
    // The row as stored comes back with the answer: it holds whatever else was changed. Should
    // the answer be lost, and the server have stored the change, the row this write made is read.
    PgResult result;
    try {
        result = m_db->write(m_updated.sql + QStringLiteral(" RETURNING ") + selectList(),
                             parameters, writtenBy(selectList()));
    } catch (const OutcomeUnknown &unknown) {
        m_unsureUpdates[id.key] = unknown.transaction();
        throw;
    }
    if (result.rows() == 0)
        throw RowChangedElsewhere();
    PgCells cells(result, m_types, m_dataOffset);
    const RowId now = idOf(result, 0, m_dataOffset > 0 ? 0 : m_keyIndex);
    if (stored)
        stored(cells, now);
    return now;
}

qint64 PgRowSource::insert(const std::vector<int> &columns, const std::vector<Value> &values)
{
    const QString returning = m_keyColumn.isEmpty() ? QStringLiteral("ctid::text") : m_keyColumn;
    QString sql;
    if (columns.empty()) {
        sql = QStringLiteral("INSERT INTO %1 DEFAULT VALUES RETURNING %2").arg(m_table, returning);
    } else {
        QStringList names;
        QStringList marks;
        for (size_t i = 0; i < columns.size(); ++i) {
            names << quoteIdentifier(m_columns[static_cast<size_t>(columns[i])].origin);
            marks << QStringLiteral("$%1").arg(i + 1);
        }
        sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING %4")
                  .arg(m_table, names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")),
                       returning);
    }
    // An earlier insert of this record whose fate was not learned is asked about first: one the
    // server stored is this record's row, written now with what is typed, and never a second.
    if (m_unsureInsert) {
        const quint64 earlier = *m_unsureInsert;
        const bool stored = storedEarlier(earlier);
        m_unsureInsert.reset();
        const PgResult found =
            stored ? m_db->exec(writtenBy(returning),
                                {Value(QString::number(PgConnection::rowVersion(earlier)))})
                   : PgResult();
        if (found.rows() == 1) {
            const qint64 key = keyOf(found, 0, 0);
            if (!m_keyColumn.isEmpty() && !columns.empty())
                rewrite(key, columns, values);
            return key;
        }
    }
    try {
        return keyOf(m_db->write(sql, values, writtenBy(returning)), 0, 0);
    } catch (const OutcomeUnknown &unknown) {
        m_unsureInsert = unknown.transaction();
        throw;
    }
}

bool PgRowSource::storedEarlier(quint64 transaction)
{
    switch (m_db->fateOf(transaction)) {
    case PgConnection::Fate::Committed:
        return true;
    case PgConnection::Fate::NotCommitted:
        return false;
    case PgConnection::Fate::Unknown:
        break;
    }
    throw OutcomeUnknown(QStringLiteral("Нет связи с сервером баз данных (%1): не удалось узнать, "
                                        "сохранено ли изменение, отправленное раньше. Проверьте "
                                        "сеть (и VPN) и сохраните запись ещё раз")
                             .arg(m_db->where()),
                         transaction);
}

QString PgRowSource::writtenBy(const QString &columns) const
{
    return QStringLiteral("SELECT %1 FROM %2 WHERE xmin = $1::xid").arg(columns, m_table);
}

void PgRowSource::rewrite(qint64 key, const std::vector<int> &columns,
                          const std::vector<Value> &values)
{
    QStringList assignments;
    for (size_t i = 0; i < columns.size(); ++i) {
        assignments << QStringLiteral("%1 = $%2")
                           .arg(quoteIdentifier(m_columns[size_t(columns[i])].origin))
                           .arg(i + 1);
    }
    std::vector<Value> parameters = values;
    parameters.push_back(keyParameter(key));
    m_db->write(QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                    .arg(m_table, assignments.join(QStringLiteral(", ")),
                         keyCondition(int(parameters.size()))),
                parameters);
}

void PgRowSource::remove(const RowId &id, const RowCells &read)
{
    std::vector<Value> parameters = {keyParameter(id.key)};
    QString where;
    if (m_keyColumn.isEmpty()) {
        for (int column : tableColumns(m_columns))
            parameters.push_back(cellValue(read, column));
        where = equalRowCondition(1, 2);
    } else {
        if (m_versioned)
            parameters.push_back(Value(QString::number(id.version)));
        where = keyCondition(1) + versionCondition(2);
    }
    // A deletion of this row whose fate was not learned is asked about first.
    if (m_unsureDelete && m_unsureDelete->second == id.key) {
        const bool stored = storedEarlier(m_unsureDelete->first);
        m_unsureDelete.reset();
        if (stored)
            return;
    }
    // A result lost with the connection but stored by the server is a deletion done.
    PgResult result;
    try {
        result =
            m_db->write(QStringLiteral("DELETE FROM %1 WHERE %2").arg(m_table, where), parameters);
    } catch (const OutcomeUnknown &unknown) {
        m_unsureDelete.emplace(unknown.transaction(), id.key);
        throw;
    }
    if (result.get() && qstrcmp(PQcmdTuples(result.get()), "0") == 0)
        throw RowChangedElsewhere();
}

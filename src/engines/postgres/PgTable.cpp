// A register table as the server's catalogue describes it.
#include "engines/postgres/PgRowSource.h"

#include "PgRows.h"
#include "platform/Error.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

using namespace PgRows;

QString PgTable::catalogueSql(const QString &tables)
{
    return QStringLiteral(
               "SELECT t.name, to_regclass(t.name)::text, a.attnum, a.attname, a.atttypid::int, "
               "coalesce(a.attnum = ANY(i.indkey), false), "
               "substring(col_description(a.attrelid, a.attnum) from '^знаков: (\\d+)$') "
               "FROM unnest(%1) AS t(name) "
               "LEFT JOIN pg_attribute a ON a.attrelid = to_regclass(t.name) "
               "AND a.attnum > 0 AND NOT a.attisdropped "
               "LEFT JOIN pg_index i ON i.indrelid = a.attrelid AND i.indisprimary")
        .arg(tables);
}

std::map<QString, PgTable> PgTable::read(const PgResult &columns)
{
    std::map<QString, PgTable> tables;
    std::map<QString, int> keyColumns;
    for (int row = 0; row < columns.rows(); ++row) {
        PgTable &found = tables[columns.text(row, 0)];
        if (columns.isNull(row, 1) || columns.isNull(row, 2))
            continue;
        found.sqlName = columns.text(row, 1);
        const int number = columns.text(row, 2).toInt();
        found.names[number] = columns.text(row, 3);
        if (columns.text(row, 5) == QLatin1String("t")) {
            ++keyColumns[columns.text(row, 0)];
            if (isInteger(columns.text(row, 4).toUInt())) {
                found.key = columns.text(row, 3);
                found.keyNumber = number;
            }
        }
        if (!columns.isNull(row, 6))
            found.sizes[number] = columns.text(row, 6).toInt();
    }
    for (auto &[name, table] : tables) {
        if (keyColumns[name] != 1)
            table.key.clear();
    }
    return tables;
}

PgTable PgTable::read(PgConnection &db, const QString &table)
{
    std::map<QString, PgTable> found =
        read(db.exec(catalogueSql(QStringLiteral("ARRAY[$1::text]")), {Value(table)}));
    return std::move(found[table]);
}

QString PgTable::select(const QString &after) const
{
    // Rows in the key's order, as the file gives them: the server moves a changed row. Each row
    // comes with its version, which every change of the row changes.
    if (key.isEmpty())
        return QStringLiteral("SELECT ctid::text, *, xmin::text FROM %1").arg(sqlName);
    const QString keyColumn = quoteIdentifier(key);
    return QStringLiteral("SELECT %2, *, xmin::text FROM %1%3 ORDER BY %2")
        .arg(sqlName, keyColumn,
             after.isEmpty() ? QString() : QStringLiteral(" WHERE %1 > %2").arg(keyColumn, after));
}

QString PgTable::firstRowsSql() const
{
    return select() + QStringLiteral(" LIMIT %1").arg(rowsPerPiece);
}

// A register on a server as the engine.
#include "platform/Postgres.h"

#include "platform/Error.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

#include "platform/RegisterSchema.h"

void PostgresEngine::beginSnapshot()
{
    m_db.beginSnapshot();
    // The first rows start-up read are not of the snapshot: its tables are read anew in it.
    for (auto &[name, table] : m_tables)
        table.firstRows.reset();
}

void PostgresEngine::takeTable(const QString &table)
{
    // Others may read it meanwhile; their writes and their own such transactions wait.
    const PgResult named = m_db.exec(QStringLiteral("SELECT to_regclass($1)::text"), {table});
    m_db.exec(QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(named.text(0, 0)));
}

PostgresEngine::PostgresEngine(const QString &conninfo, const ServerAccess &access)
    : m_db(conninfo, access)
{
    // What every start needs, in two round trips: whether the role may change the register's
    // people and what its tables are; then the first rows of each.
    QStringList names;
    for (const RegisterSchema::Table &table : RegisterSchema::tables())
        names << QLatin1Char('\'') + table.qName() + QLatin1Char('\'');
    const std::vector<PgResult> first = m_db.execTogether(
        {QStringLiteral("SELECT coalesce(has_table_privilege(t, 'INSERT') AND "
                        "has_table_privilege(t, 'UPDATE') AND has_table_privilege(t, 'DELETE'), "
                        "true) FROM (SELECT to_regclass('Main') AS t) s"),
         PgTable::catalogueSql(QStringLiteral("ARRAY[%1]").arg(names.join(QLatin1Char(','))))});
    m_readOnly = first[0].text(0, 0) != QLatin1String("t");
    m_tables = PgTable::read(first[1]);
    std::vector<QString> firstRows;
    std::vector<PgTable *> asked;
    for (auto &[name, table] : m_tables) {
        if (!table.sqlName.isEmpty()) {
            firstRows.push_back(table.firstRowsSql());
            asked.push_back(&table);
        }
    }
    std::vector<PgResult> rows = m_db.execTogether(firstRows);
    for (size_t i = 0; i < asked.size(); ++i)
        asked[i]->firstRows = std::move(rows[i]);
}

std::unique_ptr<RowSource> PostgresEngine::table(const QString &name)
{
    // A register table opens on what start-up read of it, once; later it is read anew.
    const auto known = m_tables.find(name);
    if (known == m_tables.end())
        return PgRowSource::forTable(m_db, name, m_readOnly);
    PgTable table = std::move(known->second);
    m_tables.erase(known);
    return PgRowSource::forTable(m_db, name, m_readOnly, std::move(table));
}

std::unique_ptr<RowSource> PostgresEngine::query(const QString &sql)
{
    return PgRowSource::forQuery(m_db, sql, m_readOnly);
}

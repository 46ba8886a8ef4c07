// A register on a server as the engine.
#include "engines/postgres/PostgresEngine.h"

#include "platform/Error.h"

#include <QByteArray>
#include <QStringList>

#include <libpq-fe.h>

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
    for (const QString &table : access.tables)
        names << QLatin1Char('\'') + table + QLatin1Char('\'');
    // Listening begins before anything is read, so that no change committed after the read goes
    // unheard.
    std::vector<QString> statements{
        QStringLiteral("SELECT coalesce(has_table_privilege(t, 'INSERT') AND "
                       "has_table_privilege(t, 'UPDATE') AND has_table_privilege(t, 'DELETE'), "
                       "true), to_regprocedure('reestr_whole_table_changed(text)') IS NOT NULL "
                       "FROM (SELECT to_regclass(nullif('%1', '')) AS t) s")
            .arg(access.tables.empty() ? QString() : access.tables.front()),
        PgTable::catalogueSql(
            QStringLiteral("ARRAY[%1]::text[]").arg(names.join(QLatin1Char(','))))};
    if (access.watchChanges)
        statements.push_back(QStringLiteral("LISTEN reestr"));
    const std::vector<PgResult> first = m_db.execTogether(statements);
    m_readOnly = first[0].text(0, 0) != QLatin1String("t");
    m_logged = first[0].text(0, 1) == QLatin1String("t");
    // A register without the log notifies nothing.
    if (access.watchChanges && m_logged)
        m_db.listen(true);
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

void PostgresEngine::execute(const QString &sql, const std::vector<Value> &parameters)
{
    m_db.write(sql, parameters);
}

int PostgresEngine::changeSignal()
{
    return m_db.listeningSocket();
}

OthersChanges PostgresEngine::othersChanges()
{
    OthersChanges changes;
    const int own = m_db.backendPid();
    for (const auto &[sender, payload] : m_db.notices(changes.everything)) {
        if (sender == own)
            continue;
        const QString table = payload.section(QLatin1Char(' '), 0, 0);
        const QString key = payload.section(QLatin1Char(' '), 1);
        auto held = std::find_if(changes.tables.begin(), changes.tables.end(),
                                 [&](const auto &t) { return t.name == table; });
        if (held == changes.tables.end())
            held = changes.tables.insert(changes.tables.end(), {table, {}, false});
        if (key.isEmpty())
            held->whole = true;
        else if (!held->whole)
            held->keys.push_back(key.toLongLong());
    }
    return changes;
}

std::optional<ChangeAuthor> PostgresEngine::lastChange(const QString &table, qint64 key)
{
    if (!m_logged)
        return std::nullopt;
    const PgResult last = m_db.exec(
        QStringLiteral("SELECT Компьютер, Пользователь, extract(epoch FROM Время)::bigint "
                       "FROM Izmeneniya WHERE Таблица = lower($1) AND (Код = $2 OR Код IS NULL) "
                       "ORDER BY Номер DESC LIMIT 1"),
        {QString(table).remove(QLatin1Char('"')), Value(key)});
    if (last.rows() == 0)
        return std::nullopt;
    return ChangeAuthor{last.text(0, 0), last.text(0, 1),
                        QDateTime::fromSecsSinceEpoch(last.text(0, 2).toLongLong())};
}

void PostgresEngine::changeWholeTable(const QString &table)
{
    if (m_logged && m_db.inTransaction())
        m_db.exec(QStringLiteral("SELECT reestr_whole_table_changed($1)"),
                  {QString(table).remove(QLatin1Char('"'))});
}

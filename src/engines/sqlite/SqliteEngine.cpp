// A Base.mdb file as the register's engine, and how it follows other programs' changes and tells
// them of its own.
#include "engines/sqlite/SqliteEngine.h"

#include "platform/Error.h"
#include "platform/Files.h"

#include <QRegularExpression>

namespace {

QString sqlText(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("''")) +
           QLatin1Char('\'');
}

bool hasTable(SqliteConnection &db, const char *name)
{
    SqliteStatement statement =
        db.prepare(QStringLiteral("SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = ?"));
    statement.bind(1, QString::fromUtf8(name));
    return statement.step();
}

qint64 lastLogged(SqliteConnection &db)
{
    SqliteStatement statement =
        db.prepare(QStringLiteral("SELECT coalesce(max(Номер), 0) FROM Izmeneniya"));
    statement.step();
    return statement.columnInt64(0);
}

} // namespace

SqliteEngine::SqliteEngine(const QString &path) : m_db(path, SqliteConnection::Mode::OpenExisting)
{
    watchChanges();
}

std::unique_ptr<RowSource> SqliteEngine::table(const QString &name)
{
    return SqliteRowSource::forTable(m_db, name);
}

std::unique_ptr<RowSource> SqliteEngine::query(const QString &sql)
{
    return SqliteRowSource::forQuery(m_db, sql);
}

QString SqliteEngine::where() const
{
    return Files::shownPath(m_db.path());
}

bool SqliteEngine::checkpointUnlessBusy()
{
    return m_db.isReadOnly() || m_db.checkpointWithoutWaiting();
}

// --- following other programs ---------------------------------------------------------------

void SqliteEngine::watchChanges()
{
    m_seenVersion = m_db.dataVersion();
    m_logged = hasTable(m_db, changeLogTable);
    if (!m_logged)
        return;
    m_lastLogged = lastLogged(m_db);
    if (m_db.isReadOnly())
        return; // it writes no rows of its own
    // The connection's own rows of the log: named after this computer and person, and noted.
    m_ownNoted = true;
    m_db.exec(
        QStringLiteral("CREATE TEMP TABLE IF NOT EXISTS reestr_own (Номер INTEGER PRIMARY KEY);\n"
                       "CREATE TEMP TRIGGER IF NOT EXISTS reestr_own_change AFTER INSERT ON "
                       "main.Izmeneniya BEGIN UPDATE Izmeneniya SET Компьютер = %1, "
                       "Пользователь = %2 WHERE Номер = NEW.Номер; INSERT OR IGNORE INTO "
                       "reestr_own VALUES (NEW.Номер); END;")
            .arg(sqlText(thisComputer()), sqlText(thisPerson())));
}

OthersChanges SqliteEngine::othersChanges()
{
    if (m_db.inTransaction())
        return {};
    const quint64 version = m_db.dataVersion();
    if (version == m_seenVersion)
        return {};
    m_seenVersion = version;
    OthersChanges changes;
    if (!m_logged) {
        changes.everything = true;
        return changes;
    }
    m_db.exec(QStringLiteral("BEGIN"));
    try {
        SqliteStatement first = m_db.prepare(
            QStringLiteral("SELECT coalesce(min(Номер), 0) FROM Izmeneniya WHERE Номер > 0"));
        first.step();
        // The log was trimmed past what was seen: it no longer tells everything.
        changes.everything = first.columnInt64(0) > m_lastLogged + 1;
        SqliteStatement rows = m_db.prepare(
            QStringLiteral("SELECT Таблица, Код FROM Izmeneniya WHERE Номер > ? %1 ORDER BY Номер")
                .arg(m_ownNoted ? QStringLiteral("AND Номер NOT IN (SELECT Номер FROM "
                                                 "temp.reestr_own)")
                                : QString()));
        rows.bindInt64(1, m_lastLogged);
        while (!changes.everything && rows.step()) {
            const QString table = rows.columnText(0);
            auto held = std::find_if(changes.tables.begin(), changes.tables.end(),
                                     [&](const auto &t) { return t.name == table; });
            if (held == changes.tables.end())
                held = changes.tables.insert(changes.tables.end(), {table, {}, false});
            if (rows.columnType(1) == SqliteStatement::Type::Null)
                held->whole = true;
            else if (!held->whole)
                held->keys.push_back(rows.columnInt64(1));
        }
        m_lastLogged = lastLogged(m_db);
        m_db.exec(QStringLiteral("COMMIT"));
    } catch (...) {
        m_db.exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    if (m_ownNoted)
        m_db.exec(
            QStringLiteral("DELETE FROM temp.reestr_own WHERE Номер <= %1").arg(m_lastLogged));
    return changes;
}

std::optional<ChangeAuthor> SqliteEngine::lastChange(const QString &table, qint64 key)
{
    if (!m_logged)
        return std::nullopt;
    SqliteStatement statement = m_db.prepare(QStringLiteral(
        "SELECT Компьютер, Пользователь, Время FROM Izmeneniya WHERE Номер > 0 AND "
        "Таблица = ? COLLATE NOCASE AND (Код = ? OR Код IS NULL) ORDER BY Номер DESC LIMIT 1"));
    statement.bind(1, table);
    statement.bindInt64(2, key);
    if (!statement.step())
        return std::nullopt;
    return ChangeAuthor{
        statement.columnText(0), statement.columnText(1),
        QDateTime::fromString(statement.columnText(2), QStringLiteral("yyyy-MM-dd HH:mm:ss"))};
}

void SqliteEngine::changeWholeTable(const QString &table)
{
    if (!m_logged || !m_db.inTransaction())
        return;
    // While the mark (Номер 0) is in the log, its triggers log nothing row by row.
    if (!std::exchange(m_wholeMarked, true))
        m_db.exec(QStringLiteral("INSERT INTO Izmeneniya (Номер, Таблица) VALUES (0, '')"));
    SqliteStatement whole = m_db.prepare(QStringLiteral(
        "INSERT INTO Izmeneniya (Таблица, Время) VALUES (?, datetime('now', 'localtime'))"));
    whole.bind(1, table);
    whole.run();
}

void SqliteEngine::commitTransaction()
{
    if (std::exchange(m_wholeMarked, false))
        m_db.exec(QStringLiteral("DELETE FROM Izmeneniya WHERE Номер = 0"));
    m_db.commitTransaction();
}

void SqliteEngine::rollbackTransaction()
{
    m_wholeMarked = false;
    m_db.rollbackTransaction();
}

void SqliteEngine::execute(const QString &sql, const std::vector<Value> &parameters)
{
    static const QRegularExpression numbered(QStringLiteral("\\$(\\d+)"));
    SqliteStatement statement =
        m_db.prepare(QString(sql).replace(numbered, QStringLiteral("?\\1")));
    for (size_t i = 0; i < parameters.size(); ++i)
        statement.bind(int(i) + 1, parameters[i]);
    statement.run();
    m_db.countWrite();
}

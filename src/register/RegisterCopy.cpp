#include "RegisterCopy.h"

#include "ServerRegister.h"
#include "platform/Error.h"
#include "engines/postgres/PostgresEngine.h"
#include "register/RegisterSchema.h"
#include "engines/sqlite/SqliteConnection.h"
#include "engines/sqlite/SqliteEngine.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace RegisterCopy {

namespace {

using RegisterSchema::Table;

// A register made on a server and filled in one transaction, its rows sent in bulk by COPY: one
// round trip per piece, not per row.
class ServerTarget final : public RegisterCopier::Target
{
public:
    ServerTarget(const QString &conninfo, const PasswordPrompt &prompt) : m_db(conninfo, prompt)
    {
        DatabaseTool::refuseExistingRegister(m_db);
        m_db.beginTransaction();
        DatabaseTool::createServerTables(m_db);
    }
    ~ServerTarget() override
    {
        if (m_finished)
            return;
        try {
            m_db.rollbackTransaction();
        } catch (const Error &) {
        }
    }

    QString where() const override { return m_db.where(); }
    void append(const Table &table, const std::vector<Value> &row) override
    {
        if (m_copying != table.name) {
            m_db.beginCopy(
                QStringLiteral("COPY %1 (%2) FROM STDIN").arg(table.qName(), table.columnList()));
            m_copying = table.name;
        }
        m_db.copyRow(row);
    }
    qint64 count(const Table &table) override
    {
        if (std::exchange(m_copying, nullptr))
            m_db.endCopy();
        return m_db.exec(QStringLiteral("SELECT count(*) FROM %1").arg(table.qName()))
            .text(0, 0)
            .toLongLong();
    }
    void finish() override
    {
        // New people are numbered after the highest key copied, as on the file.
        m_db.exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('main', 'Код'), "
                                 "coalesce(max(Код), 0) + 1, false) FROM Main"));
        DatabaseTool::addServerLiveRegister(m_db);
        m_db.commitTransaction();
        m_finished = true;
    }

private:
    PgConnection m_db;
    const char *m_copying = nullptr; // the table being written
    bool m_finished = false;
};

std::unique_ptr<Engine> openSource(const Side &side, const PasswordPrompt &prompt)
{
    if (side.onServer()) {
        ServerAccess access;
        access.prompt = prompt;
        for (const Table &table : RegisterSchema::tables())
            access.tables.push_back(table.qName());
        return std::make_unique<PostgresEngine>(side.server, access);
    }
    return std::make_unique<SqliteEngine>(side.file);
}

std::unique_ptr<RegisterCopier::Target> openTarget(const Side &side, const PasswordPrompt &prompt)
{
    if (side.onServer())
        return std::make_unique<ServerTarget>(side.server, prompt);
    return RegisterCopier::newFile(side.file);
}

} // namespace

QList<TableCount> copy(const Side &from, const Side &to, const Progress &progress,
                       const PasswordPrompt &prompt, const RegisterCopier::StopRequested &stop)
{
    const std::unique_ptr<Engine> source = openSource(from, prompt);
    const std::unique_ptr<RegisterCopier::Target> target = openTarget(to, prompt);
    return RegisterCopier::copy(*source, *target, progress, stop);
}

QStringList leftOut(const Side &from)
{
    if (from.onServer())
        return {};
    SqliteConnection db(from.file, SqliteConnection::Mode::OpenExisting);
    QStringList left;
    SqliteStatement tables = db.prepare(QStringLiteral(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' "
        "ORDER BY name"));
    while (tables.step()) {
        const QString name = tables.columnText(0);
        // The copy makes its own change log, and its ages are given a year by the next
        // calculation.
        if (name == QLatin1String(RegisterSchema::changeLogTable) ||
            name == QLatin1String(RegisterSchema::agesTable))
            continue;
        const auto table = std::find_if(
            RegisterSchema::tables().begin(), RegisterSchema::tables().end(),
            [&](const Table &t) { return name.compare(t.qName(), Qt::CaseInsensitive) == 0; });
        if (table == RegisterSchema::tables().end()) {
            left << QStringLiteral("таблица %1").arg(name);
            continue;
        }
        SqliteStatement columns =
            db.prepare(QStringLiteral("PRAGMA table_info(%1)").arg(quoteIdentifier(name)));
        while (columns.step()) {
            const QString column = columns.columnText(1);
            const bool known =
                std::any_of(table->columns.begin(), table->columns.end(),
                            [&](const RegisterSchema::Column &c) { return column == c.qName(); });
            if (!known)
                left << QStringLiteral("столбец %1.%2").arg(name, column);
        }
    }
    return left;
}

} // namespace RegisterCopy

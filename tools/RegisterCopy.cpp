#include "RegisterCopy.h"

#include "DatabaseTool.h"
#include "Interrupts.h"
#include "ServerRegister.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Postgres.h"
#include "platform/RegisterSchema.h"
#include "platform/ScratchDatabase.h"
#include "platform/Sqlite.h"
#include "platform/SqliteEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <utility>
#include <map>
#include <memory>
#include <optional>
#include <unistd.h>
#include <vector>

namespace RegisterCopy {

namespace {

using RegisterSchema::Table;

bool isText(const Table &table, size_t column)
{
    return table.columns[column].kind == RegisterSchema::Kind::Text;
}

// Stops the copy between two rows once Ctrl+C or a termination came.
void stopIfInterrupted()
{
    if (InterruptGuard::interrupted())
        throw Error(QStringLiteral("Копирование прервано"));
}

using Row = std::vector<Value>;

// One side of the copy.
class Register
{
public:
    virtual ~Register() = default;
    virtual QString where() const = 0;
    // Gives the table's rows one at a time, in key order.
    virtual void read(const Table &table, const std::function<void(const Row &)> &row) = 0;
    virtual void insert(const Table &table, const Row &row) = 0;
    // The rows the table holds; a target's table is written whole first.
    virtual qint64 count(const Table &table) = 0;
    // The target made whole: committed, and for a file, given its name.
    virtual void finish() = 0;
};

class FileRegister final : public Register
{
public:
    // A source is read in one read transaction; a target is made under a name of its own.
    FileRegister(const QString &path, bool target) : m_path(path)
    {
        if (!target) {
            m_db = std::make_unique<SqliteConnection>(path, SqliteConnection::Mode::OpenExisting);
            m_db->exec(QStringLiteral("BEGIN"));
            return;
        }
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            throw Error(QStringLiteral("Файл «%1» уже существует").arg(where()));
        m_scratch.emplace(path, QStringLiteral("copy"));
        m_scratch->db().beginTransaction();
        createRegisterTables(m_scratch->db());
    }
    ~FileRegister() override { m_inserts.clear(); }

    QString where() const override { return Files::shownPath(m_path); }
    void read(const Table &table, const std::function<void(const Row &)> &give) override
    {
        SqliteStatement select = db().prepare(QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid")
                                                  .arg(table.columnList(), table.qName()));
        Row row(table.columns.size());
        while (select.step()) {
            for (int column = 0; column < int(table.columns.size()); ++column)
                row[size_t(column)] = select.columnValue(column);
            give(row);
        }
    }
    void insert(const Table &table, const Row &row) override
    {
        auto prepared = m_inserts.find(table.name);
        if (prepared == m_inserts.end()) {
            QStringList marks;
            for (size_t i = 0; i < table.columns.size(); ++i)
                marks << QStringLiteral("?");
            prepared = m_inserts
                           .emplace(table.name,
                                    db().prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                                     .arg(table.qName(), table.columnList(),
                                                          marks.join(QStringLiteral(", ")))))
                           .first;
        }
        SqliteStatement &statement = prepared->second;
        for (size_t i = 0; i < row.size(); ++i)
            statement.bind(int(i) + 1, row[i]);
        statement.run();
    }
    qint64 count(const Table &table) override
    {
        SqliteStatement counted =
            db().prepare(QStringLiteral("SELECT count(*) FROM %1").arg(table.qName()));
        counted.step();
        return counted.columnInt64(0);
    }
    void finish() override
    {
        m_inserts.clear();
        db().commitTransaction();
        m_scratch->publish();
    }

private:
    SqliteConnection &db() { return m_scratch ? m_scratch->db() : *m_db; }

    QString m_path;
    std::unique_ptr<SqliteConnection> m_db;   // a source
    std::optional<ScratchDatabase> m_scratch; // a target
    std::map<const char *, SqliteStatement> m_inserts;
};

class ServerRegister final : public Register
{
public:
    ServerRegister(const QString &conninfo, bool target, const PasswordPrompt &prompt)
        : m_db(conninfo, prompt)
    {
        if (!target) {
            // One snapshot of the whole register: another computer's half-done work never shows.
            m_db.exec(QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
            return;
        }
        DatabaseTool::refuseExistingRegister(m_db);
        m_db.beginTransaction();
        DatabaseTool::createServerTables(m_db);
    }
    ~ServerRegister() override
    {
        if (m_finished)
            return;
        try {
            m_db.rollbackTransaction(); // a target unfinished, or the source's snapshot
        } catch (const Error &) {
        }
    }

    QString where() const override { return m_db.where(); }
    void read(const Table &table, const std::function<void(const Row &)> &give) override
    {
        const PgResult result = m_db.exec(
            QStringLiteral("SELECT %1 FROM %2 ORDER BY %3")
                .arg(table.columnList(), table.qName(),
                     table.columns.size() > 1 ? table.columns[0].qName() : QStringLiteral("ctid")));
        Row row(table.columns.size());
        for (int r = 0; r < result.rows(); ++r) {
            for (int column = 0; column < int(table.columns.size()); ++column) {
                if (result.isNull(r, column))
                    row[size_t(column)] = Value();
                else if (isText(table, size_t(column)))
                    row[size_t(column)] = result.text(r, column);
                else
                    row[size_t(column)] = result.text(r, column).toLongLong();
            }
            give(row);
        }
    }
    // Rows go in bulk, by COPY: one round trip per piece, not per row.
    void insert(const Table &table, const Row &row) override
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
        m_db.commitTransaction();
        m_finished = true;
    }

private:
    PgConnection m_db;
    const char *m_copying = nullptr; // the table being written
    bool m_finished = false;
};

std::unique_ptr<Register> open(const Side &side, bool target, const PasswordPrompt &prompt)
{
    if (side.onServer())
        return std::make_unique<ServerRegister>(side.server, target, prompt);
    return std::make_unique<FileRegister>(side.file, target);
}

} // namespace

QList<TableCount> copy(const Side &from, const Side &to, const Progress &progress,
                       const PasswordPrompt &prompt)
{
    InterruptGuard interrupts;
    const std::unique_ptr<Register> source = open(from, false, prompt);
    const std::unique_ptr<Register> target = open(to, true, prompt);
    QList<TableCount> counts;
    for (const Table &table : RegisterSchema::tables()) {
        const QString name = table.qName();
        const qint64 total = source->count(table);
        qint64 done = 0;
        source->read(table, [&](const Row &row) {
            stopIfInterrupted();
            target->insert(table, row);
            if (++done % 1000 == 0 && progress)
                progress(name, done, total);
        });
        if (progress)
            progress(name, done, total);
        if (done != total) {
            throw Error(QStringLiteral("Таблица %1: строк %2, прочитано %3")
                            .arg(name)
                            .arg(total)
                            .arg(done));
        }
        const qint64 written = target->count(table);
        if (written != total) {
            throw Error(QStringLiteral("Таблица %1: прочитано строк %2, записано %3")
                            .arg(name)
                            .arg(total)
                            .arg(written));
        }
        counts.append({name, total});
    }
    stopIfInterrupted();
    target->finish();
    return counts;
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

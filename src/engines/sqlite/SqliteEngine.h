#pragma once

#include "engines/sqlite/SqliteConnection.h"
#include "engines/sqlite/SqliteRowSource.h"

#include "engines/Engine.h"

#include <QString>

#include <map>
#include <memory>
#include <vector>

// A Base.mdb file as the register's engine.
class SqliteEngine final : public Engine
{
public:
    // Opens the file, never creating it; fails with a message naming it.
    explicit SqliteEngine(const QString &path);

    SqliteConnection &connection() { return m_db; }

    std::unique_ptr<RowSource> table(const QString &name) override;
    std::unique_ptr<RowSource> query(const QString &sql) override;
    bool isReadOnly() const override { return m_db.isReadOnly(); }
    QString where() const override;
    QString networkShare() const override { return m_db.networkShare(); }
    bool logInUseOnShare() const override { return m_db.logInUseOnShare(); }
    bool checkpointUnlessBusy() override;
    void beginTransaction() override { m_db.beginTransaction(); }
    void commitTransaction() override;
    void rollbackTransaction() override;
    // A read transaction: the file as of its first read, other programs' writes not held up.
    void beginSnapshot() override { m_db.exec(QStringLiteral("BEGIN")); }
    void execute(const QString &sql, const std::vector<Value> &parameters) override;

    // Other programs' changes: the file's data version, looked at when asked, tells that one
    // committed; the change log in the file tells what. A file without the log is read again
    // whole. This program's own rows of the log are told apart by a temporary table of its
    // connection, which also writes the computer's and the person's names into them.
    OthersChanges othersChanges() override;
    std::optional<ChangeAuthor> lastChange(const QString &table, qint64 key) override;
    void changeWholeTable(const QString &table) override;

private:
    void watchChanges();

    SqliteConnection m_db;
    bool m_logged = false;      // the file keeps the change log
    bool m_ownNoted = false;    // this connection's rows of the log are noted
    quint64 m_seenVersion = 0;  // the data version when last asked
    qint64 m_lastLogged = 0;    // the last row of the log seen
    bool m_wholeMarked = false; // this transaction logs whole tables
};

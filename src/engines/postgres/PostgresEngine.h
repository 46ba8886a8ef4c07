#pragma once

#include "engines/postgres/PgConnection.h"
#include "engines/postgres/PgRowSource.h"

#include "engines/Engine.h"

#include <QString>

#include <map>
#include <memory>
#include <optional>

// A register on a PostgreSQL server as the register's engine.
class PostgresEngine final : public Engine
{
public:
    PostgresEngine(const QString &conninfo, const ServerAccess &access);

    PgConnection &connection() { return m_db; }

    std::unique_ptr<RowSource> table(const QString &name) override;
    std::unique_ptr<RowSource> query(const QString &sql) override;
    // The role may not change the register's people.
    bool isReadOnly() const override { return m_readOnly; }
    QString where() const override { return m_db.where(); }
    void beginTransaction() override { m_db.beginTransaction(); }
    void beginSnapshot() override;
    void commitTransaction() override { m_db.commitTransaction(); }
    void rollbackTransaction() override { m_db.rollbackTransaction(); }
    void sendPostsAhead() override { m_db.startPipeline(); }
    void settlePosts() override { m_db.settle(); }
    void takeTable(const QString &table) override;
    void execute(const QString &sql, const std::vector<Value> &parameters) override;

    // Other computers' changes, as the register's triggers notify them, heard on the connection
    // between statements when the access asks to watch them.
    int changeSignal() override;
    OthersChanges othersChanges() override;
    std::optional<ChangeAuthor> lastChange(const QString &table, qint64 key) override;
    void changeWholeTable(const QString &table) override;

private:
    PgConnection m_db;
    bool m_logged = false; // the register keeps the change log and notifies
    bool m_readOnly = false;
    std::map<QString, PgTable> m_tables; // the register's tables as start-up read them
};

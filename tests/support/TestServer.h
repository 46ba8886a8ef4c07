#pragma once

#include "engines/postgres/PostgresEngine.h"

#include <QString>

#include <memory>

// A database of one test on the tests' PostgreSQL server, which a CTest fixture starts once for
// all of them (tests/server/pg_server.sh); dropped with the object. With `withRegister` it holds
// the register as `reestr-db init --server` makes it. ok() is false where PostgreSQL cannot be
// installed (why() says so, and the test skips); a server that should have started and did not
// fails the test instead.
class ServerDatabase
{
public:
    explicit ServerDatabase(bool withRegister = true, bool withDemo = false);
    ~ServerDatabase();
    ServerDatabase(const ServerDatabase &) = delete;
    ServerDatabase &operator=(const ServerDatabase &) = delete;

    bool ok() const { return m_ok; }
    const QString &why() const { return m_why; }
    // The database's libpq connection string, as the program is given it.
    const QString &conninfo() const { return m_conninfo; }
    // The database's name, unique to the test: roles, which the whole server shares, take it.
    const QString &name() const { return m_name; }
    // The server's administrator connection string (the maintenance database).
    const QString &admin() const { return m_admin; }
    // The Unix socket the server listens on, for a relay to join.
    QString socket() const;

    // A separate connection, as another computer would have.
    std::unique_ptr<PgConnection> connect() const;
    void exec(const QString &sql) const;
    // The first column of the first row, as text ("" for null).
    QString scalar(const QString &sql) const;

private:
    QString m_admin;
    QString m_name;
    QString m_conninfo;
    QString m_why;
    bool m_ok = false;
};

// Skips the test where there is no server, and fails it where one should have started.
#define REQUIRE_SERVER(database)                                                                   \
    do {                                                                                           \
        if (!(database).ok()) {                                                                    \
            if ((database).why().startsWith(QLatin1String("skip: ")))                              \
                GTEST_SKIP() << (database).why().toStdString();                                    \
            FAIL() << (database).why().toStdString();                                              \
        }                                                                                          \
    } while (false)

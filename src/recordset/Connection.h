#pragma once

#include "platform/Sqlite.h"

#include <QString>

#include <memory>

// The one connection of the program to its database file. It opens on request, and a record set
// that opens while the connection is closed asks it to open first.
class Connection
{
public:
    explicit Connection(QString fileName);
    ~Connection();

    const QString &fileName() const { return m_fileName; }
    bool isOpen() const { return m_engine != nullptr; }

    // Opens the file, never creating it; fails with the engine's message. No effect when open.
    void open();
    void close();

    SqliteConnection &engine();

private:
    QString m_fileName;
    std::unique_ptr<SqliteConnection> m_engine;
};

// One write transaction on the connection around a run of posts (the age walk): every post joins
// it and they are committed together when the run ends, also when it fails part-way, so nothing
// posted before a failure is undone. A crash leaves every row as it was before the run or as the
// run wrote it, and another copy of the program never sees half a run.
class WriteTransaction
{
public:
    explicit WriteTransaction(Connection &connection);
    // Commits what was posted; a failed commit here is not reported (a failure is already on
    // its way) but leaves the transaction to the engine, which rolls it back.
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction &) = delete;
    WriteTransaction &operator=(const WriteTransaction &) = delete;

    // Commits now; fails with the engine's message.
    void commit();

private:
    SqliteConnection *m_engine;
    bool m_open = true;
};

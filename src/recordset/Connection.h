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

#include "Connection.h"

Connection::Connection(QString fileName) : m_fileName(std::move(fileName)) {}

Connection::~Connection() = default;

void Connection::open()
{
    if (!m_engine)
        m_engine =
            std::make_unique<SqliteConnection>(m_fileName, SqliteConnection::Mode::OpenExisting);
}

void Connection::close()
{
    m_engine.reset();
}

SqliteConnection &Connection::engine()
{
    open();
    return *m_engine;
}

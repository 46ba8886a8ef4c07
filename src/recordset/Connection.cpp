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

WriteTransaction::WriteTransaction(Connection &connection) : m_engine(&connection.engine())
{
    // IMMEDIATE takes the write lock now: another copy's run waits for this one (the busy
    // timeout) instead of interleaving with it row by row.
    m_engine->exec(QStringLiteral("BEGIN IMMEDIATE"));
}

WriteTransaction::~WriteTransaction()
{
    if (!m_open)
        return;
    try {
        m_engine->exec(QStringLiteral("COMMIT"));
    } catch (const Error &) {
        try {
            m_engine->exec(QStringLiteral("ROLLBACK"));
        } catch (const Error &) {
        }
    }
}

void WriteTransaction::commit()
{
    m_open = false;
    try {
        m_engine->exec(QStringLiteral("COMMIT"));
    } catch (const Error &) {
        // Never left open behind the user's back: the next post would join it unseen.
        try {
            m_engine->exec(QStringLiteral("ROLLBACK"));
        } catch (const Error &) {
        }
        throw;
    }
}

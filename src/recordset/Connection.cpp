#include "Connection.h"

#include "platform/Sqlite.h"

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

void Connection::initializeEngine()
{
    ::initializeEngine();
}

bool Connection::isReadOnly() const
{
    return m_engine && m_engine->isReadOnly();
}

QString Connection::networkShare() const
{
    return m_engine ? m_engine->networkShare() : QString();
}

bool Connection::logInUseOnShare() const
{
    return m_engine && m_engine->logInUseOnShare();
}

bool Connection::checkpointUnlessBusy()
{
    return !m_engine || m_engine->isReadOnly() || m_engine->checkpointWithoutWaiting();
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

namespace {

// Commits; a commit that fails is rolled back, so no transaction is ever left open behind the
// user's back (the next post would join it unseen), and the failure goes on.
void commitOrRollBack(SqliteConnection &engine)
{
    try {
        engine.exec(QStringLiteral("COMMIT"));
    } catch (const Error &) {
        try {
            engine.exec(QStringLiteral("ROLLBACK"));
        } catch (const Error &) {
        }
        throw;
    }
}

} // namespace

WriteTransaction::~WriteTransaction()
{
    if (!m_open)
        return;
    try {
        commitOrRollBack(*m_engine);
    } catch (const Error &) {
        // A failure is already on its way to the user.
    }
}

void WriteTransaction::commit()
{
    m_open = false;
    commitOrRollBack(*m_engine);
}

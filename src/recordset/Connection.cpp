#include "Connection.h"

#include "platform/SqliteEngine.h"

Connection::Connection(QString fileName) : m_fileName(std::move(fileName)) {}

Connection::~Connection() = default;

void Connection::open()
{
    if (!m_engine)
        m_engine = std::make_unique<SqliteEngine>(m_fileName);
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
    return !m_engine || m_engine->checkpointUnlessBusy();
}

Engine &Connection::engine()
{
    open();
    return *m_engine;
}

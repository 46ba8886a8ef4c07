#include "Connection.h"

#include "platform/Dialogs.h"
#include "platform/Postgres.h"
#include "platform/SqliteEngine.h"

#include <QDir>
#include <QFileInfo>

Connection::Connection(QString fileName, QString server)
    : m_fileName(std::move(fileName)), m_server(std::move(server))
{}

Connection::~Connection() = default;

void Connection::open()
{
    if (m_engine)
        return;
    if (m_server.isEmpty()) {
        m_engine = std::make_unique<SqliteEngine>(m_fileName);
        return;
    }
    // A password the server asks for is asked of the person, never stored.
    m_engine = std::make_unique<PostgresEngine>(
        m_server, [](const QString &question) { return Dialogs::current().askPassword(question); });
}

void Connection::close()
{
    m_engine.reset();
}

bool Connection::serverNamesAPassword(const QString &server)
{
    return conninfoHasPassword(server);
}

void Connection::initializeEngine()
{
    ::initializeEngine();
}

QString Connection::where() const
{
    if (m_engine)
        return m_engine->where();
    return m_server.isEmpty() ? QDir::toNativeSeparators(QFileInfo(m_fileName).absoluteFilePath())
                              : QStringLiteral("сервер баз данных");
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

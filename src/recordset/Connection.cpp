#include "Connection.h"

#include "RecordSet.h"

#include "ServerSession.h"

#include "engines/EngineChoice.h"
#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "register/RegisterCopier.h"

Connection::Connection(QString fileName, QString server)
    : m_fileName(std::move(fileName)), m_server(std::move(server))
{
    if (!m_server.isEmpty())
        m_session = std::make_unique<ServerSession>(m_server);
}

Connection::~Connection() = default;

void Connection::open(bool now)
{
    if (m_engine)
        return;
    if (!m_session) {
        ServerAccess access;
        access.waiting = [](const Wait &wait) {
            return !Dialogs::isInstalled() || Dialogs::current().showWaiting(wait);
        };
        m_engine = EngineChoice::open(m_fileName, QString(), access);
        return;
    }
    m_engine = m_session->open(now);
    openWaiting();
}

void Connection::close()
{
    m_engine.reset();
}

void Connection::setAnswerLimit(std::chrono::seconds limit)
{
    ServerSession::setAnswerLimit(limit);
}

bool Connection::serverNamesAPassword(const QString &server)
{
    return EngineChoice::serverNamesAPassword(server);
}

void Connection::initializeEngine()
{
    EngineChoice::initialize();
}

QString Connection::where() const
{
    if (m_engine)
        return m_engine->where();
    return m_server.isEmpty() ? Files::shownPath(m_fileName) : QStringLiteral("сервер баз данных");
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

void Connection::snapshot(const QString &file)
{
    const std::unique_ptr<RegisterCopier::Target> target = RegisterCopier::newFile(file);
    RegisterCopier::copy(engine(), *target);
}

void Connection::openWaiting()
{
    for (RecordSet *set : std::vector<RecordSet *>(m_sets)) {
        if (set->waitsToOpen())
            set->setActive(true);
    }
}

void Connection::attach(RecordSet *set)
{
    m_sets.push_back(set);
}

void Connection::detach(RecordSet *set)
{
    std::erase(m_sets, set);
}

void Connection::rowStored(const RecordSet &from, qint64 keyAsRead, int row)
{
    for (RecordSet *set : m_sets) {
        if (set != &from)
            set->takeStoredRow(from, keyAsRead, row);
    }
}

void Connection::rowDeleted(const RecordSet &from, qint64 key)
{
    for (RecordSet *set : m_sets) {
        if (set != &from)
            set->dropDeletedRow(from, key);
    }
}

int Connection::changeSignal() const
{
    return m_engine ? m_engine->changeSignal() : -1;
}

bool Connection::showOthersChanges()
{
    if (!m_engine)
        return false;
    // What waited for an edit to end is read now that it has.
    for (RecordSet *set : std::vector<RecordSet *>(m_sets))
        set->catchUpWithOthers();
    const OthersChanges changes = m_engine->othersChanges();
    if (changes.empty())
        return false;
    for (RecordSet *set : std::vector<RecordSet *>(m_sets))
        set->takeOthersChanges(changes);
    return true;
}

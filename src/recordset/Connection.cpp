#include "Connection.h"

#include "RecordSet.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/RegisterCopier.h"
#include "platform/Sqlite.h"
#include "platform/SqliteEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>

#include <map>

namespace {

// A function of the server engine's module, which lies beside the program and is loaded once, on
// the first use of a server. Fails with a message naming the module when it cannot be loaded.
template <typename Function> Function serverModuleFunction(const char *name)
{
    static QLibrary module(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QLatin1String(serverModuleName));
    if (!module.isLoaded() && !module.load()) {
        throw Error(QStringLiteral("Не удается загрузить модуль работы с сервером баз данных: %1")
                        .arg(module.errorString()));
    }
    const auto function = reinterpret_cast<Function>(module.resolve(name));
    if (!function)
        throw Error(QStringLiteral("Модуль работы с сервером баз данных не годится: %1")
                        .arg(module.errorString()));
    return function;
}

// Passwords the person gave in this run, by server: a reconnect, or the start that follows the
// first start's check, does not ask again. Kept in memory only, never written anywhere.
std::map<QString, QString> &givenPasswords()
{
    static std::map<QString, QString> given;
    return given;
}

std::chrono::seconds &answerLimit()
{
    static std::chrono::seconds limit = defaultAnswerLimit;
    return limit;
}

} // namespace

void Connection::setAnswerLimit(std::chrono::seconds limit)
{
    answerLimit() = limit;
}

Connection::Connection(QString fileName, QString server)
    : m_fileName(std::move(fileName)), m_server(std::move(server))
{}

Connection::~Connection() = default;

void Connection::open(bool now)
{
    if (m_engine)
        return;
    if (m_server.isEmpty()) {
        SqliteConnection::setWaitObserver([](const Wait &wait) {
            return !Dialogs::isInstalled() || Dialogs::current().showWaiting(wait);
        });
        m_engine = std::make_unique<SqliteEngine>(m_fileName);
        return;
    }
    // A person who declined to give the password is not asked again in this run.
    if (!m_declined.isEmpty())
        throw PasswordDeclined(m_declined);
    // A server that just did not answer is not waited for again at once (each table of the
    // start-up asks): the same message comes until as long again has passed.
    if (m_silent && !now &&
        m_silent->since.elapsed() < std::chrono::milliseconds(answerLimit()).count())
        throw ServerSilent(m_silent->message);
    const auto open = serverModuleFunction<OpenServerEngine>(openServerEngineName);
    ServerAccess access;
    access.watchChanges = true;
    std::optional<QString> given;
    access.prompt = [&given](const QString &question) {
        given = Dialogs::current().askPassword(question);
        return given;
    };
    if (const auto known = givenPasswords().find(m_server); known != givenPasswords().end())
        access.password = known->second;
    access.answerLimit = answerLimit();
    access.waiting = [](const Wait &wait) {
        return !Dialogs::isInstalled() || Dialogs::current().showWaiting(wait);
    };
    access.stored = [](const QString &message) {
        if (Dialogs::isInstalled())
            Dialogs::current().showNote(message);
    };
    try {
        m_engine.reset(open(m_server, access));
    } catch (const PasswordDeclined &e) {
        m_declined = e.message();
        throw;
    } catch (const ServerSilent &e) {
        m_silent.emplace();
        m_silent->message = e.message();
        m_silent->since.start();
        throw;
    }
    m_silent.reset();
    if (given)
        givenPasswords()[m_server] = *given;
    openWaiting();
}

void Connection::close()
{
    m_engine.reset();
}

bool Connection::serverNamesAPassword(const QString &server)
{
    return !server.isEmpty() &&
           serverModuleFunction<ServerNamesAPassword>(serverNamesAPasswordName)(server);
}

void Connection::initializeEngine()
{
    ::initializeEngine();
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

#include "ServerSession.h"

#include "engines/EngineChoice.h"
#include "engines/EngineErrors.h"
#include "platform/Dialogs.h"
#include "register/RegisterSchema.h"

#include <map>

namespace {

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

ServerSession::ServerSession(QString server) : m_server(std::move(server)) {}

void ServerSession::setAnswerLimit(std::chrono::seconds limit)
{
    answerLimit() = limit;
}

ServerAccess ServerSession::access(std::optional<QString> &given) const
{
    ServerAccess access;
    access.watchChanges = true;
    for (const RegisterSchema::Table &table : RegisterSchema::tables())
        access.tables.push_back(table.qName());
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
    return access;
}

std::unique_ptr<Engine> ServerSession::open(bool now)
{
    if (!m_declined.isEmpty())
        throw PasswordDeclined(m_declined);
    // Each table of the start-up asks: the same message comes until as long again has passed.
    if (m_silent && !now &&
        m_silent->since.elapsed() < std::chrono::milliseconds(answerLimit()).count())
        throw ServerSilent(m_silent->message);
    std::optional<QString> given;
    std::unique_ptr<Engine> engine;
    try {
        engine = EngineChoice::open(QString(), m_server, access(given));
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
    return engine;
}

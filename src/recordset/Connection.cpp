#include "Connection.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "platform/SqliteEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

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

} // namespace

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
    const auto open = serverModuleFunction<OpenServerEngine>(openServerEngineName);
    m_engine.reset(open(m_server, [](const QString &question) {
        return Dialogs::current().askPassword(question);
    }));
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

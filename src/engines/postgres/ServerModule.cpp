// Loading the server engine's module. Built into the engines library, not the module: it is what
// the program uses to reach the module.
#include "engines/postgres/ServerModule.h"

#include "platform/Error.h"

#include <QCoreApplication>
#include <QLibrary>

namespace ServerModule {
namespace {

// A function of the module, which is loaded once, on the first use of a server.
template <typename Function> Function function(const char *name)
{
    static QLibrary module(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QLatin1String(fileName));
    if (!module.isLoaded() && !module.load()) {
        throw Error(QStringLiteral("Не удается загрузить модуль работы с сервером баз данных: %1")
                        .arg(module.errorString()));
    }
    const auto found = reinterpret_cast<Function>(module.resolve(name));
    if (!found)
        throw Error(QStringLiteral("Модуль работы с сервером баз данных не годится: %1")
                        .arg(module.errorString()));
    return found;
}

} // namespace

std::unique_ptr<Engine> openEngine(const QString &conninfo, const ServerAccess &access)
{
    return std::unique_ptr<Engine>(function<OpenEngine>(openEngineName)(conninfo, access));
}

bool namesAPassword(const QString &conninfo)
{
    return function<NamesAPassword>(namesAPasswordName)(conninfo);
}

} // namespace ServerModule

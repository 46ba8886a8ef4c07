#include "engines/EngineChoice.h"

#include "engines/postgres/ServerModule.h"
#include "engines/sqlite/SqliteEngine.h"

namespace EngineChoice {

void initialize()
{
    initializeEngine();
}

std::unique_ptr<Engine> open(const QString &fileName, const QString &server,
                             const ServerAccess &access)
{
    if (!server.isEmpty())
        return ServerModule::openEngine(server, access);
    SqliteConnection::setWaitObserver(access.waiting);
    return std::make_unique<SqliteEngine>(fileName);
}

bool serverNamesAPassword(const QString &server)
{
    return !server.isEmpty() && ServerModule::namesAPassword(server);
}

} // namespace EngineChoice

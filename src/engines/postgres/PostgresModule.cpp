// The server engine's module: what the program looks up in it when it opens a register on a server.
#include "engines/postgres/PostgresEngine.h"
#include "engines/postgres/ServerModule.h"

extern "C" {

Q_DECL_EXPORT Engine *reestrOpenServerEngine(const QString &conninfo, const ServerAccess &access)
{
    static_assert(std::is_same_v<decltype(&reestrOpenServerEngine), ServerModule::OpenEngine>);
    return new PostgresEngine(conninfo, access);
}

Q_DECL_EXPORT bool reestrServerNamesAPassword(const QString &conninfo)
{
    static_assert(
        std::is_same_v<decltype(&reestrServerNamesAPassword), ServerModule::NamesAPassword>);
    return conninfoHasPassword(conninfo);
}
}

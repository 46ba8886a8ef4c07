// The server engine's module: what the program looks up in it when it opens a register on a server.
#include "platform/Postgres.h"

extern "C" {

Q_DECL_EXPORT Engine *reestrOpenServerEngine(const QString &conninfo, const ServerAccess &access)
{
    return new PostgresEngine(conninfo, access);
}

Q_DECL_EXPORT bool reestrServerNamesAPassword(const QString &conninfo)
{
    return conninfoHasPassword(conninfo);
}
}

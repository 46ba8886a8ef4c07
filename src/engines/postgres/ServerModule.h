#pragma once

#include "engines/Engine.h"

#include <QString>

#include <memory>

// The server engine lives in a module of its own, loaded only when a register on a server is
// opened, so that a program working on a file never loads libpq and what it brings. The module
// lies in the folder "modules" beside the program and gives these functions, by these names.
namespace ServerModule {

using OpenEngine = Engine *(*)(const QString &conninfo, const ServerAccess &access);
using NamesAPassword = bool (*)(const QString &conninfo);
inline constexpr char openEngineName[] = "reestrOpenServerEngine";
inline constexpr char namesAPasswordName[] = "reestrServerNamesAPassword";
inline constexpr char fileName[] = "modules/reestr-postgres";

// The server's engine, through the module (loaded on the first use). Fails with a message naming
// the module when it cannot be loaded, or with the engine's.
std::unique_ptr<Engine> openEngine(const QString &conninfo, const ServerAccess &access);
// Whether a connection string carries a password.
bool namesAPassword(const QString &conninfo);

} // namespace ServerModule

#pragma once

#include "engines/Engine.h"

#include <QString>

#include <memory>

// Which engine keeps a register, and opening it: a file's name gives the file's engine; a server's
// connection string (a libpq string or URI) the server's, from its module beside the program.
namespace EngineChoice {

// Makes sure the file engine can be used; fails with "Error creating object. ..." otherwise.
void initialize();
// Opens the register `server` names, or the file when `server` is empty. A file is never created;
// `access.waiting` is shown a wait for another program's lock on it. Fails with the engine's
// message.
std::unique_ptr<Engine> open(const QString &fileName, const QString &server,
                             const ServerAccess &access);
// Whether a server's connection string carries a password.
bool serverNamesAPassword(const QString &server);

} // namespace EngineChoice

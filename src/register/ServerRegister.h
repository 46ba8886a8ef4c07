#pragma once

#include "engines/Engine.h"

#include <QString>

class PgConnection;

// Creating the register on a PostgreSQL server, apart from the file's: only what uses it links
// libpq.
namespace DatabaseTool {

// Creates the register's tables with their reference rows (and the demo people when asked) in a
// PostgreSQL database, given by a libpq connection string or URI; refuses a database that already
// holds them. Gives where it was made. Throws Error.
QString createServerRegister(const QString &conninfo, bool withDemo, int lastYear,
                             const PasswordPrompt &prompt = {});

// Brings a register an earlier version made on a server up to date: its text columns hold any
// text the program accepts, the program's size kept in their comments. Gives what was done.
// Throws Error.
// Adds what a register needs to tell other computers of its changes (RegisterSchema::serverLiveSql)
// and its roles' rights on it, after its rows are in. True when it was not there.
bool addServerLiveRegister(PgConnection &db);
QString upgradeServerRegister(const QString &conninfo, const PasswordPrompt &prompt = {});

// Fails with a message naming the server when the database already holds a register.
void refuseExistingRegister(PgConnection &db);
// Adds the register's tables, empty, the comparison the month search needs, and the roles
// DATABASE_reader (may read the register) and DATABASE_editor (may also change it).
void createServerTables(PgConnection &db);

} // namespace DatabaseTool

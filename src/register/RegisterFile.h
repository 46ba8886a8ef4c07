#pragma once

class SqliteConnection;

// The register's tables made in a file (ServerRegister makes them on a server).
namespace RegisterFile {

// Adds the register's four tables, empty, to an open, empty database file: Main with its
// auto-numbered key, God, Mesyats and Chislo.
void createTables(SqliteConnection &db);
// Adds what a file needs to tell other programs of its changes (RegisterSchema::fileLiveSql),
// after its rows are in. True when it was not all there.
bool addLiveRegister(SqliteConnection &db);

} // namespace RegisterFile

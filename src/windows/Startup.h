#pragma once

#include <QString>

#include <exception>
#include <functional>

// The program's start-up and shutdown order, the same for the program, its tests, its tools and
// its benchmarks: the main window, the data module (the main window's controls linked to it, then
// the database opened), the new-record window and the reference books window, destroyed in the
// reverse order.
namespace Startup {

using Step = void (*)();

// The register the data module opens: empty for Base.mdb in the current folder, or a server's
// libpq connection string. Set before createAll().
void setServer(const QString &server);
// The register's file when no server is set: Base.mdb (in the current folder) unless given.
void setFile(const QString &file);

// Makes the four in order. When a step fails, `failed` is told the failure and the step, what was
// made is destroyed again and false is returned.
bool createAll(const std::function<void(const std::exception &, Step)> &failed);

// The main window as start-up shows it: framed at its restored size, maximised, the register
// taking the keyboard.
void showMainWindow();

// Destroys whatever was made, in the reverse order. Safe to call more than once.
void destroyAll();

} // namespace Startup

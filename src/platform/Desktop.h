#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What the program asks of the desktop: opening a document with the application the user has
// for it, and starting another program. Nothing is waited for: the handler returns at once and
// the outcome, where one is watched, arrives later through the event loop.
namespace Desktop {

// What a watched program reports when it has ended: whether it succeeded, and what it printed.
using Outcome = std::function<void(bool succeeded, const QString &output)>;

// Opens a document with the desktop's opener (xdg-open); `outcome` hears whether it could.
void openDocument(const QString &path, Outcome outcome = {});
// Starts a program found on the search path with an argument list, never through a shell.
// False when it could not be started at all. A program still running when this program ends
// runs on by itself.
bool startProgram(const QString &program, const QStringList &arguments, Outcome outcome = {});
// Whether a program of that name is on the search path.
bool isInstalled(const QString &program);

// Tests put recorders in place of the real desktop; an empty function restores it.
void setDocumentOpener(std::function<void(const QString &path)> opener);
void setProgramStarter(
    std::function<bool(const QString &program, const QStringList &arguments)> starter);

} // namespace Desktop

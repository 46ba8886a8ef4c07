#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What the program asks of the desktop: opening a document with the application the user has
// for it, and starting another program. Both are fire-and-forget: nothing is waited for, and the
// started program runs on by itself (detached, so it never lingers as a zombie).
namespace Desktop {

void openDocument(const QString &path);
// Starts a program found on the search path with an argument list, never through a shell.
// False when it could not be started at all.
bool startProgram(const QString &program, const QStringList &arguments);

// Tests put recorders in place of the real desktop; an empty function restores it.
void setDocumentOpener(std::function<void(const QString &path)> opener);
void setProgramStarter(
    std::function<bool(const QString &program, const QStringList &arguments)> starter);

} // namespace Desktop

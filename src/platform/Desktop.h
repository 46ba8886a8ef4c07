#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// What the program asks of the desktop: opening a document with the application the user has
// for it, and starting another program. Both are fire-and-forget: nothing is waited for and a
// failure to start shows nothing.
namespace Desktop {

void openDocument(const QString &path);
void startProgram(const QString &program, const QStringList &arguments);

// Tests put recorders in place of the real desktop; an empty function restores it.
void setDocumentOpener(std::function<void(const QString &path)> opener);
void setProgramStarter(std::function<void(const QString &program, const QStringList &arguments)> starter);

} // namespace Desktop

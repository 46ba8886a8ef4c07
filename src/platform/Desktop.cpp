#include "Desktop.h"

#include <QProcess>

namespace Desktop {

namespace {

std::function<void(const QString &)> g_opener;
std::function<bool(const QString &, const QStringList &)> g_starter;

} // namespace

void openDocument(const QString &path)
{
    if (g_opener)
        g_opener(path);
    else
        QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

bool startProgram(const QString &program, const QStringList &arguments)
{
    if (g_starter)
        return g_starter(program, arguments);
    return QProcess::startDetached(program, arguments);
}

void setDocumentOpener(std::function<void(const QString &)> opener)
{
    g_opener = std::move(opener);
}

void setProgramStarter(std::function<bool(const QString &, const QStringList &)> starter)
{
    g_starter = std::move(starter);
}

} // namespace Desktop

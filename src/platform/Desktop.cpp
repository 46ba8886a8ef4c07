#include "Desktop.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

#include <list>

namespace Desktop {

namespace {

std::function<void(const QString &)> g_opener;
std::function<bool(const QString &, const QStringList &)> g_starter;

// Programs being watched. Held here and never destroyed while they run: destroying a QProcess
// kills its program, and an archiver must finish its work even when this program ends first. The
// list itself outlives the end of the program for the same reason.
std::list<QProcess *> &running()
{
    static auto *processes = new std::list<QProcess *>;
    return *processes;
}

// What a failed program said, or, for one whose exit code says more, that in words.
using Explanation = std::function<QString(int code, const QString &output)>;

// xdg-open's exit codes (xdg-utils): the file itself, no program for it, the program failed.
QString xdgOpenFailure(int code, const QString &output)
{
    switch (code) {
    case 2:
        return QStringLiteral("файл не найден");
    case 3:
        return QStringLiteral("на компьютере нет программы, которая открывает такие файлы; "
                              "установите программу для таблиц (например, LibreOffice Calc)");
    case 4:
        return QStringLiteral("программа для таких файлов не запустилась") +
               (output.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(output));
    default:
        return output;
    }
}

bool startWatched(const QString &program, const QStringList &arguments, Outcome outcome,
                  Explanation explain = {})
{
    auto *process = new QProcess;
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    running().push_back(process);
    const auto finish = [process](bool succeeded, const QString &output, const Outcome &tell) {
        running().remove(process);
        process->deleteLater();
        if (tell)
            tell(succeeded, output.trimmed());
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, finish, outcome, explain](int code, QProcess::ExitStatus status) {
                         QString output = QString::fromLocal8Bit(process->readAll()).trimmed();
                         const bool succeeded = status == QProcess::NormalExit && code == 0;
                         if (!succeeded && status == QProcess::NormalExit && explain)
                             output = explain(code, output);
                         finish(succeeded, output, outcome);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, finish, outcome](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart)
                             finish(false, process->errorString(), outcome);
                     });
    process->start(program, arguments);
    return true;
}

} // namespace

void openDocument(const QString &path, Outcome outcome)
{
    if (g_opener) {
        g_opener(path);
        return;
    }
    const QString opener = QStringLiteral("xdg-open");
    if (!isInstalled(opener)) {
        if (outcome)
            outcome(false, QStringLiteral("программа «%1» не установлена").arg(opener));
        return;
    }
    startWatched(opener, {path}, std::move(outcome), xdgOpenFailure);
}

bool startProgram(const QString &program, const QStringList &arguments, Outcome outcome)
{
    if (g_starter)
        return g_starter(program, arguments);
    if (!isInstalled(program))
        return false;
    if (!outcome)
        return QProcess::startDetached(program, arguments);
    return startWatched(program, arguments, std::move(outcome));
}

bool isInstalled(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
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

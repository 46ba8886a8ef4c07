#include "Processes.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>

ProgramRun runProgram(const QString &program, const QStringList &arguments, const QString &folder,
                      int timeoutMs)
{
    QProcess process;
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(timeoutMs)) << program.toStdString();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

void catchUp()
{
    QCoreApplication::processEvents();
}

#pragma once

#include <QString>
#include <QStringList>

// What a program run to its end printed, and how it ended (-1 for a crash).
struct ProgramRun
{
    int status;
    QString out;
    QString err;
};

// Runs a program in `folder` (the current one when empty) and waits for it to end.
ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QString &folder = QString(), int timeoutMs = 60000);

// Lets controls catch up with their record set, as the event loop does before painting.
void catchUp();

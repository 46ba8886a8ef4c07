#pragma once

// What the tool's tests share: the old register made outside the project, reestr-db run as the
// user runs it, the demo register, and the files an import leaves.
#include "Fixtures.h"
#include "Processes.h"
#include "TempDatabase.h"

#include "engines/sqlite/SqliteConnection.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

inline ProgramRun reestrDb(const QStringList &arguments, const QString &folder)
{
    return runProgram(QStringLiteral(REESTR_DB_PATH), arguments, folder);
}

// Files in a folder, hidden ones included: an import must leave nothing behind.
inline QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

inline QByteArray fixtureBytes()
{
    QFile file(oldRegisterFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// reestr-db in `folder`, given half a minute.
inline ProgramRun reestrDbIn(const QString &folder, const QStringList &arguments)
{
    return runProgram(QStringLiteral(REESTR_DB_PATH), arguments, folder, 30000);
}

// The demo register made by `reestr-db init --demo` in the folder, then changed by `statements`.
inline bool demoRegister(const TempFolder &folder, const QStringList &statements)
{
    if (reestrDbIn(folder.path(), {QStringLiteral("init"), QStringLiteral("--demo")}).status != 0)
        return false;
    SqliteConnection db(folder.file(QStringLiteral("Base.mdb")),
                        SqliteConnection::Mode::OpenExisting);
    for (const QString &statement : statements)
        db.exec(statement);
    return true;
}

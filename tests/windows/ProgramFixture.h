#pragma once

#include "DatabaseTool.h"
#include "RecordingDialogs.h"
#include "Startup.h"
#include "TempDatabase.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "Unit4.h"
#include "platform/Sqlite.h"

#include <QDir>

#include <gtest/gtest.h>

// The program as start-up builds it, in a folder of its own holding Base.mdb (or not), with the
// message boxes recorded instead of shown.
class ProgramTest : public ::testing::Test
{
protected:
    // The program's current folder is a fresh one, named `folderName` when given.
    explicit ProgramTest(bool withDatabase = true, const QString &folderName = QString())
    {
        m_previousFolder = QDir::currentPath();
        QString folder = m_folder.path();
        if (!folderName.isEmpty()) {
            QDir(folder).mkdir(folderName);
            folder = m_folder.file(folderName);
        }
        QDir::setCurrent(folder);
        if (withDatabase)
            DatabaseTool::createDatabase(QStringLiteral("Base.mdb"), false, 2026);
    }
    ~ProgramTest() override
    {
        destroyProgram();
        QDir::setCurrent(m_previousFolder);
    }

    // As start-up does it: the main window, the data module, then the two secondary windows.
    void startProgram()
    {
        const bool started = Startup::createAll([](const std::exception &e, Startup::Step) {
            ADD_FAILURE() << "start-up failed: " << e.what();
        });
        if (started)
            frmMain->show();
    }
    void destroyProgram() { Startup::destroyAll(); }

    // Runs one statement, or reads one value, through a connection of its own.
    void exec(const QString &sql) { connect()->exec(sql); }
    QString stored(const QString &sql)
    {
        auto db = connect();
        SqliteStatement statement = db->prepare(sql);
        return statement.step() ? statement.columnText(0) : QStringLiteral("<no row>");
    }
    std::unique_ptr<SqliteConnection> connect()
    {
        return std::make_unique<SqliteConnection>(
            QDir::current().filePath(QStringLiteral("Base.mdb")),
            SqliteConnection::Mode::OpenExisting);
    }

    RecordingDialogs dialogs;

private:
    TempFolder m_folder;
    QString m_previousFolder;
};

#pragma once

#include "register/DatabaseTool.h"
#include "RecordingDialogs.h"
#include "windows/Startup.h"
#include "TempDatabase.h"
#include "TestServer.h"
#include "windows/MainWindow.h"
#include "windows/DataModule.h"
#include "windows/NewRecordWindow.h"
#include "windows/ReferenceBooksWindow.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QDir>

#include <gtest/gtest.h>

// The program as start-up builds it, in a folder of its own holding Base.mdb (or not), with the
// message boxes recorded instead of shown.
class ProgramTest : public ::testing::Test
{
protected:
    // The program's current folder is a fresh one, named `folderName` when given. With
    // `onServer` the program opens a register of the same content on the tests' server.
    explicit ProgramTest(bool withDatabase = true, const QString &folderName = QString(),
                         bool onServer = false)
    {
        if (onServer)
            m_server = std::make_unique<ServerDatabase>();
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
        if (m_server && !m_server->ok())
            return; // the test skips or fails on its own
        Startup::setServer(m_server ? m_server->conninfo() : QString());
        const bool started = Startup::createAll([](const std::exception &e, Startup::Step) {
            ADD_FAILURE() << "start-up failed: " << e.what();
        });
        // A test that plays another computer makes its changes at the moment it chooses; only
        // a test of the live register lets them show by themselves.
        if (DM)
            DM->holdOthersChanges(!m_live);
        if (started)
            frmMain->show();
    }
    void destroyProgram()
    {
        Startup::destroyAll();
        Startup::setServer(QString());
    }

    // Other programs' changes show by themselves, as in the program, from the next start on.
    void showOthersChangesLive() { m_live = true; }

    // The register is on the tests' server; null when it is the file.
    const ServerDatabase *server() const { return m_server.get(); }

    // Runs one statement, or reads one value, through a connection of its own, on the file or
    // on the server the program uses.
    void exec(const QString &sql)
    {
        if (m_server)
            m_server->exec(sql);
        else
            connect()->exec(sql);
    }
    QString stored(const QString &sql)
    {
        if (m_server)
            return m_server->scalar(sql);
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
    std::unique_ptr<ServerDatabase> m_server;
    TempFolder m_folder;
    QString m_previousFolder;
    bool m_live = false;
};

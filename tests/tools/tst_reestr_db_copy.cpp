// reestr-db copy and import --server, run as the user runs them.
#include "ImportHelpers.h"
#include "register/DatabaseTool.h"
#include "Processes.h"
#include "TempDatabase.h"
#include "TestServer.h"
#include "register/RegisterCopier.h"
#include "engines/postgres/PostgresEngine.h"
#include "engines/sqlite/SqliteConnection.h"
#include "engines/sqlite/SqliteEngine.h"
#include "register/RegisterFile.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <poll.h>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Every row of every table of a register file, each value quoted as SQLite quotes it.
QString dump(const QString &path)
{
    SqliteConnection db(path, SqliteConnection::Mode::OpenExisting);
    QStringList tables;
    for (const char *sql :
         {"SELECT group_concat(row, ';') FROM (SELECT quote(Код) || ',' || quote(ФИО) || ',' || "
          "quote(Дата_рождения) || ',' || quote(Год) || ',' || quote(Месяц) || ',' || "
          "quote(Число) || ',' || quote(Возраст) || ',' || quote(Юбилей) AS row FROM Main "
          "ORDER BY Код)",
          "SELECT group_concat(quote(Год)) FROM (SELECT Год FROM God ORDER BY rowid)",
          "SELECT group_concat(quote(Месяц)) FROM (SELECT Месяц FROM Mesyats ORDER BY rowid)",
          "SELECT group_concat(quote(Число)) FROM (SELECT Число FROM Chislo ORDER BY rowid)"}) {
        SqliteStatement statement = db.prepare(QString::fromUtf8(sql));
        statement.step();
        tables << statement.columnText(0);
    }
    return tables.join(QLatin1Char('\n'));
}

} // namespace

// A register moved from its file to a server and back again: every table, row and key the same
// (a gap in the keys, a null, an empty text and the longest name included), new people on the
// server numbered after the highest key; a target that holds a register already is refused and left
// as it was.
TEST(ReestrDbCopy, AFileRegisterGoesToTheServerAndBackUnchanged)
{
    ServerDatabase server(false);
    REQUIRE_SERVER(server);
    TempFolder folder;
    ASSERT_TRUE(demoRegister(
        folder,
        {QStringLiteral("DELETE FROM Main WHERE Код IN (3, 40)"),
         QStringLiteral("UPDATE Main SET Юбилей = '', Возраст = 61 WHERE Код = 5"),
         // What ends a value or a row in a bulk copy, inside a text.
         QStringLiteral("UPDATE Main SET ФИО = 'a\\b' || char(9) || '\\N' || char(10) || 'c' || "
                        "char(13) WHERE Код = 6"),
         // A backslash as the only such character.
         QStringLiteral("UPDATE Main SET ФИО = 'Петров\\новый' WHERE Код = 7"),
         QStringLiteral("UPDATE Main SET ФИО = 'C:\\temp\\Иванов' WHERE Код = 8"),
         // The longest name the program accepts: 60 letters й, each и and a combining breve.
         u"UPDATE Main SET ФИО = '%1' WHERE Код = 9"_s.arg(u"и\u0306"_s.repeated(60)),
         QStringLiteral("DELETE FROM God WHERE Год = 1931"),
         QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                        "2462) INSERT INTO Main (ФИО, Год) SELECT 'Человек ' || i, 1950 + i % 50 "
                        "FROM n")}));
    const QString original = dump(folder.file(QStringLiteral("Base.mdb")));

    const ProgramRun there =
        reestrDbIn(folder.path(), {QStringLiteral("copy"), QStringLiteral("Base.mdb"),
                                   QStringLiteral("--server"), server.conninfo()});
    ASSERT_EQ(there.status, 0) << there.err.toStdString();
    EXPECT_TRUE(there.out.contains(QStringLiteral("Main: 2500 строк"))) << there.out.toStdString();
    EXPECT_EQ(there.err, QString()) << "no progress into a pipe";
    // Back, watched on a terminal: a line per table, rewritten as its rows are done.
    const ProgramRun back = runProgram(QStringLiteral("script"),
                                       {QStringLiteral("-qec"),
                                        QStringLiteral("'%1' copy --server '%2' back.mdb")
                                            .arg(QStringLiteral(REESTR_DB_PATH), server.conninfo()),
                                        QStringLiteral("/dev/null")},
                                       folder.path(), 30000);
    ASSERT_EQ(back.status, 0) << back.out.toStdString();
    EXPECT_TRUE(back.out.contains(QStringLiteral("\r  Main: 1000 из 2500 строк\r  Main: 2000 из "
                                                 "2500 строк\r  Main: 2500 из 2500 строк\r\n")))
        << back.out.toStdString();
    EXPECT_TRUE(back.out.contains(QStringLiteral("\r  God: 96 из 96 строк\r\n")))
        << back.out.toStdString();
    EXPECT_EQ(dump(folder.file(QStringLiteral("back.mdb"))), original);
    EXPECT_EQ(
        server.scalar(QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Новый') RETURNING Код")),
        QStringLiteral("2503"))
        << "numbered after the highest key copied";

    // Targets that hold a register: refused, unchanged, nothing left beside them.
    const ProgramRun onto =
        reestrDbIn(folder.path(), {QStringLiteral("copy"), QStringLiteral("Base.mdb"),
                                   QStringLiteral("--server"), server.conninfo()});
    EXPECT_EQ(onto.status, 1);
    EXPECT_TRUE(onto.err.contains(QStringLiteral("уже есть реестр"))) << onto.err.toStdString();
    const ProgramRun over =
        reestrDbIn(folder.path(), {QStringLiteral("copy"), QStringLiteral("--server"),
                                   server.conninfo(), QStringLiteral("back.mdb")});
    EXPECT_EQ(over.status, 1);
    EXPECT_TRUE(over.err.contains(QStringLiteral("уже существует"))) << over.err.toStdString();
    EXPECT_EQ(dump(folder.file(QStringLiteral("back.mdb"))), original);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
              (QStringList{QStringLiteral("Base.mdb"), QStringLiteral("back.mdb")}));
}

// Ctrl+C at any moment of a copy: the target is whole or not there at all.
TEST(ReestrDbCopy, AnInterruptedCopyLeavesTheTargetWholeOrUntouched)
{
    TempFolder folder;
    ASSERT_EQ(reestrDbIn(folder.path(), {QStringLiteral("init")}).status, 0);
    {
        SqliteConnection db(folder.file(QStringLiteral("Base.mdb")),
                            SqliteConnection::Mode::OpenExisting);
        db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < 20000) INSERT INTO Main (ФИО, Год) SELECT 'Человек ' || "
                               "i, 1950 + i % 50 FROM n"));
    }
    for (int delayMs : {30, 300}) {
        SCOPED_TRACE(delayMs);
        ServerDatabase server(false);
        REQUIRE_SERVER(server);
        QProcess process;
        process.setWorkingDirectory(folder.path());
        process.start(QStringLiteral(REESTR_DB_PATH),
                      {QStringLiteral("copy"), QStringLiteral("Base.mdb"),
                       QStringLiteral("--server"), server.conninfo()});
        ASSERT_TRUE(process.waitForStarted());
        QThread::msleep(ulong(delayMs));
        ::kill(pid_t(process.processId()), SIGINT);
        ASSERT_TRUE(process.waitForFinished(60000));
        const QString tables = server.scalar(
            QStringLiteral("SELECT count(*) FROM pg_tables WHERE schemaname = 'public'"));
        if (process.exitStatus() == QProcess::CrashExit) {
            // Stopped while Ctrl+C was not its own: before the copy began, or after it ended.
            if (tables != QStringLiteral("0")) {
                EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(*) FROM Main")),
                          QStringLiteral("20000"));
            }
        } else if (process.exitCode() == 0) {
            EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(*) FROM Main")),
                      QStringLiteral("20000"));
        } else {
            EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError())
                            .contains(QStringLiteral("Копирование прервано")));
            EXPECT_EQ(tables, QStringLiteral("0")) << "nothing left on the server";
        }
    }
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("Base.mdb")});
}

// A copy into a file killed at its last step, then copied again onto a file system without a
// rename that refuses an existing name, with hard links or without them (a FAT memory stick;
// strace fails the calls so): the second copy removes what the first left, and the target is whole
// with nothing beside it. A log its checkpoint could not empty (strace makes truncating and
// removing files do nothing) fails the copy, with no target.
TEST(ReestrDbCopy, IntoAFileAKilledCopyLeavesNothingAndAStickWithoutHardLinksWorks)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        GTEST_SKIP() << "strace is not installed";
    TempFolder folder;
    ASSERT_TRUE(demoRegister(folder, {}));
    const auto copyUnder = [&](const QStringList &faults) {
        QStringList arguments = {u"-o"_s, u"/dev/null"_s, u"-E"_s,
                                 u"ASAN_OPTIONS=detect_leaks=0"_s};
        for (const QString &fault : faults)
            arguments << u"-e"_s << u"inject="_s + fault;
        return runProgram(strace,
                          arguments << QStringLiteral(REESTR_DB_PATH) << u"copy"_s << u"Base.mdb"_s
                                    << u"stick.mdb"_s,
                          folder.path(), 30000);
    };
    const ProgramRun killed =
        copyUnder({u"rename,renameat,renameat2,link,linkat:signal=SIGKILL"_s});
    if (killed.err.contains(QLatin1String("PTRACE")) || killed.status == 1)
        GTEST_SKIP() << "strace cannot trace here: " << killed.err.toStdString();
    const auto files = [&] { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); };
    ASSERT_EQ(files().filter(u".stick.mdb.copy-"_s).size(), 1) << files().join(u' ').toStdString();
    for (const QStringList &faults :
         {QStringList{u"renameat2:error=EINVAL"_s, u"link,linkat:error=EPERM"_s},
          QStringList{u"renameat2:error=EINVAL"_s}}) {
        SCOPED_TRACE(faults.join(u' ').toStdString());
        const ProgramRun copied = copyUnder(faults);
        ASSERT_EQ(copied.status, 0) << copied.err.toStdString();
        EXPECT_EQ(files(), QStringList({u"Base.mdb"_s, u"stick.mdb"_s}));
        EXPECT_EQ(dump(folder.file(u"stick.mdb"_s)), dump(folder.file(u"Base.mdb"_s)));
        QFile::remove(folder.file(u"stick.mdb"_s));
    }
    const ProgramRun kept = copyUnder({u"ftruncate,unlink:retval=0"_s});
    EXPECT_EQ(kept.status, 1);
    EXPECT_TRUE(kept.err.contains(u"журнал"_s)) << kept.err.toStdString();
    EXPECT_FALSE(QFile::exists(folder.file(u"stick.mdb"_s)));
}

// The old Access file straight into a register on the server: what a file import holds, row for
// row and key for key.
TEST(ReestrDbCopy, AnOldAccessFileImportsStraightIntoAServer)
{
    ServerDatabase server(false);
    REQUIRE_SERVER(server);
    TempFolder folder;
    const QString old = oldRegisterFile();
    ASSERT_EQ(reestrDbIn(folder.path(), {QStringLiteral("import"), old, QStringLiteral("file.mdb")})
                  .status,
              0);
    const ProgramRun imported =
        reestrDbIn(folder.path(),
                   {QStringLiteral("import"), old, QStringLiteral("--server"), server.conninfo()});
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains(QStringLiteral("Main: 20 строк")))
        << imported.out.toStdString();
    ASSERT_EQ(reestrDbIn(folder.path(), {QStringLiteral("copy"), QStringLiteral("--server"),
                                         server.conninfo(), QStringLiteral("back.mdb")})
                  .status,
              0);
    EXPECT_EQ(dump(folder.file(QStringLiteral("back.mdb"))),
              dump(folder.file(QStringLiteral("file.mdb"))));
}

// While a server register is copied (by reestr-db copy, or for its archive), another computer
// adds a person and a year in one transaction now and then: the copy is of one moment, holding
// neither, and every table's count agrees with the rows read.
TEST(ReestrDbCopy, WhatAnotherComputerWritesMeanwhileIsInAllOfTheCopyOrInNone)
{
    ServerDatabase server;
    REQUIRE_SERVER(server);
    server.exec(u"INSERT INTO Main (ФИО) SELECT 'Человек ' || i FROM generate_series(1, 5000) i"_s);
    const std::unique_ptr<PgConnection> other = server.connect();
    PostgresEngine source(server.conninfo(), {});
    TempFolder folder;
    int added = 0;
    const auto addPair = [&](const QString &, qint64, qint64) {
        ++added;
        other->execScript(u"BEGIN; INSERT INTO Main (ФИО) VALUES ('Пара %1'); INSERT INTO God "
                          "VALUES (%2); COMMIT"_s.arg(added)
                              .arg(3000 + added));
    };
    ASSERT_NO_THROW(
        RegisterCopier::copy(source, *RegisterCopier::newFile(folder.file(u"c.mdb"_s)), addPair));
    ASSERT_GT(added, 4);
    SqliteConnection copy(folder.file(u"c.mdb"_s), SqliteConnection::Mode::OpenExisting);
    SqliteStatement counted = copy.prepare(u"SELECT (SELECT count(*) FROM Main) || ' ' || "
                                           "(SELECT count(*) FROM God WHERE Год >= 3000)"_s);
    ASSERT_TRUE(counted.step());
    EXPECT_EQ(counted.columnText(0), u"5000 0"_s);
}

// A file whose Main carries a column of the office's own and which holds a table of its own: the
// copy to a server takes the register and names what it leaves out.
TEST(ReestrDbCopy, WhatARegisterDoesNotHoldIsNamedNotDroppedInSilence)
{
    ServerDatabase server(false);
    REQUIRE_SERVER(server);
    TempFolder folder;
    ASSERT_TRUE(demoRegister(folder, {QStringLiteral("ALTER TABLE Main ADD COLUMN Принят DATETIME"),
                                      QStringLiteral("CREATE TABLE Заметки (Текст TEXT)")}));
    const ProgramRun copied =
        reestrDbIn(folder.path(), {QStringLiteral("copy"), QStringLiteral("Base.mdb"),
                                   QStringLiteral("--server"), server.conninfo()});
    ASSERT_EQ(copied.status, 0) << copied.err.toStdString();
    EXPECT_EQ(copied.err.trimmed(),
              QStringLiteral("Не копируются (реестр хранит только свои таблицы и столбцы): "
                             "столбец Main.Принят, таблица Заметки"));
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("40"));
}

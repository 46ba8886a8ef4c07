// reestr-db, run as the user runs it: a separate process in a folder of its own.
#include "Fixtures.h"
#include "register/DatabaseTool.h"
#include "Processes.h"
#include "TempDatabase.h"
#include "TestServer.h"
#include "platform/RegisterCopier.h"
#include "platform/Postgres.h"
#include "platform/Sqlite.h"
#include "platform/SqliteEngine.h"

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

ProgramRun reestrDb(const QString &folder, const QStringList &arguments)
{
    return runProgram(QStringLiteral(REESTR_DB_PATH), arguments, folder, 30000);
}

// The demo register made by `reestr-db init --demo` in the folder, then changed by `statements`.
bool demoRegister(const TempFolder &folder, const QStringList &statements)
{
    if (reestrDb(folder.path(), {QStringLiteral("init"), QStringLiteral("--demo")}).status != 0)
        return false;
    SqliteConnection db(folder.file(QStringLiteral("Base.mdb")),
                        SqliteConnection::Mode::OpenExisting);
    for (const QString &statement : statements)
        db.exec(statement);
    return true;
}

struct Column
{
    QString name;
    QString type;
    int primaryKey;
};

QList<Column> columnsOf(SqliteConnection &db, const QString &table)
{
    QList<Column> columns;
    SqliteStatement info = db.prepare(QStringLiteral("PRAGMA table_info(%1)").arg(table));
    while (info.step())
        columns.append({info.columnText(1), info.columnText(2), int(info.columnInt64(5))});
    return columns;
}

QList<qint64> integersOf(SqliteConnection &db, const QString &sql)
{
    QList<qint64> values;
    SqliteStatement query = db.prepare(sql);
    while (query.step())
        values.append(query.columnInt64(0));
    return values;
}

QList<qint64> range(qint64 from, qint64 to)
{
    QList<qint64> values;
    for (qint64 v = from; v <= to; ++v)
        values.append(v);
    return values;
}

} // namespace

TEST(ReestrDbInit, CreatesBaseMdbInTheCurrentFolderWithTheFourTables)
{
    TempFolder folder;
    const ProgramRun run = reestrDb(folder.path(), {QStringLiteral("init")});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();

    SqliteConnection db(folder.file(QStringLiteral("Base.mdb")),
                        SqliteConnection::Mode::OpenExisting);
    const QList<Column> main = columnsOf(db, QStringLiteral("Main"));
    const QStringList expected = {QStringLiteral("Код"),           QStringLiteral("ФИО"),
                                  QStringLiteral("Дата_рождения"), QStringLiteral("Год"),
                                  QStringLiteral("Месяц"),         QStringLiteral("Число"),
                                  QStringLiteral("Возраст"),       QStringLiteral("Юбилей")};
    ASSERT_EQ(main.size(), expected.size());
    for (int i = 0; i < main.size(); ++i)
        EXPECT_EQ(main[i].name, expected[i]) << "position " << i;

    // The key is the auto-numbered row identity; the others are sized texts and integers.
    EXPECT_EQ(main[0].type, QStringLiteral("INTEGER"));
    EXPECT_EQ(main[0].primaryKey, 1);
    SqliteStatement sql =
        db.prepare(QStringLiteral("SELECT sql FROM sqlite_schema WHERE name='Main'"));
    ASSERT_TRUE(sql.step());
    EXPECT_TRUE(sql.columnText(0).contains(QStringLiteral("AUTOINCREMENT")));
    for (int i : {1, 2, 7})
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^VARCHAR\\(\\d+\\)$"))
                        .match(main[i].type)
                        .hasMatch())
            << main[i].type.toStdString();
    for (int i : {3, 4, 5, 6})
        EXPECT_EQ(main[i].type, QStringLiteral("INTEGER")) << "position " << i;

    for (const auto &[table, column] :
         {std::pair{"God", "Год"}, {"Mesyats", "Месяц"}, {"Chislo", "Число"}}) {
        const QList<Column> columns = columnsOf(db, QString::fromUtf8(table));
        ASSERT_EQ(columns.size(), 1) << table;
        EXPECT_EQ(columns[0].name, QString::fromUtf8(column));
        EXPECT_EQ(columns[0].type, QStringLiteral("INTEGER"));
    }

    EXPECT_EQ(integersOf(db, QStringLiteral("SELECT Год FROM God ORDER BY rowid")),
              range(1930, QDate::currentDate().year()));
    EXPECT_EQ(integersOf(db, QStringLiteral("SELECT Месяц FROM Mesyats ORDER BY rowid")),
              range(1, 12));
    EXPECT_EQ(integersOf(db, QStringLiteral("SELECT Число FROM Chislo ORDER BY rowid")),
              range(1, 31));
    EXPECT_TRUE(integersOf(db, QStringLiteral("SELECT count(*) FROM Main")) == QList<qint64>{0});
}

TEST(ReestrDbInit, DemoAddsPeopleOverEveryMonthWithDatesComposedAsTheNewRecordWindowDoes)
{
    TempFolder folder;
    const QString file = folder.file(QStringLiteral("people.mdb"));
    const ProgramRun run =
        reestrDb(folder.path(), {QStringLiteral("init"), QStringLiteral("--demo"), file});
    ASSERT_EQ(run.status, 0) << run.err.toStdString();

    SqliteConnection db(file, SqliteConnection::Mode::OpenExisting);
    SqliteStatement rows =
        db.prepare(QStringLiteral("SELECT Код, ФИО, Дата_рождения, Год, Месяц, Число, Возраст, "
                                  "Юбилей FROM Main ORDER BY Код"));
    int count = 0;
    int withoutYear = 0;
    QSet<qint64> months;
    QSet<qint64> years;
    qint64 previousKey = 0;
    while (rows.step()) {
        ++count;
        EXPECT_GT(rows.columnInt64(0), previousKey) << "keys are numbered by the database";
        previousKey = rows.columnInt64(0);
        EXPECT_EQ(rows.columnText(1).split(QLatin1Char(' ')).size(), 3)
            << "surname, name, patronymic";
        const bool noYear = rows.columnType(3) == SqliteStatement::Type::Null;
        withoutYear += noYear;
        months.insert(rows.columnInt64(4));
        years.insert(rows.columnInt64(3));
        EXPECT_EQ(rows.columnText(2),
                  DatabaseTool::composeBirthDate(int(rows.columnInt64(5)), int(rows.columnInt64(4)),
                                                 noYear ? 0 : int(rows.columnInt64(3))));
        EXPECT_EQ(rows.columnType(6), SqliteStatement::Type::Null)
            << "age waits for the calculation";
        EXPECT_EQ(rows.columnType(7), SqliteStatement::Type::Null);
    }
    EXPECT_GE(count, 35);
    EXPECT_LE(count, 45);
    EXPECT_EQ(withoutYear, 1);
    EXPECT_EQ(months.size(), 12);
    EXPECT_GE(years.size(), 20);
    EXPECT_EQ(DatabaseTool::composeBirthDate(5, 3, 1980), QStringLiteral("05.03.1980"));
}

TEST(ReestrDbInit, RefusesAnExistingFileAndLeavesItAsItWas)
{
    TempDatabase existing(/*withDemo=*/true);
    QFile file(existing.path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    for (const QStringList &arguments :
         {QStringList{QStringLiteral("init")},
          QStringList{QStringLiteral("init"), QStringLiteral("--demo"), existing.path()}}) {
        const ProgramRun run = reestrDb(existing.TempFolder::path(), arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.contains(QStringLiteral("уже существует"))) << run.err.toStdString();
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), before);
        file.close();
    }

    // Not even a file that is not a database is touched.
    TempFolder folder;
    QFile text(folder.file(QStringLiteral("Base.mdb")));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("notes");
    text.close();
    EXPECT_EQ(reestrDb(folder.path(), {QStringLiteral("init")}).status, 1);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_EQ(text.readAll(), QByteArray("notes"));
}

TEST(ReestrDbInit, BadArgumentsPrintUsageAndExitWithTwo)
{
    TempFolder folder;
    for (const QStringList &arguments :
         {QStringList{}, QStringList{QStringLiteral("create")},
          QStringList{QStringLiteral("init"), QStringLiteral("--sample")},
          QStringList{QStringLiteral("init"), QStringLiteral("a.mdb"), QStringLiteral("b.mdb")},
          QStringList{QStringLiteral("init"), QStringLiteral("--demo"),
                      QStringLiteral("--demo")}}) {
        const ProgramRun run = reestrDb(folder.path(), arguments);
        EXPECT_EQ(run.status, 2) << arguments.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("Usage:"))) << run.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("Base.mdb"))));
    EXPECT_FALSE(QFile::exists(folder.file(QStringLiteral("a.mdb"))));
}

// The register on a server: made with the reference rows (and the people with --demo), the month
// search's comparison of an integer with a text valid there; a database that holds one already is
// refused and left as it was.
TEST(ReestrDbInit, OnAServerCreatesTheRegisterOnceAndRefusesASecondTime)
{
    ServerDatabase db(false);
    REQUIRE_SERVER(db);
    const ProgramRun made = runProgram(QStringLiteral(REESTR_DB_PATH),
                                       {QStringLiteral("init"), QStringLiteral("--demo"),
                                        QStringLiteral("--server"), db.conninfo()});
    ASSERT_EQ(made.status, 0) << made.err.toStdString();
    EXPECT_TRUE(made.out.contains(QStringLiteral("Создан реестр с примерами")))
        << made.out.toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("40"));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) || ' ' || min(Год) FROM God")),
              QStringLiteral("%1 1930").arg(QDate::currentDate().year() - 1930 + 1));
    // The search's own text, as the program sends it: March is 3, never 13 or 23.
    EXPECT_EQ(
        db.scalar(QStringLiteral("select count(*)\r\nfrom Main\r\nwhere Месяц like  '3' \r\n")),
        QStringLiteral("3"));

    const ProgramRun again =
        runProgram(QStringLiteral(REESTR_DB_PATH),
                   {QStringLiteral("init"), QStringLiteral("--server"), db.conninfo()});
    EXPECT_EQ(again.status, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("уже есть реестр"))) << again.err.toStdString();
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("40"));
}

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
        reestrDb(folder.path(), {QStringLiteral("copy"), QStringLiteral("Base.mdb"),
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
        reestrDb(folder.path(), {QStringLiteral("copy"), QStringLiteral("Base.mdb"),
                                 QStringLiteral("--server"), server.conninfo()});
    EXPECT_EQ(onto.status, 1);
    EXPECT_TRUE(onto.err.contains(QStringLiteral("уже есть реестр"))) << onto.err.toStdString();
    const ProgramRun over =
        reestrDb(folder.path(), {QStringLiteral("copy"), QStringLiteral("--server"),
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
    ASSERT_EQ(reestrDb(folder.path(), {QStringLiteral("init")}).status, 0);
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
    const QString old = sharedFixture("jet4-Base.mdb");
    REQUIRE_FIXTURE(old);
    ASSERT_EQ(
        reestrDb(folder.path(), {QStringLiteral("import"), old, QStringLiteral("file.mdb")}).status,
        0);
    const ProgramRun imported =
        reestrDb(folder.path(),
                 {QStringLiteral("import"), old, QStringLiteral("--server"), server.conninfo()});
    ASSERT_EQ(imported.status, 0) << imported.err.toStdString();
    EXPECT_TRUE(imported.out.contains(QStringLiteral("Main: 20 строк")))
        << imported.out.toStdString();
    ASSERT_EQ(reestrDb(folder.path(), {QStringLiteral("copy"), QStringLiteral("--server"),
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
        reestrDb(folder.path(), {QStringLiteral("copy"), QStringLiteral("Base.mdb"),
                                 QStringLiteral("--server"), server.conninfo()});
    ASSERT_EQ(copied.status, 0) << copied.err.toStdString();
    EXPECT_EQ(copied.err.trimmed(),
              QStringLiteral("Не копируются (реестр хранит только свои таблицы и столбцы): "
                             "столбец Main.Принят, таблица Заметки"));
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("40"));
}

// A register an earlier version made on a server counts a name's characters as code points: a
// name the program accepts, 60 letters й each written as и and a combining breve, is refused
// there in Russian until `reestr-db upgrade` makes its texts unbounded; the program's size stays.
TEST(ReestrDbUpgrade, AnOldServerRegisterThenTakesEveryNameTheProgramAccepts)
{
    ServerDatabase server;
    REQUIRE_SERVER(server);
    server.exec(QStringLiteral(
        "ALTER TABLE Main ALTER COLUMN ФИО TYPE varchar(60), ALTER COLUMN Дата_рождения TYPE "
        "varchar(20), ALTER COLUMN Юбилей TYPE varchar(10); COMMENT ON COLUMN Main.ФИО IS NULL; "
        "COMMENT ON COLUMN Main.Дата_рождения IS NULL; COMMENT ON COLUMN Main.Юбилей IS NULL"));
    const QString name = QStringLiteral("и\u0306").repeated(60);
    const auto insertName = [&] {
        PostgresEngine engine(server.conninfo(), {});
        const std::unique_ptr<RowSource> main = engine.table(QStringLiteral("Main"));
        EXPECT_EQ(main->columns()[1].size, 60);
        try {
            main->insert({1}, {Value(name)});
        } catch (const Error &e) {
            return e.message();
        }
        return QString();
    };
    EXPECT_TRUE(insertName().contains(QStringLiteral("reestr-db upgrade")));

    TempFolder folder;
    const QStringList upgrade{QStringLiteral("upgrade"), QStringLiteral("--server"),
                              server.conninfo()};
    const ProgramRun upgraded = reestrDb(folder.path(), upgrade);
    ASSERT_EQ(upgraded.status, 0) << upgraded.err.toStdString();
    EXPECT_EQ(insertName(), QString());
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = '%1'").arg(name)),
              QStringLiteral("1"));
    const ProgramRun again = reestrDb(folder.path(), upgrade);
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out, upgraded.out) << "nothing left to do the second time";
}

// A register an earlier version made, on a file or a server, has no change log: another program's
// change is news of everything there. `reestr-db upgrade` adds the log, once; a program watching
// then hears which row another changed.
TEST(ReestrDbUpgrade, AnOldRegisterGetsTheChangeLogAndThenTellsWhichRowChanged)
{
    for (const bool onServer : {false, true}) {
        SCOPED_TRACE(onServer ? "server" : "file");
        TempFolder folder;
        const QString file = QDir(folder.path()).filePath(QStringLiteral("Base.mdb"));
        ServerDatabase server(onServer);
        if (onServer) {
            REQUIRE_SERVER(server);
            server.exec(QStringLiteral("DROP TABLE Izmeneniya, Raschet CASCADE; DROP FUNCTION "
                                       "reestr_row_changed, reestr_whole_table_changed CASCADE"));
        } else {
            SqliteConnection old(file, SqliteConnection::Mode::CreateNew);
            createRegisterTables(old);
        }
        const auto change = [&] {
            const QString sql = QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Новиков')");
            onServer ? server.exec(sql) : SqliteConnection(file, {}).exec(sql);
        };
        const auto watching = [&] {
            ServerAccess access;
            access.watchChanges = true;
            return onServer ? std::unique_ptr<Engine>(new PostgresEngine(server.conninfo(), access))
                            : std::unique_ptr<Engine>(new SqliteEngine(file));
        };
        // What the watching engine hears of one change elsewhere, waiting for a server's notice.
        const auto heard = [&](Engine &engine) {
            change();
            pollfd news{engine.changeSignal(), POLLIN, 0};
            poll(&news, 1, news.fd < 0 ? 0 : 5000);
            const OthersChanges c = engine.othersChanges();
            if (c.everything || c.tables.empty())
                return QString::fromLatin1(c.everything ? "everything" : "nothing");
            return c.tables[0].name.toLower() + u' ' + QString::number(c.tables[0].keys.at(0));
        };
        EXPECT_EQ(heard(*watching()),
                  onServer ? QStringLiteral("nothing") : QStringLiteral("everything"));

        const QStringList upgrade = onServer
                                        ? QStringList{QStringLiteral("upgrade"),
                                                      QStringLiteral("--server"), server.conninfo()}
                                        : QStringList{QStringLiteral("upgrade")};
        const ProgramRun upgraded = reestrDb(folder.path(), upgrade);
        ASSERT_EQ(upgraded.status, 0) << upgraded.err.toStdString();
        EXPECT_NE(reestrDb(folder.path(), upgrade).out, upgraded.out) << "nothing more to do";
        EXPECT_EQ(heard(*watching()), QStringLiteral("main 2"));
    }
}

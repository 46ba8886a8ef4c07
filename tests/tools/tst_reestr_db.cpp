// reestr-db, run as the user runs it: a separate process in a folder of its own.
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
    const ProgramRun run = reestrDbIn(folder.path(), {QStringLiteral("init")});
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
        reestrDbIn(folder.path(), {QStringLiteral("init"), QStringLiteral("--demo"), file});
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
        const ProgramRun run = reestrDbIn(existing.TempFolder::path(), arguments);
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
    EXPECT_EQ(reestrDbIn(folder.path(), {QStringLiteral("init")}).status, 1);
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
        const ProgramRun run = reestrDbIn(folder.path(), arguments);
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
    const ProgramRun upgraded = reestrDbIn(folder.path(), upgrade);
    ASSERT_EQ(upgraded.status, 0) << upgraded.err.toStdString();
    EXPECT_EQ(insertName(), QString());
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = '%1'").arg(name)),
              QStringLiteral("1"));
    const ProgramRun again = reestrDbIn(folder.path(), upgrade);
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
            RegisterFile::createTables(old);
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
        const ProgramRun upgraded = reestrDbIn(folder.path(), upgrade);
        ASSERT_EQ(upgraded.status, 0) << upgraded.err.toStdString();
        EXPECT_NE(reestrDbIn(folder.path(), upgrade).out, upgraded.out) << "nothing more to do";
        EXPECT_EQ(heard(*watching()), QStringLiteral("main 2"));
    }
}

// The windows on a register on the server give what they give on the file: the same people, the
// same ages after "СФОРМИРОВАТЬ СПИСОК", the same month lists and jubilee list.
#include "DelayingRelay.h"
#include "LookupDriver.h"
#include "Processes.h"
#include "RecordingDialogs.h"
#include "TempDatabase.h"
#include "TestServer.h"

#include "register/DatabaseTool.h"
#include "windows/Startup.h"
#include "windows/MainWindow.h"
#include "windows/DataModule.h"
#include "recordset/Connection.h"
#include "engines/Engine.h"
#include "controls/DBEdit.h"
#include "controls/MessageDialogs.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "controls/TextComboBox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// Every row a grid shows, its cells joined.
QStringList rowsOf(DBGrid *grid)
{
    catchUp();
    QStringList rows;
    for (int row = 0; row < grid->model()->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < grid->model()->columnCount(); ++column)
            cells << grid->model()->index(row, column).data().toString();
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}

// What a person sees doing the same things on the register `server` names (the file when empty).
QStringList session(const QString &server)
{
    QStringList seen;
    Startup::setServer(server);
    if (!Startup::createAll([](const std::exception &e, Startup::Step) {
            ADD_FAILURE() << "start-up failed: " << e.what();
        }))
        return seen;
    frmMain->show();
    typeOver(frmMain->cbb2, QStringLiteral("2025"));
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    seen << rowsOf(frmMain->dbgrd1);
    for (const char *month : {"январь", "март", "май", "декабрь"}) {
        frmMain->edt2->setText(QString::fromUtf8(month));
        QTest::mouseClick(frmMain->btn8, Qt::LeftButton);
        seen << QString::fromUtf8(month) << rowsOf(frmMain->dbgrd2);
    }
    QTest::mouseClick(frmMain->btn3, Qt::LeftButton);
    seen << QStringLiteral("юбиляры") << rowsOf(frmMain->dbgrd3);
    Startup::destroyAll();
    Startup::setServer(QString());
    return seen;
}

} // namespace

TEST(ServerWindows, TheCalculationAndTheListsAreTheSameOnTheServerAsOnTheFile)
{
    ServerDatabase server(true, true);
    REQUIRE_SERVER(server);
    TempFolder folder;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder.path());
    DatabaseTool::createDatabase(QStringLiteral("Base.mdb"), true, 2026);
    RecordingDialogs dialogs;

    const QStringList onFile = session(QString());
    const QStringList onServer = session(server.conninfo());
    QDir::setCurrent(previous);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_GT(onFile.size(), 40);
    EXPECT_EQ(onServer, onFile);
    EXPECT_TRUE(onFile.contains(QStringLiteral("юбиляры")));
    // The server holds what the walk wrote, as another computer reads it.
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT Возраст || Юбилей FROM Main WHERE ФИО = "
                                           "'Иванов Сергей Петрович'")),
              QStringLiteral("60да"));
}

// Two computers on one register: another computer (a process of its own, given the server as its
// setting) runs the calculation while this one shows the register; this one's navigator refresh
// brings the other's ages in.
TEST(ServerWindows, AnotherComputersCalculationShowsAfterARefresh)
{
    ServerDatabase server(true, true);
    REQUIRE_SERVER(server);
    TempFolder folder;
    RecordingDialogs dialogs;
    Startup::setServer(server.conninfo());
    ASSERT_TRUE(Startup::createAll([](const std::exception &, Startup::Step) {}));
    frmMain->show();
    catchUp();
    const auto ageShown = [] {
        catchUp();
        return frmMain->dbedt6->text() + QLatin1Char(' ') + frmMain->dbedt7->text();
    };
    EXPECT_EQ(ageShown(), QStringLiteral(" "));

    const ProgramRun other = runProgram(QStringLiteral(REESTR_WALK_RUNNER),
                                        {folder.path(), QStringLiteral("2040"), server.conninfo()});
    EXPECT_EQ(other.status, 0) << other.err.toStdString();
    EXPECT_EQ(ageShown(), QStringLiteral(" ")) << "not before the refresh";
    QTest::mouseClick(frmMain->dbnvgr1->button(DBNavigator::nbRefresh), Qt::LeftButton);
    EXPECT_EQ(ageShown(), QStringLiteral("75 да")) << "Иванов, born 1965";
    Startup::destroyAll();
    Startup::setServer(QString());
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
}

namespace {

// A register of `count` people on the server, "Человек 0001" onwards, born 1950 to 1999.
void fillRegister(const ServerDatabase &server, int count)
{
    server.exec(QStringLiteral("INSERT INTO Main (ФИО, Год) SELECT 'Человек ' || "
                               "lpad(i::text, 4, '0'), 1950 + i % 50 FROM generate_series(1, %1) i")
                    .arg(count));
}

bool startOn(const ServerDatabase &server)
{
    Startup::setServer(server.conninfo());
    const bool started = Startup::createAll([](const std::exception &e, Startup::Step) {
        ADD_FAILURE() << "start-up failed: " << e.what();
    });
    if (started)
        frmMain->show();
    return started;
}

void calculate(const QString &year)
{
    typeOver(frmMain->cbb2, year);
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    catchUp();
}

// The recording dialogs, but waits shown as the program shows them.
struct PanelDialogs : RecordingDialogs
{
    MessageDialogs real;
    bool showWaiting(const Wait &wait) override
    {
        RecordingDialogs::showWaiting(wait);
        return real.showWaiting(wait);
    }
};

void stop()
{
    Startup::destroyAll();
    Startup::setServer(QString());
}

} // namespace

// The posts of the walk go ahead of the server's answers; a person the server refuses is found
// out only later, when the walk has gone past them. The walk still ends as on the file: everyone
// before them stored, they and everyone after them untouched, the box naming them. A person
// another computer deleted is passed over, also when found out late, and everyone else stored.
TEST(ServerWindows, APersonTheServerRefusesEndsTheWalkThereThoughTheAnswerCameLate)
{
    struct Case
    {
        const char *what;
        const char *setUp; // run by another computer after the register is shown
        const char *reason;
        const char *shownAfter;
    };
    const Case cases[] = {
        {"a rule of the server refuses him",
         "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
         "IF NEW.ФИО = 'Человек 0600' THEN RAISE EXCEPTION 'отказано правилом сервера'; END IF; "
         "RETURN NEW; END $$; CREATE TRIGGER refuse BEFORE UPDATE ON Main "
         "FOR EACH ROW EXECUTE FUNCTION refuse()",
         "отказано правилом сервера", "Человек 0600"},
        {"another computer deleted him", "DELETE FROM Main WHERE ФИО = 'Человек 0600'", nullptr,
         nullptr},
        {"another computer deleted the first", "DELETE FROM Main WHERE ФИО = 'Человек 0001'",
         nullptr, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ServerDatabase server;
        REQUIRE_SERVER(server);
        fillRegister(server, 1000);
        RecordingDialogs dialogs;
        ASSERT_TRUE(startOn(server));
        server.exec(QString::fromUtf8(c.setUp));
        calculate(QStringLiteral("2030"));
        if (!c.reason) {
            EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(u'\n').toStdString();
            EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(Возраст) || ' ' || count(*) "
                                                   "FROM Main")),
                      QStringLiteral("999 999"));
            EXPECT_EQ(DM->tblMain.RecordTotal(), 999);
            stop();
            continue;
        }

        const QString refused = QStringLiteral("Человек 0600");
        ASSERT_EQ(dialogs.errors.size(), 1);
        EXPECT_TRUE(dialogs.errors[0].startsWith(QStringLiteral("Запись «%1» ").arg(refused)) &&
                    dialogs.errors[0].contains(QString::fromUtf8(c.reason)))
            << dialogs.errors[0].toStdString();
        // Another computer's view: everyone before the refused person, and no one else.
        EXPECT_EQ(
            server.scalar(
                QStringLiteral(
                    "SELECT count(*) FILTER (WHERE Возраст IS NOT NULL AND ФИО < '%1') || ' ' || "
                    "count(*) FILTER (WHERE Возраст IS NOT NULL AND ФИО >= '%1') FROM Main")
                    .arg(refused)),
            QStringLiteral("599 0"));
        EXPECT_EQ(server.scalar(QStringLiteral(
                      "SELECT Возраст || Юбилей FROM Main WHERE ФИО = 'Человек 0599'")),
                  QStringLiteral("31нет"));
        // The window shows the register as the server holds it, on the refused person.
        if (c.shownAfter) {
            EXPECT_EQ(frmMain->dbedt1->text(), QString::fromUtf8(c.shownAfter));
        }
        EXPECT_EQ(frmMain->dbedt6->text(), QString());
        EXPECT_EQ(DM->tblMain.RecordTotal(), server
                                                 .scalar(QStringLiteral("SELECT count(*) FROM "
                                                                        "Main"))
                                                 .toInt());
        stop();
    }
}

// The server goes away in the middle of a walk (stopped, or the connection cut): the person at
// the computer is told, the register is read again once the server is back, and it holds the old
// values for everyone: the server rolled the unfinished calculation back.
TEST(ServerWindows, TheServerLostDuringAWalkLeavesNothingHalfWritten)
{
    ServerDatabase server;
    REQUIRE_SERVER(server);
    fillRegister(server, 9000);
    RecordingDialogs dialogs;
    ASSERT_TRUE(startOn(server));

    // Another computer watches for the walk's transaction to write and then ends its connection,
    // as a server stopping does.
    std::atomic<bool> walking{true};
    std::atomic<int> ended{0};
    std::thread administrator([&] {
        const std::unique_ptr<PgConnection> admin = server.connect();
        while (walking && ended == 0) {
            ended = admin
                        ->exec(QStringLiteral(
                            "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                            "WHERE datname = current_database() AND application_name = 'reestr' "
                            "AND query LIKE 'UPDATE%' AND pid <> pg_backend_pid()"))
                        .text(0, 0)
                        .toInt();
        }
    });
    calculate(QStringLiteral("2030"));
    walking = false;
    administrator.join();
    ASSERT_EQ(ended, 1) << "the walk ended before its connection could be cut";

    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith(
        QStringLiteral("Расчёт возраста не сохранён в базе данных: Нет связи с сервером")))
        << dialogs.errors[0].toStdString();
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(Возраст) FROM Main")),
              QStringLiteral("0"));
    // Read again from the server: no age shown anywhere.
    EXPECT_EQ(frmMain->dbedt6->text(), QString());
    const QStringList rows = rowsOf(frmMain->dbgrd1);
    EXPECT_EQ(rows.filter(QRegularExpression(QStringLiteral("\\|\\d+\\|(да|нет)$"))),
              QStringList());
    // And the next calculation works on a new connection.
    dialogs.errors.clear();
    calculate(QStringLiteral("2030"));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(Возраст) FROM Main")),
              QStringLiteral("9000"));
    stop();
}

// A start without the server: one box, a window that says it is not connected and whose commands
// say so, and a refresh that connects and loads the register once the server is back.
TEST(ServerWindows, AStartWithoutTheServerIsOneBoxAndTheRefreshButtonLoadsTheRegisterLater)
{
    ServerDatabase server;
    REQUIRE_SERVER(server);
    fillRegister(server, 9000);
    DelayingRelay relay(server.socket(), std::chrono::milliseconds(1));
    relay.setSilent(true);
    RecordingDialogs dialogs;
    Connection::setAnswerLimit(std::chrono::seconds(2));
    Startup::setServer(relay.through(server.conninfo()));
    ASSERT_TRUE(Startup::createAll([](const std::exception &, Startup::Step) {}));
    frmMain->show();
    ASSERT_EQ(dialogs.errors.size(), 1) << dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(frmMain->windowTitle().contains(QStringLiteral("нет связи")));
    calculate(QStringLiteral("2030"));
    ASSERT_EQ(dialogs.errors.size(), 2);
    EXPECT_TRUE(dialogs.errors[1].startsWith(QStringLiteral("Нет связи с сервером")))
        << dialogs.errors[1].toStdString();

    relay.setSilent(false);
    QTest::mouseClick(frmMain->dbnvgr1->button(DBNavigator::nbRefresh), Qt::LeftButton);
    EXPECT_EQ(frmMain->windowTitle(), QStringLiteral("ЛАРВЕНСКИЙ КОЛЛЕДЖ"));
    EXPECT_EQ(DM->tblMain.RecordTotal(), 9000);
    EXPECT_TRUE(DM->tblGod.Active() && DM->tblChislo.Active()) << "every table loaded";
    // The link stalls in the middle of a calculation: one box within the limit, waited once,
    // and no age on screen that was never stored.
    std::atomic<bool> walking{true};
    QElapsedTimer silenced;
    std::thread watcher([&] {
        const std::unique_ptr<PgConnection> admin = server.connect();
        while (walking && admin->exec(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE "
                                                     "query LIKE 'UPDATE%' AND datname = "
                                                     "current_database()"))
                                  .text(0, 0) == QLatin1String("0")) {
        }
        relay.setSilent(true);
        silenced.start();
    });
    calculate(QStringLiteral("2030"));
    walking = false;
    watcher.join();
    EXPECT_LT(silenced.elapsed(), 3500) << "one limit of 2 s, not two";
    ASSERT_EQ(dialogs.errors.size(), 3) << dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(dialogs.errors[2].startsWith(QStringLiteral("Расчёт возраста не сохранён")))
        << dialogs.errors[2].toStdString();
    EXPECT_TRUE(frmMain->windowTitle().contains(QStringLiteral("нет связи")));
    EXPECT_EQ(frmMain->dbedt6->text(), QString());
    relay.setSilent(false);
    QTest::mouseClick(frmMain->dbnvgr1->button(DBNavigator::nbRefresh), Qt::LeftButton);
    calculate(QStringLiteral("2030"));
    EXPECT_EQ(dialogs.errors.size(), 3) << dialogs.errors.join(u'\n').toStdString();
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(Возраст) FROM Main")),
              QStringLiteral("9000"));
    Connection::setAnswerLimit(defaultAnswerLimit);
    stop();
}

// Another computer holds the person's row: past a second the wait shows inside the window, names
// what is awaited and the seconds left, lets no other click through, and «Отменить» ends it at
// once with nothing stored and the typing kept.
TEST(ServerWindows, AWaitShowsInTheWindowAndCancellingItStoresNothingAndKeepsTheTyping)
{
    ServerDatabase server;
    REQUIRE_SERVER(server);
    fillRegister(server, 30);
    PanelDialogs dialogs;
    ASSERT_TRUE(startOn(server));
    const std::unique_ptr<PgConnection> other = server.connect();
    other->exec(QStringLiteral("BEGIN"));
    other->exec(QStringLiteral("UPDATE Main SET ФИО = 'Другой' WHERE ФИО = $1"),
                {Value(DM->tblMain.FieldNamed(QStringLiteral("ФИО")).AsText())});
    typeOver(frmMain->cbb2, QStringLiteral("2031"));
    DM->tblMain.StartEdit();
    DM->tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Человек Первый"));
    catchUp();
    QString shown;
    std::thread person([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        QMetaObject::invokeMethod(qApp, [&] {
            auto *panel = frmMain->findChild<QWidget *>(QStringLiteral("waitPanel"));
            if (!panel || !panel->isVisible())
                return;
            shown = panel->findChild<QLabel *>()->text();
            QTest::mouseClick(frmMain->btn4, Qt::LeftButton); // taken by nobody
            QTest::mouseClick(panel->findChild<QPushButton *>(QStringLiteral("cancelWait")),
                              Qt::LeftButton);
        });
    });
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(frmMain->dbnvgr1->button(DBNavigator::nbPost), Qt::LeftButton);
    person.join();
    EXPECT_LT(clock.elapsed(), 5000) << "cancelled well before the lock's limit";
    EXPECT_TRUE(shown.contains(QStringLiteral("занят")) &&
                shown.contains(QStringLiteral("Осталось")))
        << shown.toStdString();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("отменено")) &&
                dialogs.errors[0].contains(QStringLiteral("НЕ сохранено")))
        << dialogs.errors[0].toStdString();
    EXPECT_EQ(frmMain->dbedt1->text(), QStringLiteral("Человек Первый")) << "still editing";
    EXPECT_EQ(frmMain->findChild<QWidget *>(QStringLiteral("waitPanel")), nullptr);
    other->exec(QStringLiteral("COMMIT"));
    EXPECT_EQ(server.scalar(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = 'Другой' OR "
                                           "Возраст = 2031 - Год")),
              QStringLiteral("1"))
        << "theirs stored; the click on СФОРМИРОВАТЬ СПИСОК went nowhere";
    DM->tblMain.CancelRecord();
    stop();
}

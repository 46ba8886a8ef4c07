// The windows on a register on the server give what they give on the file: the same people, the
// same ages after "СФОРМИРОВАТЬ СПИСОК", the same month lists and jubilee list.
#include "LookupDriver.h"
#include "Processes.h"
#include "RecordingDialogs.h"
#include "TempDatabase.h"
#include "TestServer.h"

#include "DatabaseTool.h"
#include "Startup.h"
#include "Unit1.h"
#include "Unit2.h"
#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "controls/TextComboBox.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

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

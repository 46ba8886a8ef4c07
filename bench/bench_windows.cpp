// The program's own handlers, with its windows made as start-up makes them (offscreen), against
// the least SQLite work that gives the same result: the age calculation of btn4Click against one
// set-based UPDATE and against the same walk over a record set attached to nothing, the month
// search and the jubilee list against stepping through their select.
#include "BenchSupport.h"

#include "windows/Application.h"
#include "windows/Startup.h"
#include "windows/MainWindow.h"
#include "windows/DataModule.h"
#include "controls/TextComboBox.h"
#include "platform/Dialogs.h"
#include "engines/sqlite/SqliteConnection.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

namespace {

// Failures would otherwise open a message box and wait for a user who is not there.
class PrintingDialogs : public Dialogs
{
public:
    void showError(const QString &m) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(m));
    }
    void showNotice(const QString &) override {}
    void showInformation(const QString &) override {}
    void showNote(const QString &) override {}
    bool confirm(const QString &) override { return true; }
    void showFatal(const QString &, const QString &m) override { showError(m); }
};

// The program as start-up makes it, in a folder holding a copy of the database.
struct Program
{
    explicit Program(int people)
    {
        QDir::setCurrent(QFileInfo(benchDatabaseCopy(people)).path());
        if (!Startup::createAll([](const std::exception &e, Startup::Step) {
                std::fprintf(stderr, "start-up failed: %s\n", e.what());
                std::exit(1);
            }))
            std::exit(1);
        frmMain->show();
        QCoreApplication::processEvents();
    }
    ~Program() { Startup::destroyAll(); }
};

// The select a query of the main window runs, as runQuery writes it.
QString listSelect(const QString &lastLine)
{
    return QStringLiteral("select *\r\nfrom Main\r\n") + lastLine + QStringLiteral("\r\n");
}
const QString monthSelect = listSelect(QStringLiteral("where Месяц like  '3' "));
const QString jubileeSelect = listSelect(QStringLiteral("where Юбилей like  'да' "));

void handler(benchmark::State &state)
{
    Program program(int(state.range(0)));
    int year = 2030;
    for (auto _ : state) {
        frmMain->cbb2->setEditText(QString::number(year++));
        frmMain->btn4Click(frmMain->btn4);
        QCoreApplication::processEvents(); // the window catches up, as before it is painted
    }
}

void monthSearch(benchmark::State &state)
{
    Program program(int(state.range(0)));
    frmMain->edt2->setText(QStringLiteral("март"));
    for (auto _ : state) {
        frmMain->btn8Click(frmMain->btn8);
        QCoreApplication::processEvents();
    }
}

void monthFloor(benchmark::State &state)
{
    SqliteConnection db(benchDatabase(int(state.range(0))), SqliteConnection::Mode::OpenExisting);
    for (auto _ : state)
        benchmark::DoNotOptimize(touchAll(db, monthSelect, false));
}

void jubileeList(benchmark::State &state)
{
    Program program(int(state.range(0)));
    for (auto _ : state) {
        frmMain->btn3Click(frmMain->btn3);
        QCoreApplication::processEvents();
    }
}

void jubileeFloor(benchmark::State &state)
{
    SqliteConnection db(benchDatabase(int(state.range(0))), SqliteConnection::Mode::OpenExisting);
    for (auto _ : state)
        benchmark::DoNotOptimize(touchAll(db, jubileeSelect, false));
}

void scrollToLastAndBack(benchmark::State &state)
{
    Program program(int(state.range(0)));
    for (auto _ : state) {
        DM->tblMain.ToLast();
        QCoreApplication::processEvents();
        DM->tblMain.ToFirst();
        QCoreApplication::processEvents();
    }
}

// Once, before timing: both sides of every ratio read or write the same rows.
void checkSameRows()
{
    Program program(10000);
    frmMain->edt2->setText(QStringLiteral("март"));
    frmMain->btn8Click(frmMain->btn8);
    frmMain->btn3Click(frmMain->btn3);
    SqliteConnection floor(benchDatabaseCopy(10000), SqliteConnection::Mode::OpenExisting);
    requireSame("month search", touchHeld(DM->qryZapros1), touchAll(floor, monthSelect, true));
    requireSame("jubilee list", touchHeld(DM->qryZapros2), touchAll(floor, jubileeSelect, true));

    frmMain->cbb2->setEditText(QStringLiteral("2031"));
    frmMain->btn4Click(frmMain->btn4);
    setBasedAgeUpdate(floor, 2031);
    requireSame("btn4Click", agesWritten(DM->con1.engine()), agesWritten(floor));
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ReestrApplication app(argc, argv);
    Application::registerFonts();
    PrintingDialogs dialogs;
    Dialogs::install(&dialogs);
    checkSameRows();
    timed("handler", handler, 1, 15)->Arg(100000);
    timed("detached", detachedWalkBenchmark, 1, 15)->Arg(100000);
    timed("setUpdate", setUpdateBenchmark, 1, 15)->Arg(100000);
    timed("monthSearch", monthSearch, 10)->Arg(100000);
    timed("monthFloor", monthFloor, 10)->Arg(100000);
    timed("jubileeList", jubileeList, 10)->Arg(100000);
    timed("jubileeFloor", jubileeFloor, 10)->Arg(100000);
    timed("scrollToLastAndBack", scrollToLastAndBack, 20)->Arg(100000);
    const RatioReporter reporter = runBenchmarks(argc, argv);
    const auto t = [&](const char *name) { return reporter.seconds(name); };
    reportTimes("btn4Click_100k_vs_set_update", t("handler/100000"), t("setUpdate/100000"), 3);
    reportTimes("btn4Click_100k_vs_detached_walk", t("handler/100000"), t("detached/100000"), 1.3);
    reportTimes("month_search_100k_vs_touch_floor", t("monthSearch/100000"), t("monthFloor/100000"),
                1.5);
    reportTimes("jubilee_list_100k_vs_touch_floor", t("jubileeList/100000"),
                t("jubileeFloor/100000"), 1.5);
    reportRatio("scroll_to_last_of_100k_and_back_ms", t("scrollToLastAndBack/100000") * 1000, 100);
    return 0;
}

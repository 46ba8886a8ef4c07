// The age calculation through the main window's own handler, with the window created offscreen,
// against the same walk over a record set attached to nothing.
#include "BenchSupport.h"

#include "Application.h"
#include "Unit1.h"
#include "Unit2.h"
#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "controls/TextComboBox.h"
#include "platform/Dialogs.h"
#include "platform/Sqlite.h"

#include "controls/TextComboBox.h"

#include <QComboBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>

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
    bool confirm(const QString &) override { return true; }
    void showFatal(const QString &, const QString &m) override { showError(m); }
};

// The program's windows and data module in a folder holding a copy of the database.
struct Program
{
    explicit Program(int people)
    {
        QDir::setCurrent(folder.path());
        QFile::copy(benchDatabase(people), QStringLiteral("Base.mdb"));
        frmMain = new TfrmMain;
        DM = new TDM;
        frmMain->show();
    }
    ~Program()
    {
        delete std::exchange(DM, nullptr);
        delete std::exchange(frmMain, nullptr);
    }
    QTemporaryDir folder;
};

void handler(benchmark::State &state)
{
    Program program(int(state.range(0)));
    int year = 2022;
    for (auto _ : state) {
        frmMain->cbb2->setEditText(QString::number(year++));
        frmMain->btn4Click(frmMain->btn4);
    }
}

// A grid, a navigator bar and seven disabled edit boxes on dsMain, as the main window has them.
struct BoundWindow
{
    BoundWindow()
    {
        window.resize(1200, 800);
        grid = new DBGrid(&window);
        grid->setGeometry(0, 0, 1200, 500);
        grid->setDataSource(&DM->dsMain);
        auto *bar = new DBNavigator(&window);
        bar->setGeometry(0, 510, 300, 30);
        bar->setDataSource(&DM->dsMain);
        const char *fields[] = {"ФИО",   "Дата_рождения", "Год",   "Месяц",
                                "Число", "Возраст",       "Юбилей"};
        int top = 550;
        for (const char *field : fields) {
            auto *box = new DBEdit(&window);
            box->setGeometry(0, top, 300, 30);
            box->setEnabled(false);
            box->setDataSource(&DM->dsMain);
            box->setDataField(QString::fromUtf8(field));
            top += 32;
        }
        window.show();
        QCoreApplication::processEvents();
    }
    QWidget window;
    DBGrid *grid;
};

void withControls(benchmark::State &state)
{
    Program program(int(state.range(0)));
    BoundWindow bound;
    int year = 2022;
    for (auto _ : state) {
        ageWalk(DM->tblMain, year++);
        QCoreApplication::processEvents(); // the controls catch up once, as before a paint
    }
}

void scrollToLastAndBack(benchmark::State &state)
{
    Program program(int(state.range(0)));
    BoundWindow bound;
    for (auto _ : state) {
        DM->tblMain.ToLast();
        QCoreApplication::processEvents();
        DM->tblMain.ToFirst();
        QCoreApplication::processEvents();
    }
}

// Reads every row and column of a select and holds them, as a raw baseline.
void rawSelect(benchmark::State &state, const QString &sql)
{
    Program program(int(state.range(0)));
    ageWalk(DM->tblMain, 2025);
    SqliteConnection db(QStringLiteral("Base.mdb"), SqliteConnection::Mode::OpenExisting);
    for (auto _ : state) {
        std::vector<SqlValue> held;
        SqliteStatement select = db.prepare(sql);
        while (select.step()) {
            for (int c = 0; c < select.columnCount(); ++c)
                held.push_back(select.columnValue(c));
        }
        benchmark::DoNotOptimize(held.data());
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

void rawMonthSearch(benchmark::State &state)
{
    rawSelect(state, QStringLiteral("select * from Main where Месяц like '3'"));
}

void jubileeList(benchmark::State &state)
{
    Program program(int(state.range(0)));
    ageWalk(DM->tblMain, 2025);
    for (auto _ : state) {
        frmMain->btn3Click(frmMain->btn3);
        QCoreApplication::processEvents();
    }
}

void rawJubileeList(benchmark::State &state)
{
    rawSelect(state, QStringLiteral("select * from Main where Юбилей like 'да'"));
}

void detached(benchmark::State &state)
{
    Program program(int(state.range(0)));
    int year = 2022;
    for (auto _ : state) {
        ageWalk(DM->tblMain, year++);
        QCoreApplication::processEvents();
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ReestrApplication app(argc, argv);
    PrintingDialogs dialogs;
    Dialogs::install(&dialogs);
    timed("handler", handler, 3)->Arg(100000);
    timed("detached", detached, 3)->Arg(100000);
    timed("withControls", withControls, 3)->Arg(100000);
    timed("monthSearch", monthSearch, 10)->Arg(100000);
    timed("rawMonthSearch", rawMonthSearch, 10)->Arg(100000);
    timed("jubileeList", jubileeList, 10)->Arg(100000);
    timed("rawJubileeList", rawJubileeList, 10)->Arg(100000);
    timed("scrollToLastAndBack", scrollToLastAndBack, 20)->Arg(100000);
    const RatioReporter reporter = runBenchmarks(argc, argv);
    reportRatio("btn4Click_vs_detached_walk",
                reporter.seconds("handler/100000") / reporter.seconds("detached/100000"), 1.3);
    reportRatio("walk_with_grid_bar_and_edits_vs_detached",
                reporter.seconds("withControls/100000") / reporter.seconds("detached/100000"), 1.3);
    reportRatio("month_search_vs_raw_select",
                reporter.seconds("monthSearch/100000") / reporter.seconds("rawMonthSearch/100000"),
                2);
    reportRatio("jubilee_list_vs_raw_select",
                reporter.seconds("jubileeList/100000") / reporter.seconds("rawJubileeList/100000"),
                2);
    reportRatio("scroll_to_last_of_100k_and_back_ms",
                reporter.seconds("scrollToLastAndBack/100000") * 1000, 100);
    return 0;
}

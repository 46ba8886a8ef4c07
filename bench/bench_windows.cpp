// The age calculation through the main window's own handler, with the window created offscreen,
// against the same walk over a record set attached to nothing.
#include "BenchSupport.h"

#include "Application.h"
#include "Unit1.h"
#include "Unit2.h"
#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "platform/Dialogs.h"

#include <QComboBox>
#include <QPushButton>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Failures would otherwise open a message box and wait for a user who is not there.
class PrintingDialogs : public Dialogs
{
public:
    void showError(const QString &m) override { std::fprintf(stderr, "error: %s\n", qPrintable(m)); }
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
        const char *fields[] = {"ФИО", "Дата_рождения", "Год", "Месяц", "Число", "Возраст", "Юбилей"};
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

BENCHMARK(handler)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(detached)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(withControls)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(scrollToLastAndBack)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(20);

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ReestrApplication app(argc, argv);
    PrintingDialogs dialogs;
    Dialogs::install(&dialogs);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reportRatio("btn4Click_vs_detached_walk",
                reporter.seconds("handler/100000/iterations:3") / reporter.seconds("detached/100000/iterations:3"),
                1.3);
    reportRatio("walk_with_grid_bar_and_edits_vs_detached",
                reporter.seconds("withControls/100000/iterations:3") / reporter.seconds("detached/100000/iterations:3"),
                1.3);
    reportRatio("scroll_to_last_of_100k_and_back_ms",
                reporter.seconds("scrollToLastAndBack/100000/iterations:20") * 1000, 100);
    return 0;
}

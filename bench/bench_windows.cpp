// The age calculation through the main window's own handler, with the window created offscreen,
// against the same walk over a record set attached to nothing.
#include "BenchSupport.h"

#include "Application.h"
#include "Unit1.h"
#include "Unit2.h"
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

void detached(benchmark::State &state)
{
    Program program(int(state.range(0)));
    int year = 2022;
    for (auto _ : state)
        ageWalk(DM->tblMain, year++);
}

} // namespace

BENCHMARK(handler)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(detached)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

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
    return 0;
}

// The program over a register of 1,000,000 people, started as a process of its own the way the
// office starts it: how soon the register is shown, and the most memory the process takes once
// the register, the month list and the jubilee list are all open.
#include "BenchSupport.h"

#include "windows/Application.h"
#include "windows/Startup.h"
#include "windows/MainWindow.h"
#include "windows/DataModule.h"
#include "controls/DBGrid.h"
#include "platform/Dialogs.h"

#include "engines/sqlite/SqliteConnection.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int people = 1000000;

class ExitingDialogs : public Dialogs
{
public:
    void showError(const QString &m) override
    {
        std::fprintf(stderr, "error: %s\n", qPrintable(m));
        std::exit(1);
    }
    void showNotice(const QString &m) override { showError(m); }
    void showInformation(const QString &) override {}
    void showNote(const QString &) override {}
    bool confirm(const QString &) override { return true; }
    void showFatal(const QString &, const QString &m) override { showError(m); }
};

// Seconds since this process was started, as the system counts it.
double secondsSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The fields after the command name, which is in brackets and may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double started = fields.value(19).toDouble() / double(sysconf(_SC_CLK_TCK));
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9 - started;
}

// Tells when a widget has been painted.
class PaintWatch : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

// The program itself, in the current folder: start-up as main() does it, then both lists.
int runProgram(int argc, char *argv[])
{
    ReestrApplication app(argc, argv);
    Application::registerFonts();
    ExitingDialogs dialogs;
    Dialogs::install(&dialogs);
    if (!Startup::createAll([](const std::exception &e, Startup::Step) {
            std::fprintf(stderr, "start-up failed: %s\n", e.what());
        }))
        return 1;
    PaintWatch watch;
    frmMain->dbgrd1->viewport()->installEventFilter(&watch);
    Startup::showMainWindow();
    while (!watch.painted)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double shown = secondsSinceProcessStart();
    std::printf("rows %d\nshown %.3f\n", DM->tblMain.RecordTotal(), shown);

    frmMain->edt2->setText(QStringLiteral("март"));
    frmMain->btn8Click(frmMain->btn8);
    frmMain->btn3Click(frmMain->btn3);
    QCoreApplication::processEvents();
    std::printf("lists %d %d\npeak %lld\n", DM->qryZapros1.RecordTotal(),
                DM->qryZapros2.RecordTotal(), static_cast<long long>(peakKiB()));
    Startup::destroyAll();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--program") == 0)
        return runProgram(argc, argv);

    QCoreApplication app(argc, argv);
    const QString database = benchDatabaseCopy(people);
    double shown = 1e9;
    double peak = 1e9;
    for (int run = 0; run < 3; ++run) { // the fastest start and the smallest peak stand
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program.setProcessEnvironment(environment);
        program.setWorkingDirectory(QFileInfo(database).path());
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--program")});
        if (!program.waitForFinished(120000) || program.exitCode() != 0) {
            std::fprintf(stderr, "the program over %d people did not run through\n", people);
            return 1;
        }
        const QByteArray output = program.readAllStandardOutput();
        std::fputs(output.constData(), stdout);
        for (const QByteArray &line : output.split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.value(0) == "rows" && words.value(1).toInt() != people) {
                std::fprintf(stderr, "the register showed %s rows\n", words.value(1).constData());
                return 1;
            }
            if (words.value(0) == "shown")
                shown = std::min(shown, words.value(1).toDouble());
            if (words.value(0) == "peak")
                peak = std::min(peak, words.value(1).toDouble() / 1024);
        }
    }
    // The floor: the same million rows read touch-only, in this process, the fastest of three.
    double touched = 1e9;
    {
        SqliteConnection db(database, SqliteConnection::Mode::OpenExisting);
        for (int run = 0; run < 3; ++run) {
            QElapsedTimer timer;
            timer.start();
            const Touched rows = touchAll(db, QStringLiteral("SELECT rowid, * FROM Main"), false);
            if (rows.rows != people)
                return 1;
            touched = std::min(touched, double(timer.nsecsElapsed()) / 1e9);
        }
    }
    reportTimes("million_register_shown_vs_touch_only", shown, touched, 1.8);
    reportRatio("million_peak_mib_with_register_and_both_lists", peak, 160);
    return 0;
}

// Two programs on one register file, as two computers on a shared file: how soon one shows what
// the other committed, what watching costs while nothing happens, and what one change elsewhere
// costs the watching program with 100,000 people held.
#include "BenchSupport.h"

#include "controls/ChangeWatch.h"
#include "recordset/Connection.h"
#include "recordset/Field.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int people = 100000;

struct Program
{
    explicit Program(const QString &path) : connection(path)
    {
        people.setTableName(QStringLiteral("Main"));
        people.setActive(true);
    }
    Connection connection;
    RecordSet people{QStringLiteral("tblMain"), connection, RecordSet::Kind::Table};
};

// Changes the name of the person with `key` and posts it.
void rename(Program &program, qint64 key, const QString &name)
{
    program.people.ToKey(key);
    program.people.StartEdit();
    program.people.FieldNamed(QStringLiteral("ФИО")).setAsText(name);
    program.people.PostRecord();
}

bool shows(RecordSet &set, qint64 key, const QString &name)
{
    set.ToKey(key);
    return set.FieldNamed(QStringLiteral("ФИО")).AsText() == name;
}

double processSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The event loop, as the program runs it between a person's actions.
void runEventsFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QString path = benchDatabaseCopy(people);
    Program watching(path);
    Program changing(path);

    // Commit to shown, through the program's own watch, at every phase of its once-a-second
    // look at the file: the mean of ten changes, each after a different pause.
    {
        ChangeWatch watch(watching.connection);
        double total = 0;
        constexpr int changes = 10;
        for (int i = 0; i < changes; ++i) {
            runEventsFor(100 * i % 1000);
            const qint64 key = 1 + i * 997;
            const QString name = QStringLiteral("Изменён %1").arg(i);
            rename(changing, key, name);
            QElapsedTimer seen;
            seen.start();
            while (!shows(watching.people, key, name) && seen.elapsed() < 10000)
                runEventsFor(5);
            total += double(seen.elapsed());
        }
        reportRatio("live_change_seen_ms", total / changes, 2000, "file, two programs");

        // Watching while nothing happens.
        const double before = processSeconds();
        QElapsedTimer wall;
        wall.start();
        runEventsFor(5000);
        const double busy = (processSeconds() - before) / (double(wall.elapsed()) / 1000.0);
        reportRatio("live_idle_cpu_percent", busy * 100, 1, "file, 100,000 people held");
    }

    // One person changed elsewhere: the watching program's work to show it, the median of nine.
    std::vector<double> costs;
    for (int i = 0; i < 9; ++i) {
        const qint64 key = 50000 + i;
        rename(changing, key, QStringLiteral("Ещё раз %1").arg(i));
        QElapsedTimer timer;
        timer.start();
        watching.connection.showOthersChanges();
        costs.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!shows(watching.people, key, QStringLiteral("Ещё раз %1").arg(i))) {
            std::fprintf(stderr, "the change was not shown\n");
            return 1;
        }
    }
    std::sort(costs.begin(), costs.end());
    reportRatio("live_change_cost_100k_ms", costs[costs.size() / 2], 50, "file, median of nine");
    return 0;
}

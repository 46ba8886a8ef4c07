#include "BenchSupport.h"

#include "service/AgeCalculation.h"

#include "DatabaseTool.h"
#include "platform/Sqlite.h"
#include "recordset/RecordSet.h"

#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

void RatioReporter::ReportRuns(const std::vector<Run> &runs)
{
    // A benchmark is named by its function and arguments ("walk/100000"). With repetitions, the
    // fastest stands for it: other work on a busy machine only ever adds time, so the minimum is
    // the steadiest figure of what the code itself costs.
    for (const Run &run : runs) {
        if (run.iterations <= 0)
            continue;
        if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "min")
            continue;
        std::string name = run.run_name.function_name;
        if (!run.run_name.args.empty())
            name += "/" + run.run_name.args;
        if (run.run_type == Run::RT_Iteration && m_aggregated.count(name))
            continue;
        if (run.run_type == Run::RT_Aggregate)
            m_aggregated.insert(name);
        m_seconds[name] = run.real_accumulated_time / double(run.iterations);
    }
    ConsoleReporter::ReportRuns(runs);
}

double RatioReporter::seconds(const std::string &name) const
{
    const auto it = m_seconds.find(name);
    return it == m_seconds.end() ? 0 : it->second;
}

benchmark::internal::Benchmark *timed(const char *name, void (*function)(benchmark::State &),
                                      int iterations)
{
    return benchmark::RegisterBenchmark(name, function)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(iterations)
        ->Repetitions(3)
        ->ComputeStatistics("min",
                            [](const std::vector<double> &times) {
                                return *std::min_element(times.begin(), times.end());
                            })
        ->ReportAggregatesOnly(true);
}

RatioReporter runBenchmarks(int &argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return reporter;
}

void reportRatio(const std::string &name, double value, double target)
{
    char line[256];
    std::snprintf(line, sizeof line, "ratio %s %.3f target<=%g\n", name.c_str(), value, target);
    // Under `make bench` the lines are gathered and printed together at the very end.
    const char *file = std::getenv("REESTR_RATIO_FILE");
    FILE *out = file ? std::fopen(file, "a") : nullptr;
    std::fputs(line, out ? out : stdout);
    if (out)
        std::fclose(out);
}

QString benchDatabase(int people)
{
    static QTemporaryDir folder;
    static std::map<int, QString> made;
    if (auto it = made.find(people); it != made.end())
        return it->second;

    const QString path = folder.filePath(QStringLiteral("Base-%1.mdb").arg(people));
    DatabaseTool::createDatabase(path, false, 2026);
    SqliteConnection db(path, SqliteConnection::Mode::OpenExisting);
    db.exec(QStringLiteral("BEGIN"));
    SqliteStatement insert = db.prepare(QStringLiteral(
        "INSERT INTO Main (ФИО, Дата_рождения, Год, Месяц, Число) VALUES (?, ?, ?, ?, ?)"));
    const auto &demo = DatabaseTool::demoPeople();
    for (int i = 0; i < people; ++i) {
        const DatabaseTool::DemoPerson &person = demo[i % demo.size()];
        const int year = 1940 + i % 70;
        insert.bind(1, person.fullName);
        insert.bind(2, DatabaseTool::composeBirthDate(person.day, person.month, year));
        insert.bindInt64(3, year);
        insert.bindInt64(4, person.month);
        insert.bindInt64(5, person.day);
        insert.run();
    }
    db.exec(QStringLiteral("COMMIT"));
    made[people] = path;
    return path;
}

void ageWalk(RecordSet &tblMain, int year)
{
    // As btn4Click does it, minus reading the year box.
    tblMain.ToFirst();
    tblMain.StartEdit();
    AgeCalculation::walk(tblMain, year);
}

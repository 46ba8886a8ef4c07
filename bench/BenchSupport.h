#pragma once

#include <benchmark/benchmark.h>

#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

class RecordSet;
class SqliteConnection;
class Engine;
class Connection;

// Collects the times of every benchmark run, so the program can end with its target lines.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override;
    // Seconds per iteration of the fastest repetition: wall-clock and processor time.
    double seconds(const std::string &name) const;
    double cpuSeconds(const std::string &name) const;

private:
    std::map<std::string, std::pair<double, double>> m_seconds;
    std::set<std::string> m_aggregated;
};

// Registers a benchmark timed in milliseconds over a fixed number of iterations, repeated (three
// times unless told); the fastest repetition stands for it. Short runs of many repetitions let a
// quick benchmark's fastest repetition miss the machine's busy moments.
benchmark::internal::Benchmark *timed(const char *name, void (*function)(benchmark::State &),
                                      int iterations, int repetitions = 3);

// Runs every registered benchmark and gives their times.
RatioReporter runBenchmarks(int &argc, char **argv);

// Prints "ratio NAME VALUE target<=T" and appends it to the file named by REESTR_RATIO_FILE;
// `note` follows on the same line after a '#'.
void reportRatio(const std::string &name, double value, double target,
                 const std::string &note = std::string());
// The ratio of two times in seconds, noted with both in milliseconds and what the first costs more.
void reportTimes(const std::string &name, double program, double baseline, double target);

// A database file of `people` persons in a temporary folder, made once per size. Ages and
// jubilee marks are those of 2025, as after the age calculation of that year.
QString benchDatabase(int people);
// A copy of it in a folder of its own, as Base.mdb; the folder lives as long as the process.
QString benchDatabaseCopy(int people);

// What reading a result gives: its rows and a checksum of every value in order.
struct Touched
{
    qint64 rows = 0;
    quint64 checksum = 0;
    bool operator==(const Touched &) const = default;
};

// The least any reader of a select does: steps through it and reads every column of every row
// (texts as the engine holds them, in UTF-8), holding nothing. With `hashTexts` every byte of
// every text goes into the checksum, as the one-time comparison with the program needs; without,
// only its length, so the floor does no more than the program. Columns before `first` are read
// but left out of the checksum.
Touched touchAll(SqliteConnection &db, const QString &sql, bool hashTexts, int first = 0);
// The same checksum (texts hashed) over the rows a record set holds.
Touched touchHeld(const RecordSet &set);
// Stops the benchmark program when the two sides of a ratio did not read or write the same rows.
void requireSame(const char *what, const Touched &program, const Touched &baseline);

// Every person's age and jubilee mark for `year` in one UPDATE statement and one transaction:
// the least work the age calculation can be.
void setBasedAgeUpdate(SqliteConnection &db, int year);
// What the age calculation wrote, in key order.
Touched agesWritten(SqliteConnection &db);
// The same, read through the register's engine (a file).
Touched agesWritten(Engine &engine);

// The most memory this process has held, in KiB (VmHWM); -1 where it cannot be read.
qint64 peakKiB();
// Runs this benchmark program again with `arguments`, three times, and gives the least of the
// peaks it printed as the last word of its output, in MiB; the words before it are given to
// `check`. Empty when a run failed.
std::optional<double>
leastChildPeakMiB(const QStringList &arguments,
                  const std::function<void(const QList<QByteArray> &)> &check = {});

// Opens tblMain of the register `connection` names once per iteration, as the program does.
void openTableRepeatedly(benchmark::State &state, Connection &connection);
// The age walk over tblMain of the register `connection` names, one year after another.
void walkRepeatedly(benchmark::State &state, Connection &connection);

// Benchmarks over a copy of the bench database of state.range(0) people, one year after another:
// the age walk over tblMain as a record set attached to nothing, and the set-based update.
void detachedWalkBenchmark(benchmark::State &state);
void setUpdateBenchmark(benchmark::State &state);

// The age calculation of btn4Click (the same walk function) over a record set, without reading
// a year box.
void ageWalk(RecordSet &tblMain, int year);

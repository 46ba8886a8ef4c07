#pragma once

#include <benchmark/benchmark.h>

#include <QString>

#include <map>
#include <set>
#include <string>

// Collects the mean time of every benchmark run, so the program can end with its target lines.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override;
    // Mean real time per iteration in seconds.
    double seconds(const std::string &name) const;

private:
    std::map<std::string, double> m_seconds;
    std::set<std::string> m_aggregated;
};

// Registers a benchmark timed in milliseconds over a fixed number of iterations, repeated three
// times; the fastest repetition stands for it.
benchmark::internal::Benchmark *timed(const char *name, void (*function)(benchmark::State &),
                                      int iterations);

// Runs every registered benchmark and gives their times.
RatioReporter runBenchmarks(int &argc, char **argv);

// Prints "ratio NAME VALUE target<=T" and appends it to the file named by REESTR_RATIO_FILE.
void reportRatio(const std::string &name, double value, double target);

class RecordSet;

// The age calculation of btn4Click (the same walk function) over a record set, without reading a
// year box.
void ageWalk(RecordSet &tblMain, int year);

// A database file of `people` persons in a temporary folder, made once per size.
QString benchDatabase(int people);

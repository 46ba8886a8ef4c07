#include "BenchSupport.h"

#include "service/AgeCalculation.h"

#include "register/DatabaseTool.h"
#include "engines/sqlite/SqliteConnection.h"
#include "engines/sqlite/SqliteEngine.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
        m_seconds[name] = {run.real_accumulated_time / double(run.iterations),
                           run.cpu_accumulated_time / double(run.iterations)};
    }
    ConsoleReporter::ReportRuns(runs);
}

double RatioReporter::seconds(const std::string &name) const
{
    const auto it = m_seconds.find(name);
    return it == m_seconds.end() ? 0 : it->second.first;
}

double RatioReporter::cpuSeconds(const std::string &name) const
{
    const auto it = m_seconds.find(name);
    return it == m_seconds.end() ? 0 : it->second.second;
}

benchmark::internal::Benchmark *timed(const char *name, void (*function)(benchmark::State &),
                                      int iterations, int repetitions)
{
    const auto fastest = [](const std::vector<double> &times) {
        return *std::min_element(times.begin(), times.end());
    };
    return benchmark::RegisterBenchmark(name, function)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(iterations)
        ->Repetitions(repetitions)
        ->ComputeStatistics("min", fastest)
        ->ReportAggregatesOnly(true);
}

RatioReporter runBenchmarks(int &argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    return reporter;
}

void reportRatio(const std::string &name, double value, double target, const std::string &note)
{
    char line[512];
    std::snprintf(line, sizeof line, "ratio %s %.3f target<=%g%s%s\n", name.c_str(), value, target,
                  note.empty() ? "" : "  # ", note.c_str());
    // Under `make bench` the lines are gathered and printed together at the very end.
    const char *file = std::getenv("REESTR_RATIO_FILE");
    FILE *out = file ? std::fopen(file, "a") : nullptr;
    std::fputs(line, out ? out : stdout);
    if (out)
        std::fclose(out);
}

void reportTimes(const std::string &name, double program, double baseline, double target)
{
    char note[160];
    std::snprintf(note, sizeof note, "%.1f ms against %.1f ms: %+.1f ms", program * 1000,
                  baseline * 1000, (program - baseline) * 1000);
    reportRatio(name, baseline > 0 ? program / baseline : 0, target, note);
}

QString benchDatabase(int people)
{
    static QTemporaryDir folder;
    static std::map<int, QString> made;
    if (auto it = made.find(people); it != made.end())
        return it->second;

    const QString path = folder.filePath(QStringLiteral("Base-%1.mdb").arg(people));
    DatabaseTool::createDatabase(path, false, 2026);
    {
        SqliteConnection db(path, SqliteConnection::Mode::OpenExisting);
        Transaction transaction(db);
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
        transaction.commit();
        setBasedAgeUpdate(db, 2025);
        db.checkpoint();
    }
    made[people] = path;
    return path;
}

QString benchDatabaseCopy(int people)
{
    static std::vector<std::unique_ptr<QTemporaryDir>> folders;
    folders.push_back(std::make_unique<QTemporaryDir>());
    const QString path = folders.back()->filePath(QStringLiteral("Base.mdb"));
    QFile::copy(benchDatabase(people), path);
    // On the disk before any timing starts: the first checkpoint's sync would otherwise write out
    // the whole fresh copy, as much or as little of it as the system had not yet written.
    QFile copy(path);
    if (copy.open(QIODevice::ReadOnly))
        ::fsync(copy.handle());
    return path;
}

namespace {

constexpr quint64 fnvOffset = 14695981039346656037ULL;
constexpr quint64 fnvPrime = 1099511628211ULL;

quint64 mix(quint64 hash, const void *data, size_t size)
{
    const auto *bytes = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * fnvPrime;
    return hash;
}

quint64 mixInteger(quint64 hash, qint64 value)
{
    return mix(mix(hash, "i", 1), &value, sizeof value);
}
quint64 mixReal(quint64 hash, double value)
{
    return mix(mix(hash, "r", 1), &value, sizeof value);
}
quint64 mixText(quint64 hash, std::string_view text, bool wholeText)
{
    hash = mix(hash, "t", 1);
    const quint64 length = text.size();
    hash = mix(hash, &length, sizeof length);
    return wholeText ? mix(hash, text.data(), text.size()) : hash;
}

} // namespace

Touched touchAll(SqliteConnection &db, const QString &sql, bool hashTexts, int first)
{
    Touched touched;
    touched.checksum = fnvOffset;
    SqliteStatement select = db.prepare(sql);
    const int columns = select.columnCount();
    while (select.step()) {
        ++touched.rows;
        for (int c = 0; c < columns; ++c) {
            quint64 &hash = touched.checksum;
            quint64 ignored = 0;
            quint64 &into = c < first ? ignored : hash;
            switch (select.columnType(c)) {
            case SqliteStatement::Type::Null:
                into = mix(into, "n", 1);
                break;
            case SqliteStatement::Type::Integer:
                into = mixInteger(into, select.columnInt64(c));
                break;
            case SqliteStatement::Type::Real:
                into = mixReal(into, select.columnDouble(c));
                break;
            case SqliteStatement::Type::Text:
            case SqliteStatement::Type::Blob:
                into = mixText(into, select.columnUtf8(c), hashTexts);
                break;
            }
        }
    }
    return touched;
}

Touched touchHeld(const RecordSet &set)
{
    Touched touched;
    touched.checksum = fnvOffset;
    touched.rows = set.rowCount();
    for (int row = 0; row < set.rowCount(); ++row) {
        for (int c = 0; c < set.FieldCount(); ++c) {
            const SqlValue value = set.valueAt(row, c);
            quint64 &hash = touched.checksum;
            if (auto i = std::get_if<qint64>(&value)) {
                hash = mixInteger(hash, *i);
            } else if (auto d = std::get_if<double>(&value)) {
                hash = mixReal(hash, *d);
            } else if (auto s = std::get_if<QString>(&value)) {
                const QByteArray utf8 = s->toUtf8();
                hash = mixText(hash, std::string_view(utf8.constData(), size_t(utf8.size())), true);
            } else {
                hash = mix(hash, "n", 1);
            }
        }
    }
    return touched;
}

void requireSame(const char *what, const Touched &program, const Touched &baseline)
{
    if (program == baseline) {
        std::printf("same rows: %s (%lld rows)\n", what, static_cast<long long>(program.rows));
        return;
    }
    std::fprintf(
        stderr, "%s: the program and its baseline differ (%lld rows, %llx; %lld rows, %llx)\n",
        what, static_cast<long long>(program.rows),
        static_cast<unsigned long long>(program.checksum), static_cast<long long>(baseline.rows),
        static_cast<unsigned long long>(baseline.checksum));
    std::exit(1);
}

void setBasedAgeUpdate(SqliteConnection &db, int year)
{
    SqliteStatement update = db.prepare(QStringLiteral(
        "UPDATE Main SET Возраст = ?1 - ifnull(Год, 0), "
        "Юбилей = CASE WHEN (?1 - ifnull(Год, 0)) % 5 = 0 THEN 'да' ELSE 'нет' END"));
    update.bindInt64(1, year);
    Transaction transaction(db);
    // Other programs are told of one change of the whole table, as the program tells them: the
    // log's triggers log no row while the mark is there.
    db.exec(QStringLiteral("INSERT INTO Izmeneniya (Номер, Таблица) VALUES (0, ''); "
                           "INSERT INTO Izmeneniya (Таблица) VALUES ('Main')"));
    update.run();
    db.exec(QStringLiteral("DELETE FROM Izmeneniya WHERE Номер = 0"));
    transaction.commit();
}

Touched agesWritten(SqliteConnection &db)
{
    return touchAll(db, QStringLiteral("SELECT Код, Возраст, Юбилей FROM Main ORDER BY Код"), true);
}

void ageWalk(RecordSet &tblMain, int year)
{
    // As btn4Click does it, minus reading the year box.
    tblMain.ToFirst();
    tblMain.StartEdit();
    AgeCalculation::walk(tblMain, year);
}

qint64 peakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

std::optional<double> leastChildPeakMiB(const QStringList &arguments,
                                        const std::function<void(const QList<QByteArray> &)> &check)
{
    double least = 1e12;
    for (int run = 0; run < 3; ++run) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(), arguments);
        if (!process.waitForFinished(300000) || process.exitCode() != 0)
            return std::nullopt;
        QList<QByteArray> words = process.readAllStandardOutput().trimmed().split(' ');
        least = std::min(least, words.takeLast().toDouble() / 1024);
        if (check)
            check(words);
    }
    return least;
}

void openTableRepeatedly(benchmark::State &state, Connection &connection)
{
    connection.open();
    for (auto _ : state) {
        RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
        tblMain.setTableName(QStringLiteral("Main"));
        tblMain.setActive(true);
        benchmark::DoNotOptimize(tblMain.RecordTotal());
    }
}

void walkRepeatedly(benchmark::State &state, Connection &connection)
{
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    tblMain.setActive(true);
    int year = 2030;
    for (auto _ : state)
        ageWalk(tblMain, year++);
}

void detachedWalkBenchmark(benchmark::State &state)
{
    Connection connection(benchDatabaseCopy(int(state.range(0))));
    walkRepeatedly(state, connection);
}

void setUpdateBenchmark(benchmark::State &state)
{
    SqliteConnection db(benchDatabaseCopy(int(state.range(0))),
                        SqliteConnection::Mode::OpenExisting);
    int year = 2030;
    for (auto _ : state)
        setBasedAgeUpdate(db, year++);
}

Touched agesWritten(Engine &engine)
{
    return agesWritten(dynamic_cast<SqliteEngine &>(engine).connection());
}

// The record-set layer against raw SQLite doing the same work with prepared statements under the
// same settings: opening tblMain, the age walk, memory per held record, growth with size.
#include "BenchSupport.h"

#include "platform/Sqlite.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QCoreApplication>

#include <malloc.h>

#include <vector>

namespace {

void openTable(benchmark::State &state)
{
    const QString path = benchDatabase(int(state.range(0)));
    Connection connection(path);
    connection.open();
    for (auto _ : state) {
        RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
        tblMain.setTableName(QStringLiteral("Main"));
        tblMain.setActive(true);
        benchmark::DoNotOptimize(tblMain.RecordTotal());
    }
}

// Reads every row and column and holds them: texts as strings, numbers as numbers.
void rawReadAll(benchmark::State &state)
{
    const QString path = benchDatabase(int(state.range(0)));
    SqliteConnection db(path, SqliteConnection::Mode::OpenExisting);
    for (auto _ : state) {
        std::vector<SqlValue> held;
        SqliteStatement select = db.prepare(QStringLiteral("SELECT rowid, * FROM Main"));
        while (select.step()) {
            for (int c = 0; c < select.columnCount(); ++c)
                held.push_back(select.columnValue(c));
        }
        benchmark::DoNotOptimize(held.data());
    }
}

void walk(benchmark::State &state)
{
    const QString path = benchDatabase(int(state.range(0)));
    Connection connection(path);
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    tblMain.setActive(true);
    int year = 2022;
    for (auto _ : state)
        ageWalk(tblMain, year++);
}

// The same per-row updates in one transaction, as the walk makes them.
void rawWalk(benchmark::State &state)
{
    const QString path = benchDatabase(int(state.range(0)));
    SqliteConnection db(path, SqliteConnection::Mode::OpenExisting);
    std::vector<std::pair<qint64, qint64>> rows;
    SqliteStatement select = db.prepare(QStringLiteral("SELECT rowid, Год FROM Main"));
    while (select.step())
        rows.emplace_back(select.columnInt64(0), select.columnInt64(1));
    SqliteStatement update =
        db.prepare(QStringLiteral("UPDATE Main SET Возраст = ?, Юбилей = ? WHERE rowid = ?"));
    int year = 2022;
    for (auto _ : state) {
        db.exec(QStringLiteral("BEGIN IMMEDIATE"));
        for (const auto &[key, born] : rows) {
            const qint64 age = year - born;
            update.bindInt64(1, age);
            update.bind(2, age % 5 == 0 ? QStringLiteral("да") : QStringLiteral("нет"));
            update.bindInt64(3, key);
            update.run();
        }
        db.exec(QStringLiteral("COMMIT"));
        ++year;
    }
}

// Heap bytes per held record of Main beyond the UTF-16 text it holds.
double bytesPerRecord(int people)
{
    Connection connection(benchDatabase(people));
    connection.open();
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    tblMain.setActive(true);
    const size_t after = mallinfo2().uordblks;
    double textBytes = 0;
    for (int row = 0; row < tblMain.rowCount(); ++row) {
        for (int column = 0; column < tblMain.FieldCount(); ++column) {
            const SqlValue value = tblMain.valueAt(row, column);
            if (auto text = std::get_if<QString>(&value))
                textBytes += double(text->size()) * 2;
        }
    }
    return (double(after - before) - textBytes) / tblMain.rowCount();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    timed("openTable", openTable, 5)->Arg(10000)->Arg(100000);
    timed("rawReadAll", rawReadAll, 5)->Arg(10000)->Arg(100000);
    timed("walk", walk, 3)->Arg(10000)->Arg(100000);
    timed("rawWalk", rawWalk, 3)->Arg(10000)->Arg(100000);
    const RatioReporter reporter = runBenchmarks(argc, argv);

    const double memory = bytesPerRecord(100000);
    std::printf("held record of Main: %.0f bytes beyond its text\n", memory);

    const auto t = [&](const char *name) { return reporter.seconds(name); };
    reportRatio("open_vs_raw_read", t("openTable/100000") / t("rawReadAll/100000"), 2);
    reportRatio("walk_vs_raw_updates", t("walk/100000") / t("rawWalk/100000"), 1.5);
    reportRatio("held_record_bytes_beyond_text", memory, 300);
    reportRatio("open_growth_100k_vs_10k", t("openTable/100000") / t("openTable/10000"), 12);
    reportRatio("walk_growth_100k_vs_10k", t("walk/100000") / t("walk/10000"), 12);
    return 0;
}

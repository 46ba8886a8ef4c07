// The record-set layer against the least SQLite work that gives the same result, under the same
// settings: opening tblMain against stepping through the table and reading every column, the age
// walk (a record set attached to nothing) against one set-based UPDATE, memory per held record,
// and growth from 100,000 to 1,000,000 people.
#include "BenchSupport.h"

#include "engines/sqlite/SqliteConnection.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QCoreApplication>
#include <QFile>

#include <malloc.h>

namespace {

const QString tableSelect = QStringLiteral("SELECT rowid, * FROM Main");

void openTable(benchmark::State &state)
{
    Connection connection(benchDatabase(int(state.range(0))));
    openTableRepeatedly(state, connection);
}

void touchFloor(benchmark::State &state)
{
    SqliteConnection db(benchDatabase(int(state.range(0))), SqliteConnection::Mode::OpenExisting);
    for (auto _ : state)
        benchmark::DoNotOptimize(touchAll(db, tableSelect, false));
}

// Once, before timing: the record set holds what the floor reads, and the walk writes what the
// set-based update writes.
void checkSameRows()
{
    Connection connection(benchDatabaseCopy(10000));
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    tblMain.setActive(true);
    SqliteConnection floor(benchDatabaseCopy(10000), SqliteConnection::Mode::OpenExisting);
    requireSame("open tblMain", touchHeld(tblMain), touchAll(floor, tableSelect, true, 1));

    ageWalk(tblMain, 2031);
    setBasedAgeUpdate(floor, 2031);
    requireSame("age walk", agesWritten(connection.engine()), agesWritten(floor));
}

// The walk after another computer wrote to the file since the rows were read: every person's
// UPDATE also compares the row with what was read. The other computer writes a person's year
// again as it was, so that the walk goes through to the end.
void walkAfterAnotherComputer(benchmark::State &state)
{
    const QString file = benchDatabaseCopy(int(state.range(0)));
    Connection connection(file);
    SqliteConnection other(file, SqliteConnection::Mode::OpenExisting);
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    tblMain.setActive(true);
    int year = 2030;
    for (auto _ : state) {
        state.PauseTiming();
        other.exec(QStringLiteral("UPDATE Main SET Год = Год WHERE Код = 1"));
        state.ResumeTiming();
        ageWalk(tblMain, year++);
    }
}

qint64 residentAnonymousBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// Resident bytes a held record of Main takes beyond the UTF-8 bytes of its texts: its values,
// its place in the arena and in the record set's list.
double bytesPerRecord(int people)
{
    Connection connection(benchDatabase(people));
    connection.open();
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    malloc_trim(0);
    const qint64 before = residentAnonymousBytes();
    tblMain.setActive(true);
    malloc_trim(0);
    const qint64 after = residentAnonymousBytes();
    double textBytes = 0;
    for (int row = 0; row < tblMain.rowCount(); ++row) {
        for (int column = 0; column < tblMain.FieldCount(); ++column) {
            const SqlValue value = tblMain.valueAt(row, column);
            if (auto text = std::get_if<QString>(&value))
                textBytes += double(text->toUtf8().size());
        }
    }
    return (double(after - before) - textBytes) / tblMain.rowCount();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    checkSameRows();
    timed("openTable", openTable, 5)->Arg(10000)->Arg(100000);
    timed("openTable", openTable, 1)->Arg(1000000);
    timed("touchFloor", touchFloor, 5)->Arg(100000);
    timed("walk", detachedWalkBenchmark, 3)->Arg(100000);
    timed("walk", detachedWalkBenchmark, 1)->Arg(1000000);
    timed("setUpdate", setUpdateBenchmark, 3)->Arg(100000);
    timed("checkedWalk", walkAfterAnotherComputer, 3)->Arg(100000);
    const RatioReporter reporter = runBenchmarks(argc, argv);

    const double memory = bytesPerRecord(100000);
    const auto t = [&](const char *name) { return reporter.seconds(name); };
    reportTimes("open_100k_vs_touch_floor", t("openTable/100000"), t("touchFloor/100000"), 1.5);
    std::printf("walk of 100,000 attached to nothing: %.1f ms; set-based update: %.1f ms\n",
                t("walk/100000") * 1000, t("setUpdate/100000") * 1000);
    reportTimes("walk_checked_100k_vs_set_update", t("checkedWalk/100000"),
                t("setUpdate/100000"), 4);
    reportRatio("held_record_bytes_beyond_text", memory, 64);
    reportTimes("open_growth_1m_vs_100k", t("openTable/1000000"), t("openTable/100000"), 11);
    reportTimes("open_growth_100k_vs_10k", t("openTable/100000"), t("openTable/10000"), 11);
    reportTimes("walk_growth_1m_vs_100k", t("walk/1000000"), t("walk/100000"), 11);
    return 0;
}

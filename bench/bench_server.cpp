// The register on a PostgreSQL server against what plain libpq does with the same rows, on the
// server `make bench` starts (REESTR_BENCH_SERVER, its administrator's connection string):
// opening tblMain against reading the rows and touching every cell, the age walk against the same
// per-row UPDATEs pipelined by hand (and the set-based UPDATE beside it), the walk through a relay
// that adds 2 ms to every round trip, `reestr-db copy` of a million people against the server's own
// COPY of the same rows, and the memory of holding the register read from the server against
// reading it from the file, and of copying the million back into a file against reading the file.
#include "BenchSupport.h"
#include "DelayingRelay.h"
#include "PlainLibpq.h"

#include "register/RegisterCopy.h"
#include "platform/Error.h"
#include "register/RegisterSchema.h"
#include "engines/postgres/PostgresEngine.h"
#include "engines/sqlite/SqliteEngine.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <libpq-fe.h>

#include <poll.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

constexpr int people = 100000;
constexpr int copiedPeople = 1000000;

QString adminConninfo()
{
    const QString admin = qEnvironmentVariable("REESTR_BENCH_SERVER");
    if (admin.isEmpty() || !admin.contains(QLatin1String("dbname=postgres")))
        stop(QStringLiteral("no server: run through `make bench`, which starts one (%1)")
                 .arg(admin));
    return admin;
}

QString conninfoOf(const QString &database)
{
    return QString(adminConninfo())
        .replace(QStringLiteral("dbname=postgres"), QStringLiteral("dbname=") + database);
}

// A fresh database on the bench server; with `people`, the bench register copied into it.
QString freshDatabase(const QString &name, int withPeople = 0)
{
    PgConnection admin(adminConninfo());
    admin.exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    admin.exec(QStringLiteral("CREATE DATABASE %1").arg(name));
    const QString conninfo = conninfoOf(name);
    if (withPeople > 0) {
        RegisterCopy::copy({benchDatabase(withPeople), QString()}, {QString(), conninfo});
        PgConnection(conninfo).exec(QStringLiteral("VACUUM ANALYZE Main"));
    }
    return conninfo;
}

const QString &registerConninfo()
{
    static const QString conninfo = freshDatabase(QStringLiteral("reestr_bench"), people);
    return conninfo;
}

// The server's socket file, from the administrator's connection string (host=DIR port=N).
QString serverSocket()
{
    QString dir;
    QString port;
    for (const QString &word : adminConninfo().split(QLatin1Char(' '))) {
        if (word.startsWith(QLatin1String("host=")))
            dir = word.mid(5);
        if (word.startsWith(QLatin1String("port=")))
            port = word.mid(5);
    }
    return QStringLiteral("%1/.s.PGSQL.%2").arg(dir, port);
}

// --- the benchmarks ----------------------------------------------------------------------------

void openTable(benchmark::State &state)
{
    Connection connection(QString(), registerConninfo());
    openTableRepeatedly(state, connection);
}

void touchFloor(benchmark::State &state)
{
    Libpq db(registerConninfo());
    for (auto _ : state)
        benchmark::DoNotOptimize(touchServer(db.conn));
}

void walk(benchmark::State &state)
{
    Connection connection(QString(), registerConninfo());
    walkRepeatedly(state, connection);
}

void relayedWalk(benchmark::State &state)
{
    DelayingRelay relay(serverSocket(), std::chrono::milliseconds(2));
    Connection connection(QString(), relay.through(registerConninfo()));
    walkRepeatedly(state, connection);
}

void pipelinedFloor(benchmark::State &state)
{
    Libpq db(registerConninfo());
    auto rows = keysAndYears(db.conn);
    int year = 2030;
    for (auto _ : state)
        pipelinedUpdates(db.conn, rows, year++);
}

void setBased(benchmark::State &state)
{
    Libpq db(registerConninfo());
    int year = 2030;
    for (auto _ : state) {
        db.exec("BEGIN");
        db.exec("SELECT reestr_whole_table_changed('main')");
        const QByteArray sql =
            QStringLiteral("UPDATE Main SET Возраст = %1 - coalesce(Год, 0), Юбилей = CASE WHEN "
                           "(%1 - coalesce(Год, 0)) % 5 = 0 THEN 'да' ELSE 'нет' END")
                .arg(year++)
                .toUtf8();
        db.exec(sql.constData());
        db.exec("COMMIT");
    }
}

// What the walk wrote, as another computer reads it.
QString agesOnServer(const QString &conninfo)
{
    const PgResult result = PgConnection(conninfo).exec(
        QStringLiteral("SELECT count(*) || ' ' || sum(Код::bigint * Возраст) || ' ' || "
                       "count(*) FILTER (WHERE Юбилей = 'да') FROM Main"));
    return result.text(0, 0);
}

// Once, before timing: the record set holds the rows the floor reads, and the walk writes what the
// pipelined floor and the set-based update write.
void checkSameRows()
{
    const QString conninfo = registerConninfo();
    Connection connection(QString(), conninfo);
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    tblMain.setActive(true);
    Libpq db(conninfo);
    if (tblMain.RecordTotal() != touchServer(db.conn).rows || tblMain.RecordTotal() != people)
        stop(QStringLiteral("tblMain does not hold the rows the floor reads"));

    ageWalk(tblMain, 2031);
    const QString walked = agesOnServer(conninfo);
    auto rows = keysAndYears(db.conn);
    pipelinedUpdates(db.conn, rows, 2031);
    const QString floored = agesOnServer(conninfo);
    if (walked != floored)
        stop(QStringLiteral("the walk wrote %1, the floor %2").arg(walked, floored));
    std::printf("same rows: the walk and the pipelined floor (%s)\n", qPrintable(walked));
}

// --- the copy ----------------------------------------------------------------------------------

const char mainColumns[] = "Код, ФИО, Дата_рождения, Год, Месяц, Число, Возраст, Юбилей";

// Seconds `reestr-db copy` takes to move the million-person file into an empty database.
double programCopy()
{
    const QString conninfo = freshDatabase(QStringLiteral("reestr_bench_copy"));
    QElapsedTimer timer;
    timer.start();
    RegisterCopy::copy({benchDatabase(copiedPeople), QString()}, {QString(), conninfo});
    return double(timer.nsecsElapsed()) / 1e9;
}

// Seconds the server's own COPY takes to load the same rows, made beforehand in its text format,
// into the same table in one transaction.
double serverCopy(const QByteArray &rows)
{
    const QString conninfo = freshDatabase(QStringLiteral("reestr_bench_floor"));
    Libpq db(conninfo);
    QElapsedTimer timer;
    timer.start();
    db.exec("BEGIN");
    db.exec("CREATE TABLE Main (Код integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
            "ФИО varchar(60), Дата_рождения varchar(20), Год integer, Месяц integer, "
            "Число integer, Возраст integer, Юбилей varchar(10))");
    PQclear(PQexec(db.conn, QByteArray("COPY Main (") + mainColumns + ") FROM STDIN"));
    for (qsizetype at = 0; at < rows.size(); at += 32 * 1024)
        PQputCopyData(db.conn, rows.constData() + at,
                      int(std::min<qsizetype>(32 * 1024, rows.size() - at)));
    PQputCopyEnd(db.conn, nullptr);
    for (PGresult *result; (result = PQgetResult(db.conn)) != nullptr;)
        PQclear(result);
    db.exec("COMMIT");
    return double(timer.nsecsElapsed()) / 1e9;
}

QByteArray copiedRows()
{
    const QString conninfo = freshDatabase(QStringLiteral("reestr_bench_copy"));
    RegisterCopy::copy({benchDatabase(copiedPeople), QString()}, {QString(), conninfo});
    Libpq db(conninfo);
    QByteArray rows;
    PQclear(PQexec(db.conn, QByteArray("COPY Main (") + mainColumns + ") TO STDOUT"));
    char *line = nullptr;
    while (PQgetCopyData(db.conn, &line, 0) > 0) {
        rows.append(line);
        PQfreemem(line);
    }
    for (PGresult *result; (result = PQgetResult(db.conn)) != nullptr;)
        PQclear(result);
    return rows;
}

// --- memory ------------------------------------------------------------------------------------

// A process of its own that opens tblMain from the file or the server and prints its peak.
int holdRegister(const QString &file, const QString &server)
{
    Connection connection(file, server);
    connection.open();
    RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
    tblMain.setTableName(QStringLiteral("Main"));
    tblMain.setActive(true);
    std::printf("%d %lld\n", tblMain.RecordTotal(), static_cast<long long>(peakKiB()));
    return 0;
}

// A process of its own that copies a register on the server into a new file, or (the baseline)
// only reads the rows of a file's register, and prints its peak.
int copyOrRead(const QString &conninfo, const QString &file)
{
    if (!conninfo.isEmpty()) {
        QFile::remove(file);
        RegisterCopy::copy({QString(), conninfo}, {file, QString()});
    } else {
        SqliteEngine engine(file);
        for (const RegisterSchema::Table &table : RegisterSchema::tables())
            engine.table(table.qName())->readAll([](const RowCells &, const RowId &) {});
    }
    std::printf("%lld\n", static_cast<long long>(peakKiB()));
    return 0;
}

// The least peak of three runs of this program with `arguments`; `rows`: the register's people,
// when the child prints how many it held.
double childPeakMiB(const QStringList &arguments, int rows = -1)
{
    const std::optional<double> peak = leastChildPeakMiB(arguments, [rows](const auto &words) {
        if (rows >= 0 && words.value(0).toInt() != rows)
            stop(QStringLiteral("the held register had %1 rows")
                     .arg(QString::fromUtf8(words.value(0))));
    });
    if (!peak)
        stop(QStringLiteral("the child run %1 failed").arg(arguments.first()));
    return *peak;
}

// The round trips of opening the register as start-up does (the connection, then the four tables)
// for an office of 3,000 people, counted by a relay with a branch office's 100 ms round trip.
int startupRoundTrips()
{
    static const QString office = freshDatabase(QStringLiteral("reestr_bench_office"), 3000);
    DelayingRelay relay(serverSocket(), std::chrono::milliseconds(100));
    QElapsedTimer timer;
    timer.start();
    {
        Connection connection(QString(), relay.through(office));
        connection.open();
        std::vector<std::unique_ptr<RecordSet>> tables;
        for (const RegisterSchema::Table &schema : RegisterSchema::tables()) {
            const QString table = schema.qName();
            tables.push_back(std::make_unique<RecordSet>(QStringLiteral("tbl") + table, connection,
                                                         RecordSet::Kind::Table));
            tables.back()->setTableName(table);
            tables.back()->setActive(true);
        }
    }
    std::printf("start-up over a 100 ms link: %.2f s\n", double(timer.elapsed()) / 1000);
    return relay.roundTrips();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--copy") == 0)
        return copyOrRead(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    if (argc == 4 && qstrcmp(argv[1], "--hold") == 0)
        return holdRegister(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    try {
        checkSameRows();
        timed("serverOpen", openTable, 5)->Arg(people);
        timed("serverTouch", touchFloor, 5)->Arg(people);
        timed("serverWalk", walk, 1, 5)->Arg(people);
        timed("serverRelayedWalk", relayedWalk, 1, 5)->Arg(people);
        timed("serverPipelinedFloor", pipelinedFloor, 1, 5)->Arg(people);
        timed("serverSetUpdate", setBased, 1, 5)->Arg(people);
        const RatioReporter times = runBenchmarks(argc, argv);
        const auto t = [&](const char *name) {
            return times.seconds(std::string(name) + "/" + std::to_string(people));
        };

        const QByteArray rows = copiedRows();
        double program = 1e9;
        double floor = 1e9;
        for (int run = 0; run < 3; ++run) {
            program = std::min(program, programCopy());
            floor = std::min(floor, serverCopy(rows));
        }
        std::printf("copy of %d people: %.2f s, the server's COPY %.2f s\n", copiedPeople, program,
                    floor);

        // The million people copied back from the server into a file, against reading the file.
        const QString back = QDir::temp().filePath(QStringLiteral("reestr-bench-copy-back.mdb"));
        const double copiedBack = childPeakMiB(
            {QStringLiteral("--copy"), conninfoOf(QStringLiteral("reestr_bench_copy")), back});
        QFile::remove(back);
        const double readOnly =
            childPeakMiB({QStringLiteral("--copy"), QString(), benchDatabase(copiedPeople)});
        std::printf("peak copying %d people from the server to a file: %.1f MiB; reading the "
                    "file: %.1f MiB\n",
                    copiedPeople, copiedBack, readOnly);

        const double fromFile =
            childPeakMiB({QStringLiteral("--hold"), benchDatabase(people), QString()}, people);
        const double fromServer =
            childPeakMiB({QStringLiteral("--hold"), QString(), registerConninfo()}, people);
        std::printf("peak holding %d people: %.1f MiB from the server, %.1f MiB from the file\n",
                    people, fromServer, fromFile);

        reportTimes("server_open_100k_vs_libpq_touch", t("serverOpen"), t("serverTouch"), 1.5);
        char setBasedNote[64];
        std::snprintf(setBasedNote, sizeof setBasedNote, "%.1fx the set-based UPDATE",
                      t("serverWalk") / t("serverSetUpdate"));
        reportRatio("server_walk_100k_vs_pipelined_libpq",
                    t("serverWalk") / t("serverPipelinedFloor"), 1.3, setBasedNote);
        reportTimes("server_walk_2ms_relay_vs_direct", t("serverRelayedWalk"), t("serverWalk"),
                    1.3);
        reportTimes("server_copy_1m_vs_server_copy", program, floor, 2);
        reportRatio("server_peak_100k_vs_file", fromServer / fromFile, 1.1);
        // libpq and the target file's page cache are the whole difference: a copy that held the
        // register would need several times the reading's peak.
        char copyNote[64];
        std::snprintf(copyNote, sizeof copyNote, "%.1f MiB against %.1f MiB", copiedBack, readOnly);
        reportRatio("server_to_file_copy_peak_1m_vs_file_read", copiedBack / readOnly, 1.3,
                    copyNote);
        reportRatio("server_startup_round_trips", startupRoundTrips(), 10);
    } catch (const Error &e) {
        stop(e.message());
    }
    return 0;
}

#include "PlainLibpq.h"

#include <poll.h>

#include <cstdio>
#include <cstdlib>

void stop(const QString &why)
{
    std::fprintf(stderr, "bench_server: %s\n", qPrintable(why));
    std::exit(1);
}

Libpq::Libpq(const QString &conninfo) : conn(PQconnectdb(conninfo.toUtf8().constData()))
{
    if (PQstatus(conn) != CONNECTION_OK)
        stop(QString::fromUtf8(PQerrorMessage(conn)));
}

void Libpq::exec(const char *sql)
{
    PGresult *result = PQexec(conn, sql);
    const ExecStatusType status = PQresultStatus(result);
    PQclear(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        stop(QString::fromUtf8(PQerrorMessage(conn)));
}

Touched touchServer(PGconn *conn)
{
    PGresult *result = PQexec(conn, tableSelect);
    Touched touched;
    touched.rows = PQntuples(result);
    const int columns = PQnfields(result);
    for (int row = 0; row < touched.rows; ++row) {
        for (int column = 1; column < columns; ++column) {
            touched.checksum = touched.checksum * 31 + quint64(PQgetlength(result, row, column)) +
                               quint64(PQgetisnull(result, row, column)) +
                               quint64(PQgetvalue(result, row, column)[0]);
        }
    }
    PQclear(result);
    return touched;
}

std::vector<Person> keysAndYears(PGconn *conn)
{
    PGresult *result =
        PQexec(conn, "SELECT Код, coalesce(Год, 0), xmin::text FROM Main ORDER BY Код");
    std::vector<Person> rows;
    for (int row = 0; row < PQntuples(result); ++row)
        rows.push_back({PQgetvalue(result, row, 0),
                        QByteArray(PQgetvalue(result, row, 1)).toLongLong(),
                        PQgetvalue(result, row, 2)});
    PQclear(result);
    return rows;
}

void pipelinedUpdates(PGconn *conn, std::vector<Person> &rows, int year)
{
    PQclear(PQexec(conn, "BEGIN"));
    // Other computers are told of one change of the whole table, as the program tells them.
    PQclear(PQexec(conn, "SELECT reestr_whole_table_changed('main')"));
    PGresult *transaction = PQexec(conn, "SELECT pg_current_xact_id()::xid::text");
    const QByteArray written = PQgetvalue(transaction, 0, 0);
    PQclear(transaction);
    PQenterPipelineMode(conn);
    PQsetnonblocking(conn, 1);
    PQsendPrepare(conn, "floor",
                  "UPDATE Main SET Возраст = $1, Юбилей = $2 WHERE Код = $3 AND xmin = $4::xid", 4,
                  nullptr);
    int answers = 1; // statements and sync points not yet answered
    const auto readReady = [&] {
        PQconsumeInput(conn);
        while (answers > 0 && !PQisBusy(conn)) {
            PGresult *result = PQgetResult(conn);
            if (!result)
                continue; // the end of one statement's answer
            const ExecStatusType status = PQresultStatus(result);
            if ((status != PGRES_COMMAND_OK && status != PGRES_PIPELINE_SYNC) ||
                (status == PGRES_COMMAND_OK && qstrcmp(PQcmdTuples(result), "1") != 0 &&
                 qstrcmp(PQcmdTuples(result), "") != 0))
                stop(QStringLiteral("the floor's update failed: %1")
                         .arg(QString::fromUtf8(PQresultErrorMessage(result))));
            --answers;
            PQclear(result);
        }
    };
    int sent = 0;
    for (Person &person : rows) {
        const qint64 age = year - person.born;
        const QByteArray ageText = QByteArray::number(age);
        const char *values[] = {ageText.constData(), age % 5 == 0 ? "да" : "нет",
                                person.key.constData(), person.version.constData()};
        PQsendQueryPrepared(conn, "floor", 4, values, nullptr, nullptr, 0);
        person.version = written;
        ++answers;
        if (++sent % 256 == 0) {
            PQpipelineSync(conn);
            ++answers;
        }
        while (PQflush(conn) == 1) {
            pollfd socket{PQsocket(conn), POLLIN | POLLOUT, 0};
            poll(&socket, 1, -1);
            readReady();
        }
        readReady();
    }
    PQpipelineSync(conn);
    ++answers;
    PQsetnonblocking(conn, 0);
    while (answers > 0) {
        pollfd socket{PQsocket(conn), POLLIN, 0};
        poll(&socket, 1, -1);
        readReady();
    }
    PQexitPipelineMode(conn);
    PQclear(PQexec(conn, "COMMIT"));
}

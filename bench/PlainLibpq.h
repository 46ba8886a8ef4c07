#pragma once

// Plain libpq, the floor the server's benchmarks measure the program against.
#include "BenchSupport.h"

#include <QByteArray>
#include <QString>

#include <libpq-fe.h>

#include <vector>

// Ends the benchmark program, saying why.
[[noreturn]] void stop(const QString &why);

struct Libpq
{
    explicit Libpq(const QString &conninfo);
    ~Libpq() { PQfinish(conn); }
    void exec(const char *sql);
    PGconn *conn;
};

// Every row with its version, as the program reads it to tell another computer's change.
inline constexpr char tableSelect[] = "SELECT Код, *, xmin::text FROM Main ORDER BY Код";

// A person as the floor reads them before a timing starts: key, year of birth and the row's
// version, which every update checks as the program's does.
struct Person
{
    QByteArray key;
    qint64 born = 0;
    QByteArray version;
};

// The rows of the select, every cell read, nothing held: the floor of opening tblMain.
Touched touchServer(PGconn *conn);
std::vector<Person> keysAndYears(PGconn *conn);
// One prepared UPDATE per person, sent pipelined without waiting, in one transaction, the
// answers read as they come: the least a walk that posts every person, each only if the row is
// still the version read, can do on a server. The rows then carry the transaction's version.
void pipelinedUpdates(PGconn *conn, std::vector<Person> &rows, int year);

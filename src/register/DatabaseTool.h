#pragma once

#include <QString>
#include <QStringList>

class SqliteConnection;

// Creating a register, in a file or on a server: the four tables with their reference rows, and
// optionally a set of demonstration people. The command line of reestr-db is apart from it.
namespace DatabaseTool {

struct DemoPerson
{
    QString fullName;
    int day;
    int month;
    int year; // 0: the year of birth is left empty
};

// The demonstration people, in the order they are stored.
const QList<DemoPerson> &demoPeople();

// The date of birth text as the new record window composes it: day, month and year joined by ".".
QString composeBirthDate(int day, int month, int year);

// Creates FILE with the schema and reference rows (and the demo people when asked). Refuses an
// existing file without touching it. Throws Error.
void createDatabase(const QString &path, bool withDemo, int lastYear);

// Brings a file made by an earlier version up to date: adds what it needs to tell other programs
// of its changes (the change log and its triggers) and the year of the ages. Gives what was done,
// for the person.
QString upgradeFileRegister(const QString &path);

// Adds the tables and reference rows to an open, empty database.
void createSchema(SqliteConnection &db, int lastYear);
void addDemoPeople(SqliteConnection &db);

} // namespace DatabaseTool

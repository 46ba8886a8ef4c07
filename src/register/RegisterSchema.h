#pragma once

#include "engines/Engine.h"

#include <QString>
#include <QStringList>

#include <span>

// The register's tables, described once: both engines' CREATE TABLE texts, the copy's column lists
// and the importer's required tables are made from this.
namespace RegisterSchema {

enum class Kind {
    Key, // the people's number, given by the engine to a new person
    Integer,
    Text, // at most `size` characters; the record sets cut longer texts to it
};

struct Column
{
    const char *name;
    Kind kind;
    int size = 0;

    QString qName() const { return QString::fromUtf8(name); }
};

struct Table
{
    const char *name;
    std::span<const Column> columns;

    QString qName() const { return QString::fromUtf8(name); }
    // "A, B, C": the columns' names, in their order, for a statement.
    QString columnList() const;
};

// Main and the three reference tables, in the order the program opens them.
std::span<const Table> tables();

// The columns that must still hold what was read for a change of `column` to be stored over another
// computer's work: the column itself and those the register ties to it. The four parts of a date of
// birth describe one date and go together; the age and the jubilee are computed from the year.
// Names are compared without case, as the engines take them.
QStringList tiedTo(const QString &column);

// Beside the people and the reference books, a register keeps two small tables of its own:
// - Raschet: one row (Код 1) with the year the stored ages were calculated for;
// - Izmeneniya: the change log, a row for every row another program may have to read again
//   (Таблица, and Код; no Код: any row of the table), with who made the change and when. Rows
//   are numbered in the order written; the log keeps about the last thousand.
inline constexpr char agesTable[] = "Raschet";
inline constexpr const char *changeLogTable = ::changeLogTable;
// The tables whose changes the log records: the register's and Raschet.
QStringList loggedTables();

// The tables for a new file (SQLite).
QString fileSql();
// What a file needs to tell other programs of its changes, added to a register with or without
// it (every statement leaves alone what is there): Raschet, the log and the triggers that keep it.
// A row with Номер 0 in the log marks a transaction that tells a whole table's change once
// (changeWholeTable); while it is there, no row is logged one by one.
QString fileLiveSql();
// The tables for a register on a server (PostgreSQL). A text's size is the program's, counted as a
// reader counts characters (a letter with a combining accent is one): the server's varchar(n)
// counts code points and would refuse names the program accepts, so the columns are unbounded
// and the size is in each column's comment, where the server engine reads it back.
QString serverSql();
// The same for a register on a server, whose triggers also NOTIFY the channel `reestr` with
// "table key" (the table alone: any of its rows). Every statement leaves alone what is there.
// A transaction that named a table in `reestr.whole` logs that table's rows as one change (the
// function reestr_whole_table_changed).
QString serverLiveSql();

} // namespace RegisterSchema

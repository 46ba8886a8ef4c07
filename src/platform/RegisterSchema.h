#pragma once

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

// The tables for a new file (SQLite).
QString fileSql();
// The tables for a register on a server (PostgreSQL). A text's size is the program's, counted as a
// reader counts characters (a letter with a combining accent is one): the server's varchar(n)
// counts code points and would refuse names the program accepts, so the columns are unbounded
// and the size is in each column's comment, where the server engine reads it back.
QString serverSql();

} // namespace RegisterSchema

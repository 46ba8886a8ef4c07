#pragma once

#include <QList>
#include <QString>

#include <functional>

// Moving the register of the old program: every table of an Access (Jet 3 or Jet 4) file into a
// new database the program opens as its own.
namespace JetImport {

struct Options
{
    QString source;
    QString target;
    // The code page of an Access 97 file's texts (an iconv name); empty: Windows-1251 when the
    // texts are mostly Cyrillic in it, else the one the file's header names.
    QString codepage;
    // A column of a type that cannot be read (Access 2007 attachments and multi-value fields)
    // is left out and named through `notice`, instead of stopping the import.
    bool skipUnsupported = false;
    // The old file is the target itself (the old program's Base.mdb in its folder): it is kept
    // under this name, which must be free, and the new database takes its place.
    QString keepOldAs;
    // libmdb's own warnings reach the terminal only when asked for.
    bool verbose = false;
    // Told what the import did on the side: leftovers of killed imports removed, a file system
    // without hard links.
    std::function<void(const QString &)> notice;
    // Asked between rows: true stops the import, which then cleans up after itself. The caller
    // decides what stops it (the terminal's Ctrl+C, a window's button); the import itself leaves
    // the process's signals alone.
    std::function<bool()> stopRequested;
};

struct TableSummary
{
    QString name;
    qint64 rows = 0;
};

// Called now and then while a table is copied.
using Progress = std::function<void(const QString &table, qint64 done, qint64 total)>;

// Copies every user table with all its rows, NULL kept apart from an empty text, into a new file
// at `target`. The old file is read by a child process with limits on its CPU time and memory,
// so that a crash or a runaway of the reader on a damaged file becomes a message. The target is
// written under a temporary name and appears only when every table is copied and counted; it is
// never overwritten, and a failure or an interruption leaves nothing behind.
// Throws Error with a message that names the file, table or column at fault.
QList<TableSummary> importDatabase(const Options &options, const Progress &progress = {});

// A free name beside `path` for keeping an old Access file: "Base.mdb" gives "Base.access.mdb",
// then "Base.access-2.mdb" and so on.
QString keptName(const QString &path);

} // namespace JetImport

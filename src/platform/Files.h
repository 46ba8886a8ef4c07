#pragma once

#include <QString>
#include <QStringList>

// Files as the program writes them: a finished file takes its name only where the name is free,
// never replacing another; a database goes with the files SQLite keeps beside it; a file being
// written carries a mark that tells a live writer from one that was killed.
namespace Files {

// A file's path as messages show it: absolute, with the system's separators.
QString shownPath(const QString &path);

// Removes a database file with the log, shared-memory and journal files SQLite keeps beside it.
void removeDatabase(const QString &path);

// Moves a file to a name that must be free; never replaces anything. One atomic rename where the
// file system can refuse an existing name (renameat2 RENAME_NOREPLACE); else a hard link, which
// fails on an existing name just the same; where there are no hard links either (FAT, exFAT, a
// share without Unix extensions), a rename after looking that the name is free, as the only way
// left. False with errno set.
bool renameNoReplace(const QString &from, const QString &to);

// Whether two names are one file: the same file, or hard links to it.
bool sameFile(const QString &a, const QString &b);

// The reason of a failed system call as a message gives it (errno).
QString systemReason(int error);

// Writes a file's data through to the disk. Throws Error with the reason.
void syncToDisk(const QString &path);

// A name beside `target` for the file a run of `kind` ("import", "copy") writes before it takes the
// target's name: hidden, of this pattern only, so leftovers can be found again.
QString scratchName(const QString &target, const QString &kind);

// Marks a file as being written, by a lock on one byte far beyond anything SQLite locks (an
// open-file-description lock, so SQLite's own locks are untouched). The kernel drops it when the
// writer ends, however it ends. Closed only after the file's database connection: closing any
// descriptor of a file drops the process's classic locks on it, SQLite's among them.
class WriterMark
{
public:
    explicit WriterMark(const QString &path);
    ~WriterMark();
    WriterMark(const WriterMark &) = delete;
    WriterMark &operator=(const WriterMark &) = delete;

private:
    int m_fd;
};

// Removes the scratch files earlier runs of `kind` into the same target left when they were
// killed: only names of exactly the scratch pattern, and only those whose writer is gone. Gives
// the names removed.
QStringList removeLeftovers(const QString &target, const QString &kind);

} // namespace Files

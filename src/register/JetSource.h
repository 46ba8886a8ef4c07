#pragma once

#include "JetImport.h"

#include <QString>

#include <sys/types.h>

// The old file before and while it is read: checked first, then read by a child process.
namespace JetImport {

// What can be checked before libmdb sees the file: a readable regular file with an Access header
// and a whole number of pages. Gives its size. Throws Error naming the file and what it is.
qint64 checkSource(const QString &path);

// The reading child (libmdb is not safe against damaged files: it runs under CPU-time and memory
// limits, its frames checked by the importer): killed and collected when the importer is done.
class Reader
{
public:
    Reader(const Options &options, qint64 fileSize);
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    int fd() const { return m_fd; }
    // Waits for the child to end by itself; gives its wait status.
    int wait();
    void stop();

private:
    pid_t m_pid = -1;
    int m_fd = -1;
};

} // namespace JetImport

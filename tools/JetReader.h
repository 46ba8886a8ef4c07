#pragma once

#include <QString>

// The reading side of the import: runs in a child process, reads an Access file with libmdb and
// sends its tables and rows to `fd` as ImportStream frames. Returns the child's exit status:
// 0 when everything was sent, 1 after a Failure frame.
namespace JetReader {

int sendDatabase(const QString &source, const QString &codepage, int fd);

} // namespace JetReader

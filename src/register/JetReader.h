#pragma once

#include <QString>

// The reading side of the import: runs in a child process, reads an Access file with libmdb and
// sends its tables and rows to `fd` as ImportStream frames. A column of a type it cannot read stops
// it with a message, or with `skipUnsupported` is left out and named in a Skipped frame. Returns
// the child's exit status: 0 when everything was sent, 1 after a Failure frame.
namespace JetReader {

int sendDatabase(const QString &source, const QString &codepage, bool skipUnsupported, int fd);

} // namespace JetReader

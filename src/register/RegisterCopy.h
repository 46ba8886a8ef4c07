#pragma once

#include "engines/Engine.h"
#include "register/RegisterCopier.h"

#include <QList>
#include <QStringList>
#include <QString>

#include <functional>

// Moving a register between a Base.mdb file and a server, either way: every table, column and row,
// keys kept, reference tables included.
namespace RegisterCopy {

// One side of a copy: a file, or a server's libpq connection string.
struct Side
{
    QString file;
    QString server;
    bool onServer() const { return !server.isEmpty(); }
};

using RegisterCopier::Progress;
using RegisterCopier::TableCount;

// Copies the register `from` into `to`. The source is read as one consistent snapshot. The target
// must not hold a register yet (no such file; no register tables in the database); a file is
// written under a temporary name beside it and takes its name when whole, a server's tables are
// made and filled in one transaction. The row counts of both sides are compared at the end. A
// failure, or `stop` answering true between rows, leaves the target as it was. Throws Error.
QList<TableCount> copy(const Side &from, const Side &to, const Progress &progress = {},
                       const PasswordPrompt &prompt = {},
                       const RegisterCopier::StopRequested &stop = {});

// What a copy from this side leaves out, since a register holds only its own tables and
// columns: "таблица X" for another table, "столбец Main.Y" for another column. Only a file is
// looked at (a register on a server is made with the register's tables alone).
QStringList leftOut(const Side &from);

} // namespace RegisterCopy

#pragma once

#include "engines/Engine.h"
#include "register/RegisterSchema.h"
#include "engines/Values.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// Copying a register, whichever engines hold its two sides: every table of the register, its
// columns and rows, keys kept. The source is read through the engine interface, in pieces where
// the engine reads so (a server), so a register of any size is never held whole in memory.
namespace RegisterCopier {

// Where a register is copied to: its tables are made when it is opened, filled table by table,
// counted, and made whole at the end. Destroyed unfinished, it leaves nothing.
class Target
{
public:
    virtual ~Target() = default;
    virtual QString where() const = 0;
    // One row, its values in the schema's column order.
    virtual void append(const RegisterSchema::Table &table, const std::vector<Value> &row) = 0;
    // The rows the table holds; called once its rows are all appended.
    virtual qint64 count(const RegisterSchema::Table &table) = 0;
    // Committed and, for a file, given its name.
    virtual void finish() = 0;
};

struct TableCount
{
    QString table;
    qint64 rows = 0;
};

// Told now and then while a table is copied.
using Progress = std::function<void(const QString &table, qint64 done, qint64 total)>;
// Asked between rows: true ends the copy ("Копирование прервано"), leaving the target untouched.
using StopRequested = std::function<bool()>;

// Copies the register `source` holds into `target`. The source is read as one snapshot; the rows
// read and written are counted and compared table by table. Throws Error.
QList<TableCount> copy(Engine &source, Target &target, const Progress &progress = {},
                       const StopRequested &stop = {});

// A new file register at `path`, which must not exist: written under a scratch name beside it,
// it takes the name only when whole.
std::unique_ptr<Target> newFile(const QString &path);

} // namespace RegisterCopier

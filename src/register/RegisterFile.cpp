#include "RegisterFile.h"

#include "RegisterSchema.h"

#include "engines/sqlite/SqliteConnection.h"

namespace RegisterFile {

void createTables(SqliteConnection &db)
{
    db.exec(RegisterSchema::fileSql());
}

bool addLiveRegister(SqliteConnection &db)
{
    const auto objects = [&db] {
        SqliteStatement count = db.prepare(QStringLiteral("SELECT count(*) FROM sqlite_schema"));
        count.step();
        return count.columnInt64(0);
    };
    const qint64 before = objects();
    db.exec(RegisterSchema::fileLiveSql());
    return objects() != before;
}

} // namespace RegisterFile

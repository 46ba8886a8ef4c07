#include "TempDatabase.h"

#include "DatabaseTool.h"
#include "platform/Sqlite.h"

#include <gtest/gtest.h>

TempFolder::TempFolder()
{
    if (!m_dir.isValid())
        throw Error(QStringLiteral("cannot create a temporary folder"));
}

TempDatabase::TempDatabase(bool withDemo)
{
    DatabaseTool::createDatabase(path(), withDemo, 2026);
}

std::unique_ptr<SqliteConnection> TempDatabase::connect() const
{
    return std::make_unique<SqliteConnection>(path(), SqliteConnection::Mode::OpenExisting);
}

void TempDatabase::exec(const QString &sql) const
{
    connect()->exec(sql);
}

QString TempDatabase::scalar(const QString &sql) const
{
    auto db = connect();
    SqliteStatement statement = db->prepare(sql);
    return statement.step() ? statement.columnText(0) : QStringLiteral("<no row>");
}

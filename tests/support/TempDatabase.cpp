#include "TempDatabase.h"

#include "register/DatabaseTool.h"
#include "engines/sqlite/SqliteConnection.h"

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

void TempDatabase::addPeople(std::initializer_list<std::pair<const char *, int>> people,
                             const char *birthDate) const
{
    auto other = connect();
    SqliteStatement insert = other->prepare(QStringLiteral(
        "INSERT INTO Main (ФИО, Год, Месяц, Число, Дата_рождения) VALUES (?, ?, 1, 1, ?)"));
    for (const auto &[name, year] : people) {
        insert.bind(1, QString::fromUtf8(name));
        insert.bind(2, year ? SqlValue(qint64(year)) : SqlValue());
        insert.bind(3, birthDate ? SqlValue(QString::fromUtf8(birthDate)) : SqlValue());
        insert.run();
    }
}

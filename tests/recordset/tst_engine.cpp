// Opening Base.mdb: what is refused and how it is told; sharing and durability of posts.
#include "TempDatabase.h"
#include "recordset/Connection.h"
#include "recordset/RecordSet.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

QString openFailure(const QString &path)
{
    try {
        Connection connection(path);
        connection.open();
    } catch (const Error &e) {
        return e.message();
    }
    return QStringLiteral("<opened>");
}

} // namespace

TEST(Engine, AMissingFileIsNamedAndNeverCreated)
{
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("Base.mdb"));
    const QString message = openFailure(path);
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("не найден"))) << message.toStdString();
    EXPECT_FALSE(QFile::exists(path));
}

TEST(Engine, AFileThatIsNotADatabaseFailsAtOpen)
{
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("Base.mdb"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    const QString message = openFailure(path);
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("not a database"))) << message.toStdString();
}

TEST(Engine, AnOldAccessFileIsRecognisedAndTheImportCommandNamed)
{
    const QString message = openFailure(QStringLiteral(REESTR_FIXTURES "/jet4-Base.mdb"));
    EXPECT_TRUE(message.contains(QStringLiteral("старого формата"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("reestr-db import"))) << message.toStdString();
}

TEST(Engine, AFileLockedByAnotherProgramFailsWithItsName)
{
    TempDatabase db;
    auto holder = db.connect();
    holder->exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE"));
    holder->exec(QStringLiteral("BEGIN EXCLUSIVE"));
    const QString message = openFailure(db.path());
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(db.path()))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("locked"))) << message.toStdString();
    holder->exec(QStringLiteral("ROLLBACK"));
}

TEST(Engine, APostThatReturnedSurvivesACrashOfTheProgram)
{
    TempDatabase db;
    db.exec(QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Иванов')"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Connection connection(db.path());
        RecordSet tblMain(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
        tblMain.setTableName(QStringLiteral("Main"));
        tblMain.setActive(true);
        tblMain.StartEdit();
        tblMain.FieldNamed(QStringLiteral("Возраст")).setAsInt(45);
        tblMain.PostRecord();
        tblMain.StartEdit();
        tblMain.FieldNamed(QStringLiteral("Юбилей")).setAsText(QStringLiteral("не записано"));
        _exit(0); // no destructors, no close: as if the program died here
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT Возраст || '/' || ifnull(Юбилей, '') FROM Main")),
              QStringLiteral("45/"));
}

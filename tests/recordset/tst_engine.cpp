// Opening Base.mdb: what is refused and how it is told; sharing and durability of posts.
#include "Fixtures.h"
#include "Filesystems.h"
#include "platform/FileSystems.h"
#include "TempDatabase.h"
#include "platform/Error.h"
#include "engines/sqlite/SqliteConnection.h"
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

TEST(Engine, AnEmptyFileOrOneThatIsNotADatabaseIsRefusedAndLeftAsItWas)
{
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("Base.mdb"));
    for (const QByteArray &content : {QByteArray(), QByteArray(4096, 'x'), QByteArray("SQLite")}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        file.close();
        const QString message = openFailure(path);
        EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path))) << message.toStdString();
        EXPECT_TRUE(message.contains(QStringLiteral("не является базой данных")) ||
                    message.contains(QStringLiteral("пуст")))
            << message.toStdString();
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), content) << "byte for byte as it was";
        file.close();
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files),
                  QStringList{QStringLiteral("Base.mdb")})
            << "nothing made beside it";
    }
}

TEST(Engine, AnOldAccessFileIsRecognisedAndTheImportCommandGivenExactly)
{
    const QString old = oldRegisterFile();
    const QString message = openFailure(old);
    EXPECT_TRUE(message.contains(QStringLiteral("старого формата"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("reestr-db import jet4-Base.mdb")))
        << message.toStdString();
}

TEST(Engine, AFileThatCannotBeWrittenIsShownReadOnlyAndNothingIsLeftBeside)
{
    TempDatabase db(true);
    db.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    QFile::remove(db.path() + QStringLiteral("-wal"));
    QFile::remove(db.path() + QStringLiteral("-shm"));
    const QStringList before = QDir(db.TempFolder::path()).entryList(QDir::Files);
    {
        ReadOnlyView view(db.TempFolder::path());
        if (!view.ok())
            GTEST_SKIP() << "no read-only view here: " << view.why().toStdString();
        Connection connection(view.path() + QStringLiteral("/Base.mdb"));
        connection.open();
        EXPECT_TRUE(connection.engine().isReadOnly());
        RecordSet people(QStringLiteral("tblMain"), connection, RecordSet::Kind::Table);
        people.setTableName(QStringLiteral("Main"));
        people.setActive(true);
        EXPECT_EQ(people.RecordTotal(), 40) << "the data is shown";
        EXPECT_FALSE(people.CanModify());
        try {
            people.StartEdit();
            ADD_FAILURE() << "editing started";
        } catch (const Error &e) {
            EXPECT_EQ(e.message(), QStringLiteral("tblMain: Cannot modify a read-only dataset"));
        }
        people.setActive(false);
        connection.close();
    }
    EXPECT_EQ(QDir(db.TempFolder::path()).entryList(QDir::Files), before)
        << "no -wal or -shm left behind";
}

TEST(Engine, AFullDiskIsCalledAFullDisk)
{
    TempFolder folder;
    SmallDisk disk(folder.file(QStringLiteral("disk")), 512);
    if (!disk.ok())
        GTEST_SKIP() << "no small file system here: " << disk.why().toStdString();
    const QString path = folder.file(QStringLiteral("disk/Base.mdb"));
    {
        TempDatabase source;
        source.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        ASSERT_TRUE(QFile::copy(source.path(), path));
    }
    disk.fill();
    const QString message = openFailure(path);
    EXPECT_TRUE(message.contains(QStringLiteral("нет свободного места"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(path))) << message.toStdString();
}

TEST(Engine, AFileLockedByAnotherProgramFailsWithItsName)
{
    TempDatabase db;
    auto holder = db.connect();
    holder->exec(QStringLiteral("PRAGMA locking_mode = EXCLUSIVE"));
    holder->exec(QStringLiteral("BEGIN EXCLUSIVE"));
    const QString message = openFailure(db.path());
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(db.path()))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("занят"))) << message.toStdString();
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

// The transaction the database tool and the import write in: all or nothing, as another
// connection sees it; an uncommitted one is rolled back when it ends, also through a failure.
TEST(Engine, ATransactionNotCommittedLeavesTheFileAsItWas)
{
    TempDatabase db;
    const QString count = QStringLiteral("SELECT count(*) FROM Main");
    auto writer = db.connect();
    {
        Transaction transaction(*writer);
        writer->exec(QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Иванов')"));
        EXPECT_EQ(db.scalar(count), QStringLiteral("0")); // not seen before the commit
        transaction.commit();
    }
    EXPECT_EQ(db.scalar(count), QStringLiteral("1"));
    try {
        Transaction transaction(*writer);
        writer->exec(QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Петров')"));
        writer->exec(QStringLiteral("INSERT INTO NoSuchTable VALUES (1)"));
        transaction.commit();
        ADD_FAILURE() << "the second statement must fail";
    } catch (const Error &) {
    }
    // Rolled back, and nothing left open on the connection: its next statement stands alone and
    // is seen at once.
    writer->exec(QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Сидоров')"));
    EXPECT_EQ(db.scalar(count), QStringLiteral("2"));
    EXPECT_EQ(db.scalar(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = 'Петров'")),
              QStringLiteral("0"));
}

TEST(Engine, NetworkFileSystemsAreToldByTheKernelsKindOrTheFuseMountsProgram)
{
    const QString mounts = QStringLiteral(
        "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
        "40 22 0:35 / /home/office/Общая\\040папка rw,nosuid - fuse.sshfs server:/srv rw\n"
        "41 22 0:36 / /media/usb rw - fuse.exfat /dev/sdb1 rw\n"
        "42 40 0:37 / /home/office/Общая\\040папка/local rw - fuse.exfat /dev/sdc1 rw\n"
        "43 22 0:38 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
        "44 22 0:39 / /mnt/share rw - fuse share rw\n");
    constexpr quint64 fuse = 0x65735546;
    const struct
    {
        quint64 magic;
        const char *path;
        const char *kind;
    } cases[] = {
        {0x6969, "/mnt/nfs/Base.mdb", "nfs"},
        {0xFF534D42, "/mnt/office", "cifs"},
        {0xEF53, "/home/office", ""},
        {fuse, "/home/office/Общая папка", "fuse.sshfs"},
        {fuse, "/home/office/Общая папка/Реестр", "fuse.sshfs"},
        {fuse, "/home/office/Общая папка/local/Реестр", ""},
        {fuse, "/home/office/Общая папкаX", ""},
        {fuse, "/media/usb/Реестр", ""},
        {fuse, "/run/user/1000/gvfs/smb-share:server=srv,share=office", "fuse.gvfsd-fuse"},
        {fuse, "/mnt/share/Реестр", "fuse"},
        {0x01021997, "/mnt/host", "9p"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(networkFileSystem(c.magic, QString::fromUtf8(c.path), mounts),
                  QString::fromUtf8(c.kind))
            << c.path;
    }
    // A Base.mdb that is a link is judged by where its target lies.
    TempFolder here;
    TempFolder there;
    QFile(there.file(QStringLiteral("Base.mdb"))).open(QIODevice::WriteOnly);
    QFile::link(there.file(QStringLiteral("Base.mdb")), here.file(QStringLiteral("Base.mdb")));
    EXPECT_EQ(dataFolder(here.file(QStringLiteral("Base.mdb"))),
              QFileInfo(there.path()).canonicalFilePath());
}

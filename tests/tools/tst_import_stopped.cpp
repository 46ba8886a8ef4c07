// reestr-db import stopped on its way: Ctrl+C, a full disk, a kill at its renames. Whatever
// happens, the target is whole or absent, and the old file is kept.
#include "Filesystems.h"
#include "ImportHelpers.h"
#include "TempDatabase.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QProcess>
#include <QStandardPaths>
#include <QThread>

#include <csignal>

#include <gtest/gtest.h>

namespace {

const QString &fixture = oldRegisterFile();

} // namespace

TEST(ReestrDbImport, AnInterruptionAtAnyMomentLeavesNothingButAWholeTarget)
{
    for (int delayMs : {0, 2, 5, 10, 20, 40, 80}) {
        TempFolder folder;
        QProcess process;
        process.setWorkingDirectory(folder.path());
        process.start(QStringLiteral(REESTR_DB_PATH), {QStringLiteral("import"), fixture});
        ASSERT_TRUE(process.waitForStarted());
        QThread::msleep(ulong(delayMs));
        ::kill(pid_t(process.processId()), SIGINT);
        ASSERT_TRUE(process.waitForFinished(60000));
        const QStringList left = filesIn(folder.path());
        SCOPED_TRACE(delayMs);
        EXPECT_TRUE(left.isEmpty() || left == QStringList{QStringLiteral("Base.mdb")})
            << left.join(QLatin1Char(' ')).toStdString();
        if (!left.isEmpty()) {
            SqliteConnection db(folder.file(QStringLiteral("Base.mdb")),
                                SqliteConnection::Mode::OpenExisting);
            SqliteStatement count = db.prepare(QStringLiteral("SELECT count(*) FROM Main"));
            ASSERT_TRUE(count.step());
            EXPECT_EQ(count.columnInt64(0), 20) << "a target that appears is whole";
        }
    }
}

TEST(ReestrDbImport, AFullDiskLeavesNoFileBehindForImportOrInit)
{
    TempFolder folder;
    SmallDisk disk(folder.file(QStringLiteral("disk")), 256);
    if (!disk.ok())
        GTEST_SKIP() << "no small file system here: " << disk.why().toStdString();
    const QString onDisk = folder.file(QStringLiteral("disk"));
    disk.fill();
    const ProgramRun imported = reestrDb({QStringLiteral("import"), fixture}, onDisk);
    EXPECT_EQ(imported.status, 1);
    EXPECT_TRUE(imported.err.contains(QStringLiteral("нет свободного места")) ||
                imported.err.contains(QStringLiteral("No space left")))
        << imported.err.toStdString();
    EXPECT_EQ(filesIn(onDisk), QStringList{QStringLiteral("filler")});

    const ProgramRun created = reestrDb({QStringLiteral("init")}, onDisk);
    EXPECT_EQ(created.status, 1);
    EXPECT_EQ(filesIn(onDisk), QStringList{QStringLiteral("filler")})
        << "no empty Base.mdb to block the next init";
}

// With little room left, at every amount of it, to a new file and in place: the import publishes
// a whole register, or fails with the full-disk message leaving the target absent or the old file
// as it was. (The data fitting but not their write-back from the log once published a broken file.)
TEST(ReestrDbImport, OnANearlyFullDiskTheImportPublishesAWholeRegisterOrNothing)
{
    TempFolder folder;
    const QString onDisk = folder.file(QStringLiteral("disk"));
    const QString target = onDisk + QStringLiteral("/Base.mdb");
    const QByteArray old = fixtureBytes();
    for (const bool inPlace : {false, true}) {
        for (int room = 8; room <= 240; room += 8) {
            SCOPED_TRACE(
                QStringLiteral("%1 KiB free, in place: %2").arg(room).arg(inPlace).toStdString());
            SmallDisk disk(onDisk, 1024);
            if (!disk.ok())
                GTEST_SKIP() << "no small file system here: " << disk.why().toStdString();
            if (inPlace)
                writeFile(target, old);
            disk.fill(room);
            const ProgramRun run = reestrDb(
                {QStringLiteral("import"), inPlace ? QStringLiteral("Base.mdb") : fixture}, onDisk);
            if (run.status == 0) {
                // The published file alone, away from the full disk and from any log beside it.
                const QString published = folder.file(QStringLiteral("published.mdb"));
                QFile::remove(published);
                ASSERT_TRUE(QFile::copy(target, published));
                try {
                    SqliteConnection db(published, SqliteConnection::Mode::OpenExisting);
                    SqliteStatement check = db.prepare(QStringLiteral(
                        "SELECT (SELECT count(*) FROM Main) || ' ' || integrity_check FROM "
                        "pragma_integrity_check"));
                    ASSERT_TRUE(check.step());
                    EXPECT_EQ(check.columnText(0), QStringLiteral("20 ok"));
                } catch (const Error &e) {
                    ADD_FAILURE() << "published broken: " << e.what();
                }
                continue;
            }
            EXPECT_TRUE(run.err.contains(QStringLiteral("нет свободного места")))
                << run.err.toStdString();
            QStringList left = {QStringLiteral("filler")};
            if (inPlace)
                left.prepend(QStringLiteral("Base.mdb"));
            EXPECT_EQ(filesIn(onDisk), left);
            QFile kept(target);
            EXPECT_EQ(kept.open(QIODevice::ReadOnly) ? kept.readAll() : QByteArray(),
                      inPlace ? old : QByteArray());
        }
    }
}

// The old Base.mdb converted where it lies, the importer killed just before each rename it makes
// (strace makes the rename fail and kills the process on it): Base.mdb is there at every moment,
// the old file or the whole new one. The next import removes what the killed one left and says so.
TEST(ReestrDbImport, KilledAtItsRenamesTheInPlaceConversionAlwaysLeavesABaseMdb)
{
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        GTEST_SKIP() << "strace is not installed";
    const QByteArray old = fixtureBytes();
    for (int rename = 1; rename <= 2; ++rename) {
        SCOPED_TRACE(rename);
        TempFolder folder;
        writeFile(folder.file(QStringLiteral("Base.mdb")), old);
        const ProgramRun killed = runProgram(
            strace,
            {QStringLiteral("-o"), QStringLiteral("/dev/null"),
             // The leak checker cannot run under a tracer.
             QStringLiteral("-E"), QStringLiteral("ASAN_OPTIONS=detect_leaks=0"),
             QStringLiteral("-e"),
             QStringLiteral("inject=rename,renameat,renameat2:error=EIO:signal=SIGKILL:when=%1")
                 .arg(rename),
             QStringLiteral(REESTR_DB_PATH), QStringLiteral("import"), QStringLiteral("Base.mdb")},
            folder.path());
        if (killed.err.contains(QLatin1String("PTRACE")) || killed.status == 1)
            GTEST_SKIP() << "strace cannot trace here: " << killed.err.toStdString();
        QFile base(folder.file(QStringLiteral("Base.mdb")));
        ASSERT_TRUE(base.open(QIODevice::ReadOnly))
            << "no Base.mdb: " << filesIn(folder.path()).join(QLatin1Char(' ')).toStdString();
        const bool stillOld = base.readAll() == old;
        base.close();
        if (!stillOld) {
            SqliteConnection db(base.fileName(), SqliteConnection::Mode::OpenExisting);
            SqliteStatement count = db.prepare(QStringLiteral("SELECT count(*) FROM Main"));
            ASSERT_TRUE(count.step());
            EXPECT_EQ(count.columnInt64(0), 20) << "a new Base.mdb is whole";
            continue;
        }
        // Killed before the new file took the name: converting again finishes the work.
        const bool leftovers =
            filesIn(folder.path()).filter(QStringLiteral(".Base.mdb.import-")).size() > 0;
        const ProgramRun again =
            reestrDb({QStringLiteral("import"), QStringLiteral("Base.mdb")}, folder.path());
        ASSERT_EQ(again.status, 0) << again.err.toStdString();
        EXPECT_EQ(again.err.contains(QStringLiteral("Удалены остатки прерванного импорта")),
                  leftovers)
            << again.err.toStdString();
        // The old file is kept once, not also under the second name the killed run gave it.
        EXPECT_EQ(filesIn(folder.path()),
                  QStringList({QStringLiteral("Base.access.mdb"), QStringLiteral("Base.mdb")}));
    }
}

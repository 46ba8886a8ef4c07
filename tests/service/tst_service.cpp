// "АРХИВАЦИЯ", "РУКОВОДСТВО ПОЛЬЗОВАТЕЛЯ" and "О РАЗРАБОТЧИКЕ".
#include "ProgramFixture.h"

#include "platform/Desktop.h"
#include "service/About.h"
#include "service/Archive.h"
#include "service/Manual.h"

#include <QAction>
#include <QDate>
#include <QProcess>
#include <QStandardPaths>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

namespace {

// A stand-in for the archiver: it writes down its arguments, copies the file it was given to
// pack, and leaves a mark when it is done.
const char standIn[] = R"sh(#!/bin/sh
here=$(dirname "$0")
for a in "$@"; do printf '%s\n' "$a"; done > "$here/run.$$.args"
cp "${10}" "$here/run.$$.mdb"
touch "$here/run.$$.done"
)sh";

// How many people of that name a database file holds, read from the file alone.
qint64 peopleNamed(const QString &file, const char *name)
{
    SqliteConnection copy(file, SqliteConnection::Mode::OpenExisting);
    SqliteStatement count = copy.prepare(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = ?"));
    count.bind(1, QString::fromUtf8(name));
    return count.step() ? count.columnInt64(0) : -1;
}

} // namespace

class ArchiveTest : public ProgramTest
{
protected:
    explicit ArchiveTest(bool onServer = false)
        : ProgramTest(true, QStringLiteral("касса \"2\" 'x'"), onServer)
    {
        QFile script(m_bin.file(QStringLiteral("rar")));
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(standIn);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(m_bin.path()) + ':' + m_path);
        startProgram();
    }
    ~ArchiveTest() override { qputenv("PATH", m_path); }

    // The runs of the stand-in that have finished, waiting a little for `count` of them.
    QStringList finishedRuns(int count)
    {
        QDeadlineTimer deadline(15000);
        QStringList done;
        while (!deadline.hasExpired()) {
            done = QDir(m_bin.path()).entryList({QStringLiteral("run.*.done")});
            if (done.size() >= count)
                break;
            QThread::msleep(20);
        }
        for (QString &run : done)
            run.chop(5);
        return done;
    }
    QStringList argumentsOf(const QString &run)
    {
        QFile file(m_bin.file(run + QStringLiteral(".args")));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        lines.removeLast();
        return lines;
    }

    TempFolder m_bin;
    QByteArray m_path;
};

TEST_F(ArchiveTest, TheArchiverGetsItsArgumentsIntactAndAFileWithEveryPostedRow)
{
    // A row posted just before the command: the archiver must find it in Base.mdb itself.
    DM->tblMain.StartInsert();
    DM->tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Последний"));
    DM->tblMain.PostRecord();

    frmMain->N7->trigger();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    const QStringList runs = finishedRuns(1);
    ASSERT_EQ(runs.size(), 1);
    const QString here = QDir::currentPath();
    EXPECT_EQ(argumentsOf(runs[0]),
              (QStringList{QStringLiteral("a"), QStringLiteral("-o+"), QStringLiteral("-r"),
                           QStringLiteral("-s-"), QStringLiteral("-y"),
                           QStringLiteral("-ag[DD.MM.YYYY]"), QStringLiteral("-dh"),
                           QStringLiteral("-ep1"), here + QStringLiteral("/Archiv/Архив.rar"),
                           here + QStringLiteral("/Base.mdb")}));

    // The copy alone, without the engine's log beside it, holds the row.
    EXPECT_EQ(peopleNamed(m_bin.file(runs[0] + QStringLiteral(".mdb")), "Последний"), 1);
}

TEST_F(ArchiveTest, TwoPressesStartTwoArchiversAndAMissingOneIsReported)
{
    frmMain->N7->trigger();
    frmMain->N7->trigger();
    EXPECT_EQ(finishedRuns(2).size(), 2);
    EXPECT_TRUE(dialogs.errors.isEmpty());

    TempFolder empty;
    qputenv("PATH", QFile::encodeName(empty.path()));
    frmMain->N7->trigger();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("«rar»")))
        << dialogs.errors[0].toStdString();
}

class ManualTest : public ProgramTest
{
protected:
    ManualTest()
    {
        Desktop::setDocumentOpener([this](const QString &path) { opened << path; });
        startProgram();
    }
    ~ManualTest() override { Desktop::setDocumentOpener(nullptr); }
    QStringList opened;
};

TEST_F(ManualTest, TheManualIsLookedForBesideTheProgramNotInTheCurrentFolder)
{
    frmMain->N4->trigger();
    frmMain->N4->trigger();
    const QString expected =
        QCoreApplication::applicationDirPath() + QStringLiteral("/РУКОВОДСТВО ТЕРВАНОК.pdf");
    EXPECT_EQ(opened, (QStringList{expected, expected}));
    EXPECT_FALSE(opened[0].startsWith(QDir::currentPath()));
}

// Through the real opener, here a stand-in for xdg-open on the search path that fails as it does
// on a computer without a PDF viewer: a box says where the manual is and what is missing.
TEST_F(ProgramTest, AManualNothingCanOpenIsNamedInABox)
{
    TempFolder bin;
    const QString log = bin.file(QStringLiteral("opened"));
    QFile opener(bin.file(QStringLiteral("xdg-open")));
    ASSERT_TRUE(opener.open(QIODevice::WriteOnly));
    opener.write(QStringLiteral("#!/bin/sh\necho \"$1\" > '%1'\necho 'xdg-open: no method "
                                "available for opening' >&2\nexit 3\n")
                     .arg(log)
                     .toUtf8());
    opener.close();
    opener.setPermissions(opener.permissions() | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
    startProgram();
    frmMain->N4->trigger();
    // Until the opener has run and ended, and what it left behind has been dealt with.
    QDeadlineTimer deadline(10000);
    while (!QFile::exists(log) && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    qputenv("PATH", path);
    ASSERT_TRUE(QFile::exists(log)) << "the opener never ran";
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("РУКОВОДСТВО ТЕРВАНОК.pdf")))
        << dialogs.errors[0].toStdString();
}

TEST_F(ManualTest, TheAboutBoxShowsFourCentredBlocks)
{
    frmMain->N5->trigger();
    EXPECT_TRUE(dialogs.notices.isEmpty()) << "an information box, not a plain notice";
    ASSERT_EQ(dialogs.information.size(), 1);
    const QString text = dialogs.information[0];
    const QStringList blocks = text.split(QStringLiteral("\r\r\r"));
    ASSERT_EQ(blocks.size(), 4);
    EXPECT_FALSE(text.contains(QLatin1Char('\n')));
    EXPECT_FALSE(text.startsWith(QLatin1Char('\r')) || text.endsWith(QLatin1Char('\r')));
    const int leading[] = {31, 0, 28, 38};
    for (int i = 0; i < 4; ++i) {
        const QString &block = blocks[i];
        const qsizetype blanks = block.size() - QStringView(block).trimmed().size();
        EXPECT_EQ(blanks, leading[i]) << "block " << i + 1;
        EXPECT_FALSE(block.contains(QLatin1Char('\r')));
    }
    EXPECT_EQ(blocks[0].trimmed(), QStringLiteral("РАЗРАБОТЧИК:"));
    EXPECT_EQ(blocks[1], blocks[1].toUpper());
    EXPECT_EQ(blocks[2], blocks[2].toUpper());
    EXPECT_TRUE(
        blocks[3].trimmed().contains(QRegularExpression(QStringLiteral("^[А-Яа-я]+, \\d{4}$"))));
}

namespace {

// Lets the event loop deliver an outside program's outcome, for at most 20 seconds.
template <typename Done> bool waitUntil(Done done)
{
    QDeadlineTimer deadline(20000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return done();
}

void writeScript(const QString &path, const QByteArray &text)
{
    QFile script(path);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write(text);
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

TEST_F(ArchiveTest, AnArchiverThatFailsHasItsOwnMessageShownAfterTheHandlerReturned)
{
    writeScript(
        m_bin.file(QStringLiteral("rar")),
        "#!/bin/sh\necho 'Cannot create Archiv/Архив.rar'\necho 'No such file or directory'\n"
        "exit 2\n");
    frmMain->N7->trigger();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << "the handler does not wait";
    ASSERT_TRUE(waitUntil([&] { return !dialogs.errors.isEmpty(); }));
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("Cannot create Archiv/Архив.rar")))
        << dialogs.errors[0].toStdString();
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("No such file or directory")));
}

TEST_F(ArchiveTest, WhileAnotherCopyWritesTheUserIsToldAtOnceInRussian)
{
    auto other = connect();
    other->exec(QStringLiteral("BEGIN IMMEDIATE"));
    other->exec(QStringLiteral("INSERT INTO Main (ФИО) VALUES ('Пишется')"));
    frmMain->N7->trigger();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("Другая копия программы")))
        << dialogs.errors[0].toStdString();
    other->exec(QStringLiteral("COMMIT"));

    // Once the other copy is done, archiving works and the archive holds its row too.
    frmMain->N7->trigger();
    const QStringList runs = finishedRuns(1);
    ASSERT_EQ(runs.size(), 1);
    EXPECT_EQ(peopleNamed(m_bin.file(runs[0] + QStringLiteral(".mdb")), "Пишется"), 1);
}

TEST_F(ArchiveTest, WithoutRarSevenZipWritesTheDatedArchiveIntoArchiv)
{
    if (QStandardPaths::findExecutable(QStringLiteral("7zz")).isEmpty())
        GTEST_SKIP() << "7zz is not installed";
    TempFolder only7z;
    ASSERT_TRUE(QFile::link(QStandardPaths::findExecutable(QStringLiteral("7zz")),
                            only7z.file(QStringLiteral("7zz"))));
    qputenv("PATH", QFile::encodeName(only7z.path()));
    frmMain->N7->trigger();
    ASSERT_EQ(dialogs.errors.size(), 1) << "the folder rule: no Archiv, no archive";
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("Archiv")));
    EXPECT_FALSE(QDir::current().exists(QStringLiteral("Archiv")));

    QDir::current().mkdir(QStringLiteral("Archiv"));
    DM->tblMain.StartInsert();
    DM->tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("В архиве"));
    DM->tblMain.PostRecord();
    frmMain->N7->trigger();
    const QString archive = QDir::current().filePath(
        QStringLiteral("Archiv/Архив%1.7z")
            .arg(QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))));
    // 7-Zip writes the archive under a temporary name and renames it when it is complete.
    ASSERT_TRUE(waitUntil([&] { return QFile::exists(archive); })) << archive.toStdString();
    QThread::msleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialogs.errors.size(), 1) << "success shows nothing";

    TempFolder unpacked;
    QProcess extract;
    extract.start(QStandardPaths::findExecutable(QStringLiteral("7zz"), {only7z.path()}),
                  {QStringLiteral("x"), QStringLiteral("-y"),
                   QStringLiteral("-o") + unpacked.path(), archive});
    ASSERT_TRUE(extract.waitForFinished(30000));
    EXPECT_EQ(QDir(unpacked.path()).entryList(QDir::Files),
              QStringList{QStringLiteral("Base.mdb")});
    EXPECT_EQ(peopleNamed(unpacked.file(QStringLiteral("Base.mdb")), "В архиве"), 1);
}

// A register on a server is archived as a Base.mdb written from it at that moment, which the
// program opens like any register; the written file goes once the archiver is done.
class ServerArchiveTest : public ArchiveTest
{
protected:
    ServerArchiveTest() : ArchiveTest(true) {}
    void SetUp() override { REQUIRE_SERVER(*server()); }
};

TEST_F(ServerArchiveTest, TheArchiveOfAServerRegisterHoldsABaseMdbOfIt)
{
    DM->tblMain.StartInsert();
    DM->tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("С сервера"));
    DM->tblMain.PostRecord();

    frmMain->N7->trigger();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    const QStringList runs = finishedRuns(1);
    ASSERT_EQ(runs.size(), 1);
    const QStringList arguments = argumentsOf(runs[0]);
    ASSERT_EQ(arguments.size(), 10);
    EXPECT_EQ(arguments[8], QDir::currentPath() + QStringLiteral("/Archiv/Архив.rar"));
    EXPECT_TRUE(arguments[9].endsWith(QStringLiteral("/Base.mdb"))) << arguments[9].toStdString();
    EXPECT_NE(arguments[9], QDir::currentPath() + QStringLiteral("/Base.mdb"));

    const QString packed = m_bin.file(runs[0] + QStringLiteral(".mdb"));
    EXPECT_EQ(peopleNamed(packed, "С сервера"), 1);
    Connection reopened(packed);
    RecordSet years(QStringLiteral("tblGod"), reopened, RecordSet::Kind::Table);
    years.setTableName(QStringLiteral("God"));
    years.setActive(true);
    EXPECT_EQ(QString::number(years.RecordTotal()),
              server()->scalar(QStringLiteral("SELECT count(*) FROM God")));
    EXPECT_TRUE(waitUntil([&] {
        QCoreApplication::processEvents();
        return !QFile::exists(arguments[9]);
    })) << "the written file is removed once the archiver ended";
}

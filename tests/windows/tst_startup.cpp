// The real program started as a separate process, with a robot loaded into it that answers its
// message boxes and closes its main window.
#include "Filesystems.h"
#include "Processes.h"
#include "TempDatabase.h"
#include "TestServer.h"

#include "engines/sqlite/SqliteConnection.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

namespace {

struct Session
{
    int status = -1;
    QStringList boxes;   // "[caption] icon=.. buttons=.. text"
    QStringList windows; // "[caption] maximized=.."
    QStringList shown;   // "box" and "window", in the order they were shown
    QString stderrText;
};

Session startProgram(const QString &folder, const QString &extraPreload = QString(),
                     const QStringList &arguments = {}, const QString &configHome = QString(),
                     const QMap<QString, QString> &environment = {})
{
    QProcess process;
    process.setWorkingDirectory(folder);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!configHome.isEmpty())
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    for (auto it = environment.begin(); it != environment.end(); ++it)
        env.insert(it.key(), it.value());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QString preload = QStringLiteral(REESTR_BOX_ROBOT);
    if (!extraPreload.isEmpty())
        preload = extraPreload + QLatin1Char(':') + preload;
    env.insert(QStringLiteral("LD_PRELOAD"), preload);
    // The sanitizer runtime wants to be loaded first; the robot does not need it. Leaks are
    // looked for when the program ends, as in every other test.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("verify_asan_link_order=0"));
    env.insert(QStringLiteral("LSAN_OPTIONS"),
               QStringLiteral("suppressions=") + QStringLiteral(REESTR_LSAN_SUPPRESSIONS));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(REESTR_PROGRAM), arguments);
    Session session;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << "the program did not end";
    }
    session.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    session.stderrText = QString::fromUtf8(process.readAllStandardError());
    EXPECT_FALSE(session.stderrText.contains(QLatin1String("LeakSanitizer")))
        << session.stderrText.toStdString();
    for (const QString &line : session.stderrText.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("BOX "))) {
            session.boxes << line.mid(4);
            session.shown << QStringLiteral("box");
        } else if (line.startsWith(QLatin1String("FIRSTSTART "))) {
            session.shown << QStringLiteral("first start");
        } else if (line.startsWith(QLatin1String("WINDOW "))) {
            session.windows << line.mid(7);
            session.shown << QStringLiteral("window");
        }
    }
    return session;
}

} // namespace

TEST(Startup, WithADatabaseTheMainWindowShowsMaximisedAndClosingItEndsWithStatusZero)
{
    TempDatabase db(true);
    const Session session = startProgram(db.TempFolder::path());
    EXPECT_TRUE(session.boxes.isEmpty()) << session.boxes.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(session.windows.size(), 1);
    EXPECT_TRUE(session.windows[0].startsWith(
        QStringLiteral("[ЛАРВЕНСКИЙ КОЛЛЕДЖ] maximized=1 rows=%1 detail=%2|")
            .arg(db.scalar(QStringLiteral("select count(*) from Main")),
                 db.scalar(QStringLiteral("select ФИО from Main order by Код limit 1")))))
        << session.windows[0].toStdString();
    EXPECT_EQ(session.status, 0) << session.stderrText.toStdString();
}

// A register converted by an older tool or edited by hand may lack a column a control shows: that
// control's box says so, and the program goes on with the table open and its people shown.
TEST(Startup, ATableWithoutAColumnAControlShowsIsReportedByThatControlAndTheProgramGoesOn)
{
    const struct
    {
        const char *change;
        const char *box;
    } cases[] = {
        {"alter table Main drop column Юбилей", "dbedt7: Field 'Юбилей' not found."},
        {"alter table God rename column Год to Year", "dblkcbb1: Field 'Год' not found."},
        {"alter table Main drop column Год", "dbedt3: Field 'Год' not found."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.change);
        TempDatabase db(true);
        db.exec(QString::fromUtf8(c.change));
        const QString people = db.scalar(QStringLiteral("select count(*) from Main"));
        const Session session = startProgram(db.TempFolder::path());
        ASSERT_FALSE(session.boxes.isEmpty()) << session.stderrText.toStdString();
        EXPECT_EQ(session.boxes.first(),
                  QStringLiteral("[Реестр колледжа] icon=3 buttons=1 ") + QString::fromUtf8(c.box));
        // Every other box of the detail panel shows the first person.
        const QString first = db.scalar(QStringLiteral(
            "select ФИО || '|' || Дата_рождения || '|' || Число from Main order by Код limit 1"));
        ASSERT_EQ(session.windows.size(), 1);
        const QString &window = session.windows[0];
        EXPECT_TRUE(window.startsWith(QStringLiteral("[ЛАРВЕНСКИЙ КОЛЛЕДЖ] maximized=1 rows=") +
                                      people + QStringLiteral(" detail=")))
            << window.toStdString();
        const QStringList detail =
            window.section(QStringLiteral(" detail="), 1).split(QLatin1Char('|'));
        ASSERT_EQ(detail.size(), 7) << window.toStdString();
        EXPECT_EQ(QStringList({detail[0], detail[1], detail[4]}).join(QLatin1Char('|')), first);
        EXPECT_EQ(session.status, 0);
    }
}

TEST(Startup, WithoutADatabaseFiveErrorBoxesComeBeforeTheWindow)
{
    TempFolder folder;
    const Session session = startProgram(folder.path());
    ASSERT_EQ(session.boxes.size(), 5) << session.stderrText.toStdString();
    for (const QString &box : session.boxes) {
        EXPECT_TRUE(box.startsWith(QStringLiteral("[Реестр колледжа] icon=3 buttons=1 ")))
            << box.toStdString();
        EXPECT_TRUE(box.contains(QStringLiteral("Base.mdb"))) << box.toStdString();
    }
    const QString box = QStringLiteral("box");
    EXPECT_EQ(session.shown, (QStringList{box, box, box, box, box, QStringLiteral("window")}));
    EXPECT_EQ(session.status, 0);
}

TEST(Startup, AnEngineThatCannotBeUsedIsFatalWithTheApplicationErrorBoxAndStatusOne)
{
    TempDatabase db(true);
    const Session session =
        startProgram(db.TempFolder::path(), QStringLiteral(REESTR_BROKEN_SQLITE));
    ASSERT_EQ(session.boxes.size(), 1) << session.stderrText.toStdString();
    const QString &box = session.boxes[0];
    EXPECT_TRUE(
        box.startsWith(QStringLiteral("[Application Error] icon=3 buttons=1 Exception Error "
                                      "in module reestr at ")))
        << box.toStdString();
    EXPECT_TRUE(
        box.endsWith(QStringLiteral("\\nError creating object.  Please verify that the SQLite "
                                    "library 3.33 (or later) has been properly installed.")))
        << box.toStdString();
    EXPECT_TRUE(session.windows.isEmpty()) << "no window is shown";
    EXPECT_EQ(session.status, 1);
}

namespace {

// The file format version in a database header: 1 for the rollback journal, 2 for the
// write-ahead log.
int journalFormat(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = file.read(20);
    return head.size() == 20 ? head[18] : -1;
}

} // namespace

// A Base.mdb on a share (here a folder mounted over sshfs) never uses the write-ahead log, whose
// index only programs on one computer can share: reestr-db makes it with the rollback journal, the
// program says once where the file lies, and a file still in write-ahead-log mode is switched, or
// shown read only while another copy has it open.
TEST(Startup, OnANetworkShareTheRegisterNeverUsesTheWriteAheadLog)
{
    TempFolder folder;
    const QString remote = folder.file(QStringLiteral("remote"));
    QDir().mkpath(remote);
    const QString shared = folder.file(QStringLiteral("share"));
    SshfsMount share(remote, shared);
    if (!share.ok())
        GTEST_SKIP() << "no sshfs mount here: " << share.why().toStdString();
    const QString file = remote + QStringLiteral("/Base.mdb");
    const auto noLog = [&] {
        EXPECT_FALSE(QFile::exists(file + QStringLiteral("-wal")));
        EXPECT_FALSE(QFile::exists(file + QStringLiteral("-shm")));
    };
    const auto noticeSaysShare = [](const Session &session) {
        return session.boxes.filter(QStringLiteral("сетевой папке. Программа")).size() == 1;
    };

    const ProgramRun init = runProgram(QStringLiteral(REESTR_DB_PATH),
                                       {QStringLiteral("init"), QStringLiteral("--demo")}, shared);
    ASSERT_EQ(init.status, 0) << init.err.toStdString();
    EXPECT_TRUE(init.out.contains(QStringLiteral("сетевой папке (fuse.sshfs)")))
        << init.out.toStdString();
    EXPECT_EQ(journalFormat(file), 1);
    noLog();
    Session session = startProgram(shared);
    EXPECT_TRUE(noticeSaysShare(session)) << session.boxes.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(session.boxes.size(), 1) << session.boxes.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(session.windows.size(), 1);
    EXPECT_TRUE(session.windows[0].contains(QStringLiteral(" rows=40 ")));
    EXPECT_EQ(journalFormat(file), 1);
    noLog();

    // A register in write-ahead-log mode, brought onto the share.
    const auto bringLocalRegister = [&] {
        QFile::remove(file);
        TempDatabase local(true);
        local.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        ASSERT_TRUE(QFile::copy(local.path(), file));
        ASSERT_EQ(journalFormat(file), 2);
    };
    bringLocalRegister();
    session = startProgram(shared);
    EXPECT_EQ(session.boxes.size(), 1) << session.boxes.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(noticeSaysShare(session));
    EXPECT_EQ(journalFormat(file), 1) << "switched to the rollback journal";
    noLog();

    // The same while another program has it open through the share: shown read only.
    bringLocalRegister();
    QProcess other;
    other.setWorkingDirectory(shared);
    other.start(QStringLiteral("sqlite3"), {QStringLiteral("Base.mdb")});
    ASSERT_TRUE(other.waitForStarted());
    other.write("BEGIN; SELECT 'reading', count(*) FROM Main;\n");
    ASSERT_TRUE(other.waitForReadyRead(10000));
    session = startProgram(shared);
    other.write(".quit\n");
    other.closeWriteChannel();
    other.waitForFinished();
    EXPECT_EQ(session.boxes.filter(QStringLiteral("открыт другой копией программы")).size(), 1)
        << session.boxes.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(session.windows.size(), 1);
    EXPECT_TRUE(session.windows[0].contains(QStringLiteral(" rows=40 ")));
    EXPECT_EQ(journalFormat(file), 2) << "left as it was";

    // A Base.mdb in a local folder that is a link to the register on the share.
    bringLocalRegister();
    const QString local = folder.file(QStringLiteral("local"));
    QDir().mkpath(local);
    ASSERT_TRUE(
        QFile::link(shared + QStringLiteral("/Base.mdb"), local + QStringLiteral("/Base.mdb")));
    session = startProgram(local);
    EXPECT_TRUE(noticeSaysShare(session)) << session.boxes.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(journalFormat(file), 1);
    noLog();
}

// The register on a server: chosen by --server, or by the settings' "server"; a server that cannot
// be used starts as a missing file does, naming the server and never a password; a role that may
// only read is told so once; a password on the command line is refused.
TEST(Startup, ARegisterOnAServerStartsAsTheFileDoes)
{
    ServerDatabase db(true, true);
    REQUIRE_SERVER(db);
    TempFolder folder;
    const auto shows40 = [](const Session &session) {
        return session.windows.size() == 1 &&
               session.windows[0].contains(QStringLiteral(" rows=40 detail=Иванов Сергей"));
    };
    Session session =
        startProgram(folder.path(), QString(), {QStringLiteral("--server"), db.conninfo()});
    EXPECT_TRUE(session.boxes.isEmpty()) << session.boxes.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(shows40(session)) << session.stderrText.toStdString();
    EXPECT_EQ(session.status, 0);

    // The same register named in the user's settings, no option given.
    QDir().mkpath(folder.file(QStringLiteral("config/reestr")));
    QFile settings(folder.file(QStringLiteral("config/reestr/reestr.conf")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(QStringLiteral("[General]\nserver=\"%1\"\n").arg(db.conninfo()).toUtf8());
    settings.close();
    session = startProgram(folder.path(), QString(), {}, folder.file(QStringLiteral("config")));
    EXPECT_TRUE(session.boxes.isEmpty()) << session.boxes.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(shows40(session)) << session.stderrText.toStdString();

    // A file register for one start, the settings naming the server all the same.
    TempFolder snapshot;
    ASSERT_EQ(runProgram(QStringLiteral(REESTR_DB_PATH), {QStringLiteral("init")}, snapshot.path())
                  .status,
              0);
    for (const QStringList &file :
         {QStringList{QStringLiteral("--file"), snapshot.file(QStringLiteral("Base.mdb"))},
          QStringList{QStringLiteral("--server"), QString()}}) {
        session = startProgram(file[0] == QLatin1String("--file") ? folder.path() : snapshot.path(),
                               QString(), file, folder.file(QStringLiteral("config")));
        ASSERT_EQ(session.windows.size(), 1) << session.stderrText.toStdString();
        EXPECT_TRUE(session.windows[0].contains(QStringLiteral(" rows=0 ")))
            << session.windows[0].toStdString();
        EXPECT_TRUE(session.boxes.isEmpty()) << session.boxes.join(QLatin1Char('\n')).toStdString();
    }

    // A worker given the register's role that may only read.
    const QString reader = db.name() + QStringLiteral("_clerk");
    db.exec(QStringLiteral("CREATE ROLE %1 LOGIN IN ROLE %2_reader").arg(reader, db.name()));
    session = startProgram(
        folder.path(), QString(),
        {QStringLiteral("--server"), db.conninfo() + QStringLiteral(" user=") + reader});
    ASSERT_EQ(session.boxes.size(), 1) << session.boxes.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(session.boxes[0].contains(QStringLiteral("только для чтения")));
    EXPECT_TRUE(session.boxes[0].contains(QStringLiteral(" icon=1 "))) << "nothing is wrong";
    EXPECT_TRUE(shows40(session));
    db.exec(QStringLiteral("DROP ROLE %1").arg(reader));

    // No server there: one box naming the server, and a window that says it is not connected.
    session =
        startProgram(folder.path(), QString(),
                     {QStringLiteral("--server"),
                      QStringLiteral("host=127.0.0.1 port=1 dbname=reestr connect_timeout=5")});
    ASSERT_EQ(session.boxes.size(), 1) << session.stderrText.toStdString();
    EXPECT_TRUE(
        session.boxes[0].contains(QStringLiteral("сервер «127.0.0.1:1», база данных «reestr»")))
        << session.boxes[0].toStdString();
    ASSERT_EQ(session.windows.size(), 1);
    EXPECT_TRUE(session.windows[0].startsWith(QStringLiteral("[ЛАРВЕНСКИЙ КОЛЛЕДЖ — нет связи")))
        << session.windows[0].toStdString();
    EXPECT_EQ(session.status, 0);

    // A password is never taken from the command line.
    session = startProgram(
        folder.path(), QString(),
        {QStringLiteral("--server"), db.conninfo() + QStringLiteral(" password=secret")});
    ASSERT_EQ(session.boxes.size(), 1);
    EXPECT_TRUE(session.boxes[0].contains(QStringLiteral("Пароль не пишут")));
    EXPECT_FALSE(session.boxes[0].contains(QStringLiteral("secret")));
    EXPECT_TRUE(session.windows.isEmpty());
    EXPECT_EQ(session.status, 1);
}

// Started from the menu in a fresh home with no register: the first start's window comes first.
// Creating a register there makes ~/Реестр/Base.mdb with its reference tables and the program
// starts on it; quitting leaves nothing behind; with the register there the next start from the
// menu goes straight to it; a start from a terminal stays as it was.
TEST(Startup, FromTheMenuTheFirstStartAsksAndOnlyThePersonsChoiceMakesARegister)
{
    TempFolder home;
    TempFolder elsewhere;
    const QString folder = home.file(QStringLiteral("Реестр"));
    const auto fromMenu = [&](const char *choice) {
        return startProgram(elsewhere.path(), QString(), {QStringLiteral("--from-menu")},
                            home.file(QStringLiteral(".config")),
                            {{QStringLiteral("HOME"), home.path()},
                             {QStringLiteral("REESTR_ROBOT_CHOICE"), QString::fromLatin1(choice)}});
    };

    Session session = fromMenu("quitButton");
    EXPECT_EQ(session.status, 0);
    EXPECT_EQ(session.shown, QStringList({QStringLiteral("first start")}));
    EXPECT_EQ(QDir(home.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList())
        << "quitting leaves nothing behind";

    session = fromMenu("createButton");
    EXPECT_EQ(session.status, 0) << session.stderrText.toStdString();
    EXPECT_EQ(session.shown,
              QStringList({QStringLiteral("first start"), QStringLiteral("window")}));
    EXPECT_TRUE(session.boxes.isEmpty()) << session.boxes.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(session.windows.size(), 1);
    EXPECT_TRUE(session.windows[0].contains(QStringLiteral("rows=0")))
        << session.windows[0].toStdString();
    {
        SqliteConnection db(QDir(folder).filePath(QStringLiteral("Base.mdb")),
                            SqliteConnection::Mode::OpenExisting);
        SqliteStatement counts = db.prepare(QStringLiteral(
            "SELECT (SELECT count(*) FROM Main) || ' ' || (SELECT count(*) FROM Mesyats) || ' ' || "
            "(SELECT count(*) FROM Chislo) || ' ' || (SELECT min(Год) FROM God)"));
        ASSERT_TRUE(counts.step());
        EXPECT_EQ(counts.columnText(0), QStringLiteral("0 12 31 1930"));
    }

    session = fromMenu("quitButton");
    EXPECT_EQ(session.shown, QStringList({QStringLiteral("window")}))
        << "with its register the menu start asks nothing";

    // From a terminal in a folder without a register: the boxes as ever, each saying what to do.
    session = startProgram(elsewhere.path(), QString(), {}, home.file(QStringLiteral(".config")),
                           {{QStringLiteral("HOME"), home.path()}});
    EXPECT_FALSE(session.shown.contains(QStringLiteral("first start")));
    ASSERT_FALSE(session.boxes.isEmpty());
    EXPECT_TRUE(session.boxes[0].contains(QStringLiteral("не найден. Создайте реестр, выполнив в "
                                                         "этой папке команду reestr-db init")))
        << session.boxes[0].toStdString();
}

// The first start's window driven as a new office would: moving the old program's file in (and a
// file that is not one), and choosing the office's server; checked in the folder, in the user's
// settings and, for the server, by starting the program on the register chosen.
#include "Fixtures.h"
#include "JetFile.h"
#include "LookupDriver.h"
#include "Processes.h"
#include "RecordingDialogs.h"
#include "TempDatabase.h"
#include "TestServer.h"

#include "windows/Application.h"
#include "windows/FirstStart.h"
#include "controls/MessageDialogs.h"
#include "windows/Startup.h"
#include "windows/DataModule.h"
#include "engines/sqlite/SqliteConnection.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTranslator>

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <csignal>

namespace {

QByteArray hashOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// The user's settings in a folder of the test's own.
class Settings
{
public:
    Settings()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_folder.path());
    }
    ~Settings()
    {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QDir::home().filePath(QStringLiteral(".config")));
    }
    QString file() const { return m_folder.file(QStringLiteral("reestr/reestr.conf")); }

private:
    TempFolder m_folder;
};

} // namespace

TEST(FirstStart, TheOldProgramsFileIsMovedInWithProgressAndAFileThatIsNotOneCreatesNothing)
{
    const QString old = oldRegisterFile();
    TempFolder home;
    const QString folder = home.file(QStringLiteral("Реестр"));
    RecordingDialogs dialogs;

    // Not an Access file: the reason in words, the window still there, nothing made.
    const QString text = home.file(QStringLiteral("notes.mdb"));
    {
        QFile notes(text);
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
        notes.write(QByteArray(8192, 'x'));
    }
    FirstStartWindow window(folder);
    window.show();
    dialogs.chosenFile = text;
    QTest::mouseClick(window.importButton, Qt::LeftButton);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("не база данных Access")))
        << dialogs.errors[0].toStdString();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(QFileInfo::exists(folder)) << "nothing is made by a failed import";

    // Declining the file dialog does nothing at all.
    dialogs.chosenFile.clear();
    QTest::mouseClick(window.importButton, Qt::LeftButton);
    EXPECT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(window.result(), QDialog::Rejected);

    // The old program's file: imported into the folder, the old file untouched.
    const QByteArray before = hashOf(old);
    dialogs.chosenFile = old;
    QTest::mouseClick(window.importButton, Qt::LeftButton);
    EXPECT_EQ(dialogs.errors.size(), 1) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(window.server(), QString());
    EXPECT_EQ(hashOf(old), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("Base.mdb")}));
    SqliteConnection db(QDir(folder).filePath(QStringLiteral("Base.mdb")),
                        SqliteConnection::Mode::OpenExisting);
    SqliteStatement people = db.prepare(QStringLiteral("SELECT count(*) FROM Main"));
    ASSERT_TRUE(people.step());
    EXPECT_GT(people.columnInt64(0), 0);
}

// The import is stopped by the window's own button, never through the process's signals, which
// stay as they were while it runs: a logout still ends the program.
TEST(FirstStart, AnImportIsStoppedByTheWindowsButtonAndLeavesTheSignalsAlone)
{
    TempFolder home;
    const QString folder = home.file(QStringLiteral("Реестр"));
    JetFile::Table main{QStringLiteral("Main"), {{QStringLiteral("ID"), 0, true}}, {}};
    for (int key = 1; key <= 3000; ++key)
        main.rows.append(QVariantList{key});
    const QString old = home.file(QStringLiteral("old.mdb"));
    JetFile::write(old,
                   {main,
                    {QStringLiteral("God"), {{QStringLiteral("G")}}, {}},
                    {QStringLiteral("Mesyats"), {{QStringLiteral("M")}}, {}},
                    {QStringLiteral("Chislo"), {{QStringLiteral("C")}}, {}}},
                   {JetFile::Version::Jet3, "CP1252", 1252});
    RecordingDialogs dialogs;
    dialogs.chosenFile = old;
    FirstStartWindow window(folder);
    window.show();
    struct sigaction before = {};
    ::sigaction(SIGTERM, nullptr, &before);
    bool stopped = false;
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        if (!window.progress->isVisible() || stopped)
            return; // the import has not reported its progress yet
        struct sigaction during = {};
        ::sigaction(SIGTERM, nullptr, &during);
        EXPECT_EQ(during.sa_handler, before.sa_handler);
        QTest::mouseClick(window.quitButton, Qt::LeftButton);
        stopped = true;
    });
    stopper.start(0);
    QTest::mouseClick(window.importButton, Qt::LeftButton);
    ASSERT_TRUE(stopped);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QStringLiteral("прерван")))
        << dialogs.errors[0].toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder)) << "nothing is left of a stopped import";
    EXPECT_TRUE(window.isVisible());
    EXPECT_NE(window.result(), QDialog::Accepted);
}

TEST(FirstStart, TheOfficesServerAndRoleAreCheckedByConnectingThenKeptAndTheProgramStartsOnThem)
{
    ServerDatabase server(true, true);
    REQUIRE_SERVER(server);
    Settings settings;
    TempFolder home;
    RecordingDialogs dialogs;
    FirstStartWindow window(home.file(QStringLiteral("Реестр")));
    window.show();
    QTest::mouseClick(window.serverButton, Qt::LeftButton);

    // The tests' server listens on a socket in a folder: its "address" is that folder and port.
    const QString host =
        QRegularExpression(QStringLiteral("host=(\\S+)")).match(server.admin()).captured(1);
    const QString port =
        QRegularExpression(QStringLiteral("port=(\\S+)")).match(server.admin()).captured(1);
    // The role is the one typed on the page, not the login's.
    qputenv("PGUSER", "no_such_role");
    typeOver(window.serverAddress, host + QLatin1Char(':') + port);
    typeOver(window.serverDatabase, QStringLiteral("нет_такой_базы"));
    QTest::mouseClick(window.connectButton, Qt::LeftButton);
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].startsWith(QStringLiteral("Нет связи с сервером баз данных")) &&
                dialogs.errors[0].contains(QStringLiteral("нет роли «no_such_role»")))
        << dialogs.errors[0].toStdString();
    EXPECT_FALSE(QFile::exists(settings.file())) << "nothing kept before the check passes";
    // An empty role field shows the login name it stands for.
    EXPECT_TRUE(window.serverRole->placeholderText().startsWith(
        QString::fromLocal8Bit(getpwuid(getuid())->pw_name) + QLatin1Char(' ')));

    typeOver(window.serverRole, QStringLiteral("reestr"));
    typeOver(window.serverDatabase, server.name());
    QTest::keyClick(window.serverDatabase, Qt::Key_Return);
    EXPECT_EQ(dialogs.errors.size(), 1) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(FirstStart::savedServer(), window.server());
    EXPECT_TRUE(QFile::exists(settings.file()));
    EXPECT_FALSE(QFileInfo::exists(home.file(QStringLiteral("Реестр"))));

    // The program on the register chosen, as usual.
    Startup::setServer(FirstStart::savedServer());
    ASSERT_TRUE(Startup::createAll(
        [](const std::exception &e, Startup::Step) { ADD_FAILURE() << e.what(); }));
    EXPECT_EQ(DM->tblMain.RecordTotal(), 40);
    Startup::destroyAll();
    Startup::setServer(QString());
    qunsetenv("PGUSER");
}

// Qt's own texts follow a Russian desktop; the program's own, the boxes' buttons among them, are
// as they were.
TEST(FirstStart, QtsOwnTextsSpeakRussianOnARussianDesktop)
{
    QLineEdit box;
    const auto menuTexts = [&] {
        std::unique_ptr<QMenu> menu(box.createStandardContextMenu());
        QStringList texts;
        for (QAction *action : menu->actions()) {
            if (!action->isSeparator())
                texts << action->text();
        }
        return texts;
    };
    const QStringList english = menuTexts();
    ASSERT_TRUE(english.contains(QStringLiteral("&Copy\tCtrl+C")) ||
                english.contains(QStringLiteral("&Copy")))
        << english.join(QLatin1Char('|')).toStdString();
    {
        const std::unique_ptr<QTranslator> russian =
            Application::installQtTranslations(QLocale(QLocale::Russian, QLocale::Russia));
        if (!russian)
            GTEST_SKIP() << "Qt's Russian translations are not installed (qt6-translations-l10n)";
        const QStringList translated = menuTexts();
        EXPECT_TRUE(translated.join(QString()).contains(QStringLiteral("Копировать")))
            << translated.join(QLatin1Char('|')).toStdString();

        // A question box of the program's own, read while it is open and then answered.
        MessageDialogs boxes;
        QStringList buttons;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            for (QAbstractButton *button : box->buttons())
                buttons << button->text();
            box->buttons().first()->click();
        });
        boxes.confirm(QStringLiteral("Удалить запись?"));
        buttons.sort();
        EXPECT_EQ(buttons, QStringList({QStringLiteral("Cancel"), QStringLiteral("OK")}));
    }
    EXPECT_EQ(menuTexts(), english) << "the translation goes with its translator";
    EXPECT_EQ(Application::installQtTranslations(QLocale(QLocale::German)), nullptr);
}

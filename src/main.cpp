// Start-up and exit: the windows and the data module are made in a fixed order, the event loop
// runs until the main window closes, and they are destroyed in the reverse order.
#include "windows/Application.h"
#include "windows/FirstStart.h"
#include "windows/Startup.h"
#include "controls/MessageDialogs.h"
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "recordset/Connection.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTranslator>

#include <cstdio>
#include <optional>
#include <typeinfo>

namespace {

// The stop box of a failure that makes the program unusable, in the form the office knows.
void showFatal(const std::exception &e, Startup::Step step)
{
    const auto *error = dynamic_cast<const Error *>(&e);
    const QString kind = error ? QStringLiteral("Error") : QString::fromLatin1(typeid(e).name());
    const QString message = error ? error->message() : QString::fromLocal8Bit(e.what());
    const QString module = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    const QString address = QStringLiteral("%1")
                                .arg(reinterpret_cast<quintptr>(step), 8, 16, QLatin1Char('0'))
                                .toUpper();
    const QString text = QStringLiteral("Exception %1 in module %2 at %3.\n%4")
                             .arg(kind, module, address, errorBoxText(message));
    std::fprintf(stderr, "reestr: %s\n", qPrintable(text));
    Dialogs::current().showFatal(QStringLiteral("Application Error"), text);
}

// What the command line asks for.
struct CommandLine
{
    std::optional<QString> server; // given: `--server ""` and `--file` both mean a file register
    std::optional<QString> file;
    bool fromMenu = false;
};

CommandLine commandLine(const QApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(applicationTitle());
    parser.addHelpOption();
    const QCommandLineOption serverOption(
        QStringLiteral("server"),
        QStringLiteral("Реестр на сервере PostgreSQL: строка подключения libpq или URI."),
        QStringLiteral("CONNINFO"));
    const QCommandLineOption fileOption(
        QStringLiteral("file"),
        QStringLiteral("Реестр в файле (например, снимок или Base.mdb из архива) на этот запуск, "
                       "даже если в настройках указан сервер."),
        QStringLiteral("PATH"));
    const QCommandLineOption fromMenuOption(
        QStringLiteral("from-menu"),
        QStringLiteral("Запуск из меню: реестр в папке ~/Реестр; при первом запуске программа "
                       "предлагает создать реестр, перенести старую базу или подключиться к "
                       "серверу."));
    parser.addOption(serverOption);
    parser.addOption(fileOption);
    parser.addOption(fromMenuOption);
    parser.process(app);
    CommandLine given;
    if (parser.isSet(serverOption) || parser.isSet(fileOption))
        given.server = parser.value(serverOption);
    if (parser.isSet(fileOption))
        given.file = parser.value(fileOption);
    given.fromMenu = parser.isSet(fromMenuOption);
    return given;
}

} // namespace

int main(int argc, char *argv[])
{
    ReestrApplication app(argc, argv);
    QApplication::setApplicationName(applicationTitle());
    Application::registerFonts();
    MessageDialogs dialogs;
    Dialogs::install(&dialogs);

    const std::unique_ptr<QTranslator> qtTexts = Application::installQtTranslations(QLocale());

    // The register: a server given on the command line, else the one in the settings (the
    // user's, then the computer's), else Base.mdb in the current folder.
    const CommandLine given = commandLine(app);
    QString server = given.server.value_or(FirstStart::savedServer());
    Connection::setAnswerLimit(FirstStart::savedAnswerLimit());
    if (given.fromMenu && !given.file) {
        // From the menu the program works in ~/Реестр; with no register there yet (and none on a
        // server) the person is asked what to do before anything is made.
        const QString folder = FirstStart::registerFolder();
        if (FirstStart::needed(folder, server)) {
            FirstStartWindow first(folder);
            if (first.exec() != QDialog::Accepted)
                return 0;
            server = first.server();
        }
        if (QFileInfo(folder).isDir())
            QDir::setCurrent(folder);
    }
    if (given.file) {
        // The program works in the file's folder, as it does in Base.mdb's.
        const QFileInfo file(*given.file);
        QDir::setCurrent(file.absolutePath());
        Startup::setFile(file.fileName());
    }
    if (Connection::serverNamesAPassword(server)) {
        Dialogs::current().showFatal(
            QStringLiteral("Ошибка запуска"),
            QStringLiteral("Пароль не пишут в строке подключения к серверу: его хранят в файле "
                           "~/.pgpass или вводят, когда сервер его спросит."));
        return 1;
    }
    Startup::setServer(server);

    if (!Startup::createAll(showFatal))
        return 1;
    Startup::showMainWindow();
    QApplication::exec();
    Startup::destroyAll();
    return 0;
}

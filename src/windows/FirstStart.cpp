#include "windows/FirstStart.h"

#include "register/DatabaseTool.h"
#include "register/JetImport.h"
#include "platform/Dialogs.h"
#include "engines/Engine.h"
#include "engines/EngineErrors.h"
#include "platform/Russian.h"
#include "recordset/Connection.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <memory>

namespace FirstStart {

namespace {

std::unique_ptr<QSettings> userSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("reestr"), QStringLiteral("reestr"));
}

} // namespace

QString conninfoValue(const QString &value)
{
    if (!value.isEmpty() && !value.contains(QLatin1Char(' ')) &&
        !value.contains(QLatin1Char('\'')) && !value.contains(QLatin1Char('\\')))
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString registerFolder()
{
    return QDir::home().filePath(QStringLiteral("Реестр"));
}

bool needed(const QString &folder, const QString &server)
{
    return server.isEmpty() &&
           !QFileInfo::exists(QDir(folder).filePath(QStringLiteral("Base.mdb")));
}

QString savedServer()
{
    return userSettings()->value(QStringLiteral("server")).toString();
}

std::chrono::seconds savedAnswerLimit()
{
    // A slower link may need more than the usual limit; a value that is not a number of seconds
    // keeps it.
    bool number = false;
    const int seconds = userSettings()->value(QStringLiteral("timeout")).toInt(&number);
    return number && seconds > 0 ? std::chrono::seconds(seconds) : defaultAnswerLimit;
}

void saveServer(const QString &conninfo)
{
    const std::unique_ptr<QSettings> settings = userSettings();
    settings->setValue(QStringLiteral("server"), conninfo);
    settings->sync();
    if (settings->status() != QSettings::NoError) {
        throw Error(QStringLiteral("Не удаётся записать настройки в «%1»")
                        .arg(QDir::toNativeSeparators(settings->fileName())));
    }
}

} // namespace FirstStart

FirstStartWindow::FirstStartWindow(QString folder, QWidget *parent)
    : QDialog(parent), m_folder(std::move(folder))
{
    setObjectName(QStringLiteral("FirstStartWindow"));
    setWindowTitle(applicationTitle());
    setMinimumWidth(560); // the folder's path on one line
    m_pages = new QStackedWidget(this);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);

    // The choices.
    auto *choices = new QWidget(m_pages);
    auto *choiceLayout = new QVBoxLayout(choices);
    auto *question = new QLabel(
        QStringLiteral("На этом компьютере реестр ещё не открывали. Если реестр уже ведётся на "
                       "сервере баз данных, подключитесь к нему. Новый реестр программа будет "
                       "хранить в папке «%1».\nЧто сделать?")
            .arg(QDir::toNativeSeparators(m_folder)),
        choices);
    question->setWordWrap(true);
    choiceLayout->addWidget(question);
    const auto button = [&](const char *name, const QString &caption) {
        auto *made = new QPushButton(caption, choices);
        made->setObjectName(QLatin1String(name));
        choiceLayout->addWidget(made);
        return made;
    };
    serverButton = button("serverButton", QStringLiteral("Подключиться к реестру на сервере…"));
    createButton = button("createButton", QStringLiteral("Создать пустой реестр"));
    importButton =
        button("importButton", QStringLiteral("Перенести базу старой программы (файл .mdb)…"));
    quitButton = button("quitButton", QStringLiteral("Выйти"));
    m_progressText = new QLabel(choices);
    progress = new QProgressBar(choices);
    progress->setObjectName(QStringLiteral("progress"));
    progress->setAccessibleName(QStringLiteral("Перенос базы"));
    progress->hide();
    choiceLayout->addWidget(m_progressText);
    choiceLayout->addWidget(progress);
    m_pages->addWidget(choices);

    QWidget *serverPage = makeServerPage();

    connect(createButton, &QPushButton::clicked, this, &FirstStartWindow::createRegister);
    connect(importButton, &QPushButton::clicked, this, &FirstStartWindow::importOldFile);
    connect(serverButton, &QPushButton::clicked, this, [this, serverPage] {
        m_pages->setCurrentWidget(serverPage);
        serverAddress->setFocus();
    });
    connect(quitButton, &QPushButton::clicked, this, &FirstStartWindow::reject);
    connect(connectButton, &QPushButton::clicked, this, &FirstStartWindow::useServer);
    connect(backButton, &QPushButton::clicked, this,
            [this, choices] { m_pages->setCurrentWidget(choices); });
}

bool FirstStartWindow::inFolder(const std::function<void(const QString &database)> &make)
{
    const QDir parent = QFileInfo(m_folder).dir();
    const bool made = !QFileInfo::exists(m_folder);
    try {
        if (made && !parent.mkpath(QFileInfo(m_folder).fileName()))
            throw Error(QStringLiteral("Не удаётся создать папку «%1»")
                            .arg(QDir::toNativeSeparators(m_folder)));
        make(QDir(m_folder).filePath(QStringLiteral("Base.mdb")));
        return true;
    } catch (const Error &e) {
        // Nothing of a failed attempt stays: the folder goes again when this made it.
        if (made)
            parent.rmdir(QFileInfo(m_folder).fileName());
        Dialogs::current().showError(e.message());
        return false;
    }
}

// The page where the office's server is named.
QWidget *FirstStartWindow::makeServerPage()
{
    auto *serverPage = new QWidget(m_pages);
    auto *serverLayout = new QVBoxLayout(serverPage);
    auto *explanation =
        new QLabel(QStringLiteral("Адрес сервера и имя базы данных реестра даёт администратор. "
                                  "Пароль, если сервер его спросит, не сохраняется."),
                   serverPage);
    explanation->setWordWrap(true);
    serverLayout->addWidget(explanation);
    auto *form = new QFormLayout;
    serverAddress = new QLineEdit(serverPage);
    serverAddress->setObjectName(QStringLiteral("serverAddress"));
    serverAddress->setAccessibleName(QStringLiteral("Адрес сервера"));
    serverDatabase = new QLineEdit(QStringLiteral("reestr"), serverPage);
    serverDatabase->setObjectName(QStringLiteral("serverDatabase"));
    serverDatabase->setAccessibleName(QStringLiteral("База данных"));
    serverRole = new QLineEdit(serverPage);
    serverRole->setObjectName(QStringLiteral("serverRole"));
    serverRole->setAccessibleName(QStringLiteral("Имя пользователя (роль)"));
    // An empty role is the login name, as the server will be told.
    const passwd *login = getpwuid(getuid());
    serverRole->setPlaceholderText(
        QStringLiteral("%1 (имя входа в систему)")
            .arg(login ? QString::fromLocal8Bit(login->pw_name) : qEnvironmentVariable("USER")));
    form->addRow(QStringLiteral("Адрес сервера (имя или адрес, можно с «:порт»):"), serverAddress);
    form->addRow(QStringLiteral("База данных:"), serverDatabase);
    form->addRow(QStringLiteral("Имя пользователя (роль):"), serverRole);
    serverLayout->addLayout(form);
    connectButton = new QPushButton(QStringLiteral("Подключиться"), serverPage);
    connectButton->setObjectName(QStringLiteral("connectButton"));
    connectButton->setDefault(true); // Return in a field connects
    backButton = new QPushButton(QStringLiteral("Назад"), serverPage);
    backButton->setObjectName(QStringLiteral("backButton"));
    serverLayout->addWidget(connectButton);
    serverLayout->addWidget(backButton);
    m_pages->addWidget(serverPage);
    return serverPage;
}

void FirstStartWindow::createRegister()
{
    if (inFolder([](const QString &database) {
            DatabaseTool::createDatabase(database, false, QDate::currentDate().year());
        }))
        accept();
}

void FirstStartWindow::importOldFile()
{
    const QString old = Dialogs::current().chooseFile(
        QStringLiteral("База данных старой программы"),
        QStringLiteral("Базы данных Access (*.mdb *.accdb *.MDB *.ACCDB);;Все файлы (*)"));
    if (old.isEmpty())
        return;
    JetImport::Options options;
    options.source = old;
    // While the import runs, «Выйти» (and Esc, and closing the window) stops it instead.
    options.stopRequested = [this] { return m_stopAsked; };
    QStringList leftOut;
    options.notice = [&](const QString &text) { leftOut << text; };
    const auto shown = [this](const QString &table, qint64 done, qint64 total) {
        m_progressText->setText(
            QStringLiteral("%1: %2 %3").arg(table).arg(done).arg(ofRows(total)));
        progress->setRange(0, static_cast<int>(std::min<qint64>(total, INT_MAX)));
        progress->setValue(static_cast<int>(std::min<qint64>(done, INT_MAX)));
        QCoreApplication::processEvents();
    };
    const auto import = [&](const QString &database) {
        options.target = database;
        try {
            JetImport::importDatabase(options, shown);
        } catch (const Error &e) {
            // Columns of a type that cannot be read: the rest may come over without them.
            if (options.skipUnsupported ||
                !e.message().contains(QLatin1String("--skip-unsupported")))
                throw;
            const QString column = e.message().section(QStringLiteral("; импорт остановлен"), 0, 0);
            if (!Dialogs::current().confirm(
                    column + QStringLiteral(".\nПеренести всё остальное без таких столбцов?")))
                throw Error(QStringLiteral("Импорт отменён"));
            options.skipUnsupported = true;
            JetImport::importDatabase(options, shown);
        }
    };
    const auto importing = [this](bool on) {
        m_importing = on;
        m_stopAsked = false;
        for (QPushButton *button : {createButton, importButton, serverButton})
            button->setEnabled(!on);
        quitButton->setText(on ? QStringLiteral("Остановить импорт") : QStringLiteral("Выйти"));
        progress->setVisible(on);
        // The progress takes room of its own below the choices.
        if (on)
            resize(size().expandedTo(sizeHint()));
        if (!on)
            m_progressText->clear();
    };
    importing(true);
    const bool imported = inFolder(import);
    importing(false);
    if (!imported)
        return;
    if (!leftOut.isEmpty())
        Dialogs::current().showNotice(leftOut.join(QLatin1Char('\n')));
    accept();
}

void FirstStartWindow::reject()
{
    if (m_importing)
        m_stopAsked = true;
    else
        QDialog::reject();
}

void FirstStartWindow::useServer()
{
    const QString address = serverAddress->text().trimmed();
    const QString database = serverDatabase->text().trimmed();
    if (address.isEmpty() || database.isEmpty()) {
        Dialogs::current().showError(QStringLiteral("Укажите адрес сервера и имя базы данных"));
        return;
    }
    QString host = address;
    QString conninfo;
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && !address.contains(QLatin1Char(']')) && address.count(QLatin1Char(':')) == 1) {
        host = address.left(colon);
        conninfo =
            QStringLiteral("port=%1 ").arg(FirstStart::conninfoValue(address.mid(colon + 1)));
    }
    conninfo =
        QStringLiteral("host=%1 %2dbname=%3")
            .arg(FirstStart::conninfoValue(host), conninfo, FirstStart::conninfoValue(database));
    // Without a role libpq takes the login name.
    if (const QString role = serverRole->text().trimmed(); !role.isEmpty())
        conninfo += QStringLiteral(" user=") + FirstStart::conninfoValue(role);
    try {
        // Connected, and the register is there: its people's table opens.
        Connection connection(QString(), conninfo);
        connection.open();
        connection.engine().table(QStringLiteral("Main"));
        FirstStart::saveServer(conninfo);
    } catch (const PasswordDeclined &) {
        return; // «Отмена» in the password question: back to this page, to try again or not
    } catch (const Error &e) {
        Dialogs::current().showError(e.message());
        return;
    }
    m_server = conninfo;
    accept();
}

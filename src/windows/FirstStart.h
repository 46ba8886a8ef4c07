#pragma once

#include <QDialog>
#include <QString>

#include <chrono>
#include <functional>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QStackedWidget;

// The first start from the desktop's menu, when there is no register yet: a small window that
// offers what a new office needs at that moment, before the program itself. The register is made
// here only on the person's explicit choice, by the same code as reestr-db:
// - an empty register in the folder (the reference tables filled, as `reestr-db init` does);
// - the old program's Access file moved in (as `reestr-db import` does; the old file untouched);
// - a register on the office's server, checked by connecting and kept in the user's settings;
// - or nothing at all: quitting leaves nothing behind.
class FirstStartWindow : public QDialog
{
public:
    // `folder`: where the register is to be (made only when a register is made in it).
    explicit FirstStartWindow(QString folder, QWidget *parent = nullptr);

    // Once accepted: the server's connection string when the register is on a server, empty when
    // it is the Base.mdb made in the folder.
    const QString &server() const { return m_server; }

    QPushButton *createButton;
    QPushButton *importButton;
    QPushButton *serverButton;
    QPushButton *quitButton;
    QLineEdit *serverAddress;
    QLineEdit *serverDatabase;
    QLineEdit *serverRole;
    QPushButton *connectButton;
    QPushButton *backButton;
    QProgressBar *progress;

    // Quitting, or stopping an import while one runs.
    void reject() override;

private:
    QWidget *makeServerPage();
    void createRegister();
    void importOldFile();
    void useServer();
    // Runs `make` with the folder made for it; a failure shows its message, and a folder this made
    // is removed again. True when it succeeded.
    bool inFolder(const std::function<void(const QString &database)> &make);

    QString m_folder;
    QString m_server;
    QStackedWidget *m_pages;
    QLabel *m_progressText;
    bool m_importing = false;
    bool m_stopAsked = false;
};

namespace FirstStart {

// The folder the program works in when started from the menu: ~/Реестр.
QString registerFolder();

// Whether a start from the menu must ask first: no Base.mdb in the folder and no server named.
bool needed(const QString &folder, const QString &server);

// A value in a libpq connection string, quoted when it holds a blank, a quote or a backslash.
QString conninfoValue(const QString &value);

// The setting that names the register on a server, in the user's settings file.
QString savedServer();
// How long the program waits for any answer of the server: the setting `timeout`, in seconds.
std::chrono::seconds savedAnswerLimit();
void saveServer(const QString &conninfo);

} // namespace FirstStart

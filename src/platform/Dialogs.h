#pragma once

#include <QString>

#include <optional>

// Every message box and question of the program goes through this service, so that tests can
// put a recorder in its place and nothing ever blocks them.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // The error box: the message under the full-stop rule, the stop icon, one OK button.
    virtual void showError(const QString &message) = 0;
    // The plain notice: the application title as caption, no icon, one "OK".
    virtual void showNotice(const QString &text) = 0;
    // The information dialog: caption "Information", information icon, "OK".
    virtual void showInformation(const QString &text) = 0;
    // A question with "OK" (the default) and "Cancel"; true when OK was chosen.
    virtual bool confirm(const QString &text) = 0;
    // The stop box of a fatal start-up error, with its own caption.
    virtual void showFatal(const QString &caption, const QString &text) = 0;
    // Asks for the database server's password, the typing hidden; nothing when declined. A
    // service that cannot ask gives nothing.
    virtual std::optional<QString> askPassword(const QString &question)
    {
        (void)question;
        return std::nullopt;
    }

    // Asks for a file to open, with the file dialog; empty when declined. A service that cannot
    // ask gives nothing.
    virtual QString chooseFile(const QString &title, const QString &filter)
    {
        (void)title;
        (void)filter;
        return QString();
    }

    // The service in use. Installing one returns the one it replaces.
    static Dialogs &current();
    static Dialogs *install(Dialogs *dialogs);
};

// The error box text: a full stop is appended when the text is not empty and its last character
// comes after "." in the character set, so a text ending in a letter, a digit, "?" or ":" gets one
// and a text ending in ".", "!", ")", "'", ",", "-" or a blank does not.
QString errorBoxText(const QString &message);

// The application title: caption of the error box and of the plain notices.
QString applicationTitle();

#pragma once

#include "platform/Wait.h"

#include <QString>

#include <chrono>
#include <optional>
#include <vector>

// A change refused because another computer changed or deleted the row since this one read it:
// what the person at this computer is shown to choose from.
struct ConflictView
{
    enum class Kind {
        Changed,       // a post, where the other changed what it writes
        Deleted,       // a post, where the other deleted the row
        DeleteRefused, // a deletion, where the other changed the row
    };
    struct Field
    {
        QString name;
        QString was;    // as this computer read it
        QString theirs; // as the other computer stored it
        QString yours;  // as typed here
    };
    Kind kind = Kind::Changed;
    QString who;                  // the person (or the row) it is about
    std::vector<Field> conflicts; // both changed these
    std::vector<Field> kept;      // the other computer's other changes, kept
    // Where, by whom and when, as the register's change log keeps it («Изменено на компьютере
    // kab-12 (ivanova) в 10:42»); empty when it does not know.
    QString changedBy;
};

enum class ConflictChoice {
    SaveMine,     // «Сохранить моё»
    TakeTheirs,   // «Оставить как на другом компьютере»
    KeepEditing,  // «Вернуться к правке»
    SaveAsNew,    // «Сохранить как новую запись»
    DontSave,     // «Не сохранять»
    DeleteAnyway, // «Удалить всё равно»
    DontDelete,   // «Не удалять»
};

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
    // A note that is not an error: the application title as caption, the information icon, "OK".
    virtual void showNote(const QString &text) = 0;
    // The stop box of a fatal start-up error, with its own caption.
    virtual void showFatal(const QString &caption, const QString &text) = 0;
    // Asks for the database server's password, the typing hidden; nothing when declined. A
    // service that cannot ask gives nothing.
    virtual std::optional<QString> askPassword(const QString &question)
    {
        (void)question;
        return std::nullopt;
    }

    // While the program waits for a server: what it waits for and how long so far, about ten
    // times a second, and zero waited when the wait is over. False: the person cancelled it. A
    // service that cannot show it lets the wait run to its limit.
    virtual bool showWaiting(const Wait &wait)
    {
        (void)wait;
        return true;
    }

    // Shows a refused change and gives what the person chose. A service that cannot ask gives
    // the choice that overwrites nothing: keep editing, leave a deleted row deleted, keep a row.
    virtual ConflictChoice resolveConflict(const ConflictView &view)
    {
        switch (view.kind) {
        case ConflictView::Kind::Changed:
            return ConflictChoice::KeepEditing;
        case ConflictView::Kind::Deleted:
            return ConflictChoice::DontSave;
        case ConflictView::Kind::DeleteRefused:
            break;
        }
        return ConflictChoice::DontDelete;
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
    // Whether one is installed: what only shows progress is skipped without one.
    static bool isInstalled();
};

// The error box text: a full stop is appended when the text is not empty and its last character
// comes after "." in the character set, so a text ending in a letter, a digit, "?" or ":" gets one
// and a text ending in ".", "!", ")", "'", ",", "-" or a blank does not.
QString errorBoxText(const QString &message);

// The application title: caption of the error box and of the plain notices.
QString applicationTitle();

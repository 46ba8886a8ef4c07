#pragma once

#include "platform/Dialogs.h"

#include <QStringList>

#include <deque>

// Stands in for the message boxes: writes down what each would show and answers questions with
// a preset reply, so no test ever blocks.
class RecordingDialogs : public Dialogs
{
public:
    RecordingDialogs() : m_previous(Dialogs::install(this)) {}
    ~RecordingDialogs() override { Dialogs::install(m_previous); }

    QStringList errors;      // as the error box shows them, full stop included
    QStringList notices;     // plain notices, without an icon
    QStringList information; // information boxes
    QStringList notes;       // notes that are not errors
    QStringList waits;       // the servers waited for, once per wait that was shown
    QStringList questions;
    bool answer = true;
    QStringList passwordQuestions;
    std::optional<QString> password;            // the reply to a password question
    std::deque<std::optional<QString>> replies; // replies to come first, one per question
    QStringList fileQuestions;
    QString chosenFile; // the reply to the file dialog

    void showError(const QString &message) override { errors << errorBoxText(message); }
    void showNotice(const QString &text) override { notices << text; }
    void showInformation(const QString &text) override { information << text; }
    void showNote(const QString &text) override { notes << text; }
    bool showWaiting(const Wait &wait) override
    {
        if (wait.waited.count() > 0 && !m_waiting)
            waits << wait.where;
        m_waiting = wait.waited.count() > 0;
        return true;
    }
    bool confirm(const QString &text) override
    {
        questions << text;
        return answer;
    }
    void showFatal(const QString &caption, const QString &text) override
    {
        errors << caption + QStringLiteral(": ") + text;
    }
    std::optional<QString> askPassword(const QString &question) override
    {
        passwordQuestions << question;
        if (replies.empty())
            return password;
        const std::optional<QString> reply = replies.front();
        replies.pop_front();
        return reply;
    }

    std::vector<ConflictView> conflicts; // what each conflict window showed
    std::deque<ConflictChoice> choices;  // the person's choices, one per window; then the safe one
    ConflictChoice resolveConflict(const ConflictView &view) override
    {
        conflicts.push_back(view);
        if (choices.empty())
            return Dialogs::resolveConflict(view);
        const ConflictChoice choice = choices.front();
        choices.pop_front();
        return choice;
    }

    QString chooseFile(const QString &title, const QString &) override
    {
        fileQuestions << title;
        return chosenFile;
    }

private:
    Dialogs *m_previous;
    bool m_waiting = false;
};

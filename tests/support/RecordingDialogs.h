#pragma once

#include "platform/Dialogs.h"

#include <QStringList>

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
    QStringList questions;
    bool answer = true;
    QStringList passwordQuestions;
    std::optional<QString> password; // the reply to a password question
    QStringList fileQuestions;
    QString chosenFile; // the reply to the file dialog

    void showError(const QString &message) override { errors << errorBoxText(message); }
    void showNotice(const QString &text) override { notices << text; }
    void showInformation(const QString &text) override { information << text; }
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
        return password;
    }

    QString chooseFile(const QString &title, const QString &) override
    {
        fileQuestions << title;
        return chosenFile;
    }

private:
    Dialogs *m_previous;
};

#pragma once

#include "platform/Dialogs.h"

// The dialog service of the running program: modal message boxes centred on the screen.
class MessageDialogs : public Dialogs
{
public:
    void showError(const QString &message) override;
    void showNotice(const QString &text) override;
    void showInformation(const QString &text) override;
    bool confirm(const QString &text) override;
    void showFatal(const QString &caption, const QString &text) override;
    std::optional<QString> askPassword(const QString &question) override;
    QString chooseFile(const QString &title, const QString &filter) override;
};

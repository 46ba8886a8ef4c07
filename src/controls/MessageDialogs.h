#pragma once

#include "platform/Dialogs.h"

#include <memory>

class QWidget;
class WaitPanel;
class QTimer;

// The dialog service of the running program: modal message boxes centred on the screen.
class MessageDialogs : public Dialogs
{
public:
    MessageDialogs();
    ~MessageDialogs() override;
    void showError(const QString &message) override;
    void showNotice(const QString &text) override;
    void showInformation(const QString &text) override;
    void showNote(const QString &text) override;
    // The wait cursor while the program waits for a server; past a second, also the wait panel
    // in the active window, whose «Отменить» cancels the wait.
    bool showWaiting(const Wait &wait) override;
    bool confirm(const QString &text) override;
    void showFatal(const QString &caption, const QString &text) override;
    std::optional<QString> askPassword(const QString &question) override;
    QString chooseFile(const QString &title, const QString &filter) override;
    ConflictChoice resolveConflict(const ConflictView &view) override;

private:
    bool m_waitCursor = false;
    std::unique_ptr<WaitPanel> m_waitPanel;
    std::unique_ptr<QTimer> m_waitEnd; // ends a wait shown that was not said to end
};

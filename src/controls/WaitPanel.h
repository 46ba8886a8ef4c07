#pragma once

#include "engines/Engine.h"

#include <QFrame>

class QLabel;
class QPushButton;

// What the program waits for, shown inside the window the person works in: which server, for
// what, the seconds left, and «Отменить». While it is shown the window repaints but takes no
// input of its own; only the panel's button is live.
class WaitPanel : public QFrame
{
public:
    explicit WaitPanel(QWidget *window);
    ~WaitPanel() override;

    void show(const Wait &wait);
    bool cancelled() const { return m_cancelled; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *m_text;
    QPushButton *m_cancel;
    bool m_cancelled = false;
};

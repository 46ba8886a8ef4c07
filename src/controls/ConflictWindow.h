#pragma once

#include "platform/Dialogs.h"

#include <QDialog>

class QPushButton;
class QTableWidget;

// The window about a change refused because another computer changed or deleted the row: the
// person, each field both changed (as read, as the other stored it, as typed here), the other's
// changes that were kept, and the choices. Esc and closing take the choice that overwrites
// nothing; Enter takes the default, which is that same one.
class ConflictWindow : public QDialog
{
public:
    explicit ConflictWindow(const ConflictView &view, QWidget *parent = nullptr);

    ConflictChoice choice() const { return m_choice; }
    // The button of a choice, for the keyboard's Tab order and for tests that read the window.
    QPushButton *button(ConflictChoice choice) const;

    void reject() override;

private:
    QTableWidget *table(const std::vector<ConflictView::Field> &fields, bool withYours,
                        const QString &name);

    ConflictChoice m_choice;
    ConflictChoice m_safe;
    std::vector<std::pair<ConflictChoice, QPushButton *>> m_buttons;
};

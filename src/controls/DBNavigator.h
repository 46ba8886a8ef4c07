#pragma once

#include "BoundControl.h"

#include <QToolButton>
#include <QWidget>

#include <array>

// A navigator bar: ten buttons that move through a record set and edit it, each enabled only when
// its action makes sense for the record set's present state.
class DBNavigator : public QWidget, public BoundControl
{
    Q_OBJECT

public:
    enum Button {
        nbFirst,
        nbPrior,
        nbNext,
        nbLast,
        nbInsert,
        nbDelete,
        nbEdit,
        nbPost,
        nbCancel,
        nbRefresh
    };
    static constexpr int buttonCount = 10;

    explicit DBNavigator(QWidget *parent = nullptr);

    QToolButton *button(Button which) const { return m_buttons[which]; }
    // The hint text a button holds: "First record", "Prior record", ...
    static QString hint(Button which);
    // Runs a button's action as a click does (the delete asks first).
    void BtnClick(Button which);

    void dataSetChanged() override { scheduleRefresh(); }
    void rowsChanged() override { scheduleRefresh(); }
    void dataSetScrolled(int) override { scheduleRefresh(); }
    void stateChanged() override { scheduleRefresh(); }

protected:
    bool event(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void refresh() override;

private:
    void layoutButtons();
    void setFocusMark(int index);

    std::array<QToolButton *, buttonCount> m_buttons{};
    int m_focusMark = 0;
};

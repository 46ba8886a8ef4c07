// The mouse as a person moves it, through the X server (xdotool) under a window manager: what a
// click makes current. Run by under_openbox.sh.
#include "LookupDriver.h"
#include "ProgramFixture.h"
#include "Settle.h"

#include "controls/DBGrid.h"
#include "controls/MessageDialogs.h"
#include "controls/TextComboBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardPaths>

namespace {

// Runs xdotool: the pointer first moved to `point` of `widget`, when one is given.
void xdotool(QStringList words, const QWidget *widget = nullptr, const QPoint &point = {})
{
    if (widget) {
        const QPoint screen = widget->mapToGlobal(point);
        words = QStringList{QStringLiteral("mousemove"), QStringLiteral("--sync"),
                            QString::number(screen.x()), QString::number(screen.y())} +
                words;
    }
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), words), 0);
    settle(300);
}

// The message boxes shown as they are, and written down.
class ShownBoxes : public MessageDialogs
{
public:
    ShownBoxes() : m_previous(Dialogs::install(this)) {}
    ~ShownBoxes() override { Dialogs::install(m_previous); }
    void showError(const QString &message) override
    {
        errors << message;
        MessageDialogs::showError(message);
    }
    QStringList errors;

private:
    Dialogs *m_previous;
};

class MouseTest : public ProgramTest
{
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE "
                            "i < 60) INSERT INTO Main (ФИО, Год) SELECT 'Человек ' || i, 1950 + i "
                            "FROM n"));
        startProgram();
        Startup::showMainWindow();
        settle(600);
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }
};

} // namespace

// The grid without the focus, its current record turned out of view with the wheel: a click
// makes current the record drawn under the pointer, and the view stays where it was.
TEST_F(MouseTest, AClickAfterTheWheelMakesCurrentTheRecordDrawnUnderThePointer)
{
    DBGrid *grid = frmMain->dbgrd1;
    xdotool({QStringLiteral("click"), QStringLiteral("1")}, frmMain->cbb2,
            frmMain->cbb2->rect().center());
    ASSERT_FALSE(grid->hasFocus());
    xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("30"),
             QStringLiteral("5")},
            grid->viewport(), grid->viewport()->rect().center());
    const QPoint last(grid->viewport()->width() / 2,
                      grid->viewport()->height() -
                          grid->verticalHeader()->defaultSectionSize() / 2);
    const int drawn = grid->indexAt(last).row();
    const int scrolled = grid->verticalScrollBar()->value();
    ASSERT_GT(drawn, 10) << "the wheel turned the grid";
    xdotool({QStringLiteral("click"), QStringLiteral("1")}, grid->viewport(), last);
    EXPECT_EQ(DM->tblMain.currentRow(), drawn);
    EXPECT_EQ(grid->verticalScrollBar()->value(), scrolled);
}

// A cell value the field refuses, and a click on «СФОРМИРОВАТЬ СПИСОК»: the box says so, the
// focus comes back to the grid, and the button is not left pressed.
TEST_F(MouseTest, AButtonClickedWhileACellValueIsRefusedIsNotLeftPressed)
{
    DBGrid *grid = frmMain->dbgrd1;
    ShownBoxes boxes;
    // Into the first person's ФИО, then two cells right to the year, as the cells are laid out.
    const QRect name = grid->visualRect(grid->model()->index(0, 0));
    xdotool({QStringLiteral("click"), QStringLiteral("1")}, grid->viewport(), name.center());
    xdotool({QStringLiteral("key"), QStringLiteral("Right"), QStringLiteral("Right")});
    xdotool({QStringLiteral("key"), QStringLiteral("minus")});
    const QPoint button = frmMain->btn4->mapToGlobal(frmMain->btn4->rect().center());
    // The box comes up while the button is held: a person waits for it and presses Return.
    QProcess::startDetached(
        QStringLiteral("bash"),
        {QStringLiteral("-c"),
         QStringLiteral("xdotool mousemove --sync %1 %2 click 1 && xdotool search --sync "
                        "--onlyvisible --name '^%3$' && xdotool key Return")
             .arg(button.x())
             .arg(button.y())
             .arg(applicationTitle())});
    QElapsedTimer waited;
    waited.start();
    while (boxes.errors.isEmpty() && waited.elapsed() < 20000)
        settle(100);
    settle(300);
    EXPECT_EQ(boxes.errors,
              QStringList{QStringLiteral("'-' is not a valid integer value for field 'Год'")});
    EXPECT_FALSE(frmMain->btn4->isDown());
    EXPECT_TRUE(grid->isAncestorOf(QApplication::focusWidget()));
}

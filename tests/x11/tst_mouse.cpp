// The mouse as a person moves it, through the X server (xdotool) under a window manager: what a
// click makes current. Run by under_openbox.sh.
#include "ProgramFixture.h"

#include "controls/DBGrid.h"
#include "controls/TextComboBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>

namespace {

void settle(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// xdotool's commands for a point of a widget, in the screen's coordinates.
QStringList at(const QWidget *widget, const QPoint &point)
{
    const QPoint screen = widget->mapToGlobal(point);
    return {QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(screen.x()),
            QString::number(screen.y())};
}

void xdotool(const QStringList &arguments, int settleMs = 300)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("xdotool"), arguments), 0);
    settle(settleMs);
}

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
    xdotool(at(frmMain->cbb2, frmMain->cbb2->rect().center()) << QStringLiteral("click")
                                                               << QStringLiteral("1"));
    ASSERT_FALSE(grid->hasFocus());
    xdotool(at(grid->viewport(), grid->viewport()->rect().center()) << QStringLiteral("click")
                << QStringLiteral("--repeat") << QStringLiteral("30") << QStringLiteral("5"));
    const QPoint last(grid->viewport()->width() / 2,
                      grid->viewport()->height() - grid->verticalHeader()->defaultSectionSize() / 2);
    const int drawn = grid->indexAt(last).row();
    const int scrolled = grid->verticalScrollBar()->value();
    ASSERT_GT(drawn, 10) << "the wheel turned the grid";
    xdotool(at(grid->viewport(), last) << QStringLiteral("click") << QStringLiteral("1"));
    EXPECT_EQ(DM->tblMain.currentRow(), drawn);
    EXPECT_EQ(grid->verticalScrollBar()->value(), scrolled);
}

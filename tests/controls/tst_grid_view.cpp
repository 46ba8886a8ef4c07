// The grid as it is drawn and clicked: a click after a record went, column widths the user
// dragged, the popup menu, leaving by Ctrl+Tab, the model behind the view and the highlighted cell.
#include "GridFixture.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QTimer>

#include <functional>

TEST_F(GridTest, AClickAfterABlankRecordWasDroppedLandsOnTheRecordClicked)
{
    open({{"Кузнецов", 1}, {"Смирнова", 2}, {"Яковлев", 3}});
    key(Qt::Key_Insert); // a blank record above Кузнецов, left untouched
    ASSERT_EQ(tblMain.rowCount(), 4);
    const QRect smirnova = grid->visualRect(grid->model()->index(2, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, smirnova.center());
    catchUp();
    EXPECT_EQ(currentName(), QStringLiteral("Смирнова"));
    EXPECT_EQ(tblMain.RecordTotal(), 3);

    // The same through the indicator column.
    key(Qt::Key_Insert); // above Смирнова
    QHeaderView *indicator = grid->verticalHeader();
    const QPoint yakovlev(indicator->width() / 2, indicator->sectionViewportPosition(3) + 5);
    QTest::mouseClick(indicator->viewport(), Qt::LeftButton, Qt::NoModifier, yakovlev);
    catchUp();
    EXPECT_EQ(currentName(), QStringLiteral("Яковлев"));
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("3"));
}

TEST_F(GridTest, AColumnWidthTheUserDraggedLastsUntilTheRecordSetIsClosed)
{
    open({{"Иванов", 1980}, {"Петров", 1990}});
    QHeaderView *titles = grid->horizontalHeader();
    const int before = titles->sectionSize(1);
    // Drag the right border of the title ФИО sixty pixels to the right.
    const QPoint border(titles->sectionViewportPosition(1) + before - 1, titles->height() / 2);
    QTest::mousePress(titles->viewport(), Qt::LeftButton, Qt::NoModifier, border);
    QTest::mouseMove(titles->viewport(), border + QPoint(60, 0));
    QTest::mouseRelease(titles->viewport(), Qt::LeftButton, Qt::NoModifier, border + QPoint(60, 0));
    const int widened = titles->sectionSize(1);
    ASSERT_GT(widened, before);

    goToColumn(QStringLiteral("ФИО"));
    type(QStringLiteral("А"));
    EXPECT_EQ(titles->sectionSize(1), widened) << "typing into a cell";
    key(Qt::Key_Escape);
    key(Qt::Key_Escape);
    EXPECT_EQ(titles->sectionSize(1), widened) << "Escape";
    key(Qt::Key_Insert);
    EXPECT_EQ(titles->sectionSize(1), widened) << "Insert";
    key(Qt::Key_Down);
    for (tblMain.ToFirst(); !tblMain.AtEnd(); tblMain.ToNext()) {
        tblMain.StartEdit();
        tblMain.FieldNamed(QStringLiteral("Возраст")).setAsInt(45);
    }
    catchUp();
    EXPECT_EQ(titles->sectionSize(1), widened) << "an age walk";

    tblMain.setActive(false);
    tblMain.setActive(true);
    catchUp();
    EXPECT_EQ(titles->sectionSize(1), before) << "a re-opened record set starts afresh";
}

TEST_F(GridTest, ThePopupMenuOfTheWholeGridOpensOverItsIndicatorColumnToo)
{
    QMenu menu;
    menu.addAction(QStringLiteral("ЭКСПОРТ"));
    grid->setPopupMenu(&menu);
    open({{"Иванов", 1980}, {"Петров", 1990}});
    QHeaderView *indicator = grid->verticalHeader();
    const QPoint petrov(indicator->width() / 2, indicator->sectionViewportPosition(1) + 5);
    QTest::mouseClick(indicator->viewport(), Qt::RightButton, Qt::NoModifier, petrov);
    catchUp();
    EXPECT_TRUE(menu.isVisible());
    EXPECT_EQ(currentName(), QStringLiteral("Петров")) << "the menu acts on the row clicked";
    menu.hide();
}

TEST_F(GridTest, CtrlTabLeavesTheGridWithTheCellTextWrittenAndCtrlShiftTabGoesBack)
{
    open({{"Иванов", 1980}});
    goToColumn(QStringLiteral("ФИО"));
    type(QStringLiteral("Я"));
    ASSERT_TRUE(grid->isEditorOpen());
    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), other);
    EXPECT_EQ(currentName(), QStringLiteral("Я")) << "the cell text is written into the field";
    EXPECT_EQ(tblMain.state(), RecordSet::State::Editing) << "the record stays pending";

    grid->setFocus();
    catchUp();
    QTest::keyClick(grid, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    catchUp();
    EXPECT_EQ(QApplication::focusWidget(), other) << "the only other control, backwards";
    grid->setFocus();
    key(Qt::Key_Insert);
    key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(QApplication::focusWidget(), other);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing) << "an untouched new record is dropped";
}

TEST_F(GridTest, TheModelStaysConsistentThroughEveryChange)
{
    static QStringList failures;
    failures.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
            if (message.contains(QLatin1String("FAIL")))
                failures << message;
        });
    {
        QAbstractItemModelTester tester(grid->model(),
                                        QAbstractItemModelTester::FailureReportingMode::Warning);
        open({{"Иванов", 1980}, {"Петров", 1990}, {"Сидоров", 2000}});
        goToColumn(QStringLiteral("ФИО"));
        key(Qt::Key_Insert);
        type(QStringLiteral("Я"));
        key(Qt::Key_Down); // posts
        dialogs.answer = true;
        key(Qt::Key_Delete, Qt::ControlModifier);
        key(Qt::Key_End, Qt::ControlModifier);
        key(Qt::Key_Down); // appends
        key(Qt::Key_Up);   // cancels the untouched append
        key(Qt::Key_Insert);
        key(Qt::Key_Escape);
        tblMain.setSortOrder(QStringLiteral("ФИО"));
        catchUp();
        tblMain.setActive(false);
        catchUp();
        tblMain.setActive(true);
        catchUp();
        EXPECT_EQ(grid->model()->rowCount(), 3);
        EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("3"));
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();
}

TEST_F(GridTest, OnlyTheCurrentCellOfTheSelectedRowIsDrawnHighlighted)
{
    open({{"Иванов", 1980}, {"Петров", 1990}});
    goToColumn(QStringLiteral("ФИО"));
    // Sample the empty right part of the name cell and the empty left part of the year cell.
    QRect name = grid->visualRect(grid->model()->index(0, 1));
    QRect year = grid->visualRect(grid->model()->index(0, 3));
    // Only the row's strip: an image that large is converted by Qt's thread pool, whose thread
    // may outlive the test and be reported as a leak at exit.
    const QRect strip = name.united(year);
    const QImage shot = grid->viewport()->grab(strip).toImage();
    name.translate(-strip.topLeft());
    year.translate(-strip.topLeft());
    const QColor highlight = grid->palette().color(QPalette::Active, QPalette::Highlight);
    const QColor base = grid->palette().color(QPalette::Active, QPalette::Base);
    // The style may shade the highlight a little.
    const auto near = [](const QColor &a, const QColor &b) {
        return std::abs(a.red() - b.red()) < 12 && std::abs(a.green() - b.green()) < 12 &&
               std::abs(a.blue() - b.blue()) < 12;
    };
    EXPECT_TRUE(near(shot.pixelColor(name.right() - 3, name.center().y()), highlight));
    EXPECT_TRUE(near(shot.pixelColor(year.left() + 3, year.center().y()), base))
        << shot.pixelColor(year.left() + 3, year.center().y()).name().toStdString();
    ASSERT_TRUE(grid->selectionModel()->isRowSelected(0, QModelIndex())) << "for screen readers";
}

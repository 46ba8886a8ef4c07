// The main window as laid out: controls, positions, tab order, menus, pop-up menus, sort and exit.
#include "Filesystems.h"
#include "ProgramFixture.h"
#include "windows/NewRecordWindow.h"
#include "windows/ReferenceBooksWindow.h"
#include "Processes.h"

#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"

#include <QAction>
#include <QApplication>
#include <QTest>
#include "controls/TextComboBox.h"

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include <thread>

namespace {} // namespace

class MainWindowTest : public ProgramTest
{
protected:
    MainWindowTest()
    {
        exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('Петров Олег', 1980), "
                            "('Ёлкина Анна', 1990), ('Абрамов Иван', 1970), ('Жуков Пётр', 1985)"));
        startProgram();
        catchUp();
    }
    QWidget *child(const char *name)
    {
        return frmMain->client()->findChild<QWidget *>(QLatin1String(name));
    }
    // Where a menu opened by a right click ends up, closing it again.
    QMenu *rightClick(QWidget *target, QPoint at)
    {
        QMenu *opened = nullptr;
        QTimer::singleShot(0, [&] {
            opened = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (opened)
                opened->close();
        });
        QTest::mousePress(target, Qt::RightButton, Qt::NoModifier, at);
        QTest::mouseRelease(target, Qt::RightButton, Qt::NoModifier, at);
        catchUp();
        catchUp();
        return opened;
    }
};

TEST_F(MainWindowTest, EveryControlIsWhereTheLayoutPutsIt)
{
    EXPECT_EQ(frmMain->windowTitle(), QStringLiteral("ЛАРВЕНСКИЙ КОЛЛЕДЖ"));
    const struct
    {
        const char *name;
        QRect geometry;
    } controls[] = {
        {"dbgrd1", {21, 73, 943, 178}},   {"cbb2", {230, 20, 89, 31}},
        {"btn4", {348, 19, 427, 37}},     {"btn1", {565, 331, 140, 30}},
        {"btn2", {735, 335, 140, 30}},    {"dbgrd2", {18, 375, 1357, 125}},
        {"btn3", {395, 554, 140, 30}},    {"btn6", {570, 555, 140, 30}},
        {"btn7", {735, 558, 140, 30}},    {"dbgrd3", {13, 597, 1361, 121}},
        {"edt1", {832, 21, 45, 31}},      {"dbedt1", {1058, 72, 412, 31}},
        {"dbedt_", {1179, 119, 121, 31}}, {"dbedt3", {1046, 174, 75, 31}},
        {"dbedt4", {1226, 176, 75, 31}},  {"dbedt5", {1405, 175, 75, 31}},
        {"dbedt6", {1098, 227, 75, 31}},  {"dbedt7", {1317, 232, 75, 31}},
        {"btn8", {394, 331, 140, 30}},    {"edt2", {904, 20, 121, 31}},
        {"cbb1", {213, 331, 171, 31}},    {"edt3", {1037, 21, 129, 31}},
    };
    for (const auto &control : controls) {
        QWidget *widget = child(control.name);
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->geometry(), control.geometry) << control.name;
    }
    // Navigator bars are trimmed to ten equal buttons.
    EXPECT_EQ(frmMain->dbnvgr1->geometry(), QRect(23, 267, 930, 30));
    EXPECT_EQ(frmMain->dbnvgr2->geometry(), QRect(21, 513, 1340, 27));
    EXPECT_EQ(frmMain->dbnvgr3->geometry(), QRect(18, 731, 1330, 29));

    const struct
    {
        QLabel *label;
        const char *caption;
        QPoint at;
    } labels[] = {
        {frmMain->lbl1, "ВЫБЕРИТЕ ГОД", {57, 21}}, {frmMain->lbl2, "УКАЖИТЕ МЕСЯЦ", {24, 334}},
        {frmMain->lbl3, "Ф.И.О", {984, 77}},       {frmMain->lbl4, "ДАТА РОЖДЕНИЯ", {988, 125}},
        {frmMain->lbl5, "ГОД", {990, 173}},        {frmMain->lbl6, "МЕСЯЦ", {1143, 176}},
        {frmMain->lbl7, "ЧИСЛО", {1318, 175}},     {frmMain->lbl8, "ВОЗРАСТ", {994, 226}},
        {frmMain->lbl9, "ЮБИЛЕЙ", {1208, 231}}};
    for (const auto &l : labels) {
        EXPECT_EQ(l.label->text(), QString::fromUtf8(l.caption));
        EXPECT_EQ(l.label->pos(), l.at) << l.caption;
        EXPECT_GE(l.label->width(), l.label->fontMetrics().horizontalAdvance(l.label->text()))
            << l.caption << " is not clipped";
        // Tall enough for the marks above capitals, the breve of "Й" included.
        EXPECT_GE(l.label->height(),
                  l.label->fontMetrics().boundingRect(QStringLiteral("Й")).height())
            << l.caption;
        EXPECT_GE(l.label->height(), 23) << l.caption;
    }
    EXPECT_EQ(frmMain->btn4->text(), QStringLiteral("СФОРМИРОВАТЬ СПИСОК"));
    EXPECT_EQ(frmMain->btn8->text(), QStringLiteral("НАЙТИ"));
    EXPECT_EQ(frmMain->btn3->text(), QStringLiteral("ЮБИЛЯРЫ"));
    for (QPushButton *print : {frmMain->btn1, frmMain->btn6})
        EXPECT_EQ(print->text(), QStringLiteral("ПЕЧАТЬ"));
    for (QPushButton *reset : {frmMain->btn2, frmMain->btn7})
        EXPECT_EQ(reset->text(), QStringLiteral("СБРОС"));
    for (QPushButton *any : frmMain->client()->findChildren<QPushButton *>())
        EXPECT_FALSE(any->isDefault() || any->autoDefault()) << any->objectName().toStdString();
}

TEST_F(MainWindowTest, TheSecondaryWindowsControlsAreWhereTheLayoutPutsThem)
{
    const struct
    {
        QWidget *window;
        const char *name;
        QRect geometry;
    } secondary[] = {
        {frmInsert, "btn1", {448, 216, 233, 41}},  {frmInsert, "btn2", {456, 296, 225, 41}},
        {frmInsert, "dbedt1", {136, 32, 393, 31}}, {frmInsert, "cbb1", {128, 144, 65, 31}},
        {frmInsert, "cbb2", {312, 144, 81, 31}},   {frmInsert, "dblkcbb1", {496, 144, 137, 31}},
        {frmInsert, "edt1", {224, 216, 209, 31}},  {frmSprav, "dbgrd1", {14, 6, 318, 496}},
        {frmSprav, "dbgrd2", {18, 15, 308, 382}},  {frmSprav, "dbgrd3", {14, 5, 291, 510}},
        {frmSprav, "dbnvgr3", {14, 525, 280, 32}},
    };
    for (const auto &control : secondary) {
        auto *widget = control.window->findChild<QWidget *>(QLatin1String(control.name));
        ASSERT_NE(widget, nullptr) << control.name;
        EXPECT_EQ(widget->geometry(), control.geometry) << control.name;
    }
    EXPECT_EQ(frmInsert->size(), QSize(724, 376));
    EXPECT_EQ(frmSprav->size(), QSize(350, 634));
    EXPECT_EQ(frmInsert->windowTitle(), QStringLiteral("НОВАЯ ЗАПИСЬ"));
    EXPECT_EQ(frmSprav->windowTitle(), QStringLiteral("СПРАВОЧНИКИ"));
}

TEST_F(MainWindowTest, HiddenBoxesDisabledDetailPanelAndTheBoxesContents)
{
    for (QLineEdit *hidden : {frmMain->edt1, frmMain->edt2, frmMain->edt3})
        EXPECT_FALSE(hidden->isVisible()) << hidden->objectName().toStdString();
    EXPECT_EQ(frmMain->edt1->text(), QStringLiteral("да"));
    for (DBEdit *box : {frmMain->dbedt1, frmMain->dbedt_, frmMain->dbedt3, frmMain->dbedt4,
                        frmMain->dbedt5, frmMain->dbedt6, frmMain->dbedt7}) {
        EXPECT_TRUE(box->isVisible());
        EXPECT_FALSE(box->isEnabled()) << box->objectName().toStdString();
    }
    EXPECT_EQ(frmMain->dbedt1->text(), QStringLiteral("Петров Олег"));
    EXPECT_EQ(frmMain->cbb2->count(), 4);
    EXPECT_EQ(frmMain->cbb2->currentText(), QString());
    EXPECT_EQ(frmMain->cbb1->count(), 12);
    EXPECT_EQ(frmMain->cbb1->itemText(0), QStringLiteral("январь"));
    EXPECT_EQ(frmMain->cbb1->itemText(11), QStringLiteral("декабрь"));
    EXPECT_EQ(frmMain->cbb1->currentText(), QString());

    EXPECT_EQ(frmMain->dbgrd1->columnCount(), 7);
    QStringList titles;
    for (int i = 0; i < 7; ++i)
        titles << frmMain->dbgrd1->columnTitle(i);
    EXPECT_EQ(titles,
              (QStringList{QStringLiteral("ФИО"), QStringLiteral("Дата рождения"),
                           QStringLiteral("Год"), QStringLiteral("Месяц"), QStringLiteral("Число"),
                           QStringLiteral("Возраст"), QStringLiteral("Юбилей")}));
    EXPECT_EQ(frmMain->dbgrd2->columnCount(), 0) << "the result grids start empty";
    EXPECT_EQ(frmMain->dbgrd3->columnCount(), 0);
    EXPECT_FALSE(frmMain->dbnvgr2->button(DBNavigator::nbRefresh)->isEnabled());
}

TEST_F(MainWindowTest, TabVisitsTheControlsInTheirOrderAndCtrlTabLeavesAGrid)
{
    // Inside a grid Tab moves between cells, so the grids are left with Ctrl+Tab; from the month
    // box, the last stop, Tab goes round to the main grid, never to the invisible scroll area.
    const QList<QWidget *> order = {
        frmMain->dbgrd1,  frmMain->dbnvgr1, frmMain->cbb2,   frmMain->btn4,
        frmMain->btn1,    frmMain->btn2,    frmMain->dbgrd2, frmMain->dbnvgr2,
        frmMain->btn3,    frmMain->btn6,    frmMain->btn7,   frmMain->dbgrd3,
        frmMain->dbnvgr3, frmMain->btn8,    frmMain->cbb1,   frmMain->dbgrd1};
    const auto focused = [](QWidget *control) {
        QWidget *focus = QApplication::focusWidget();
        return focus == control || control->isAncestorOf(focus);
    };
    frmMain->dbgrd1->setFocus();
    catchUp();
    for (qsizetype i = 1; i < order.size(); ++i) {
        const bool inGrid = qobject_cast<DBGrid *>(order[i - 1]) != nullptr;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab,
                        inGrid ? Qt::ControlModifier : Qt::NoModifier);
        catchUp();
        ASSERT_TRUE(focused(order[i]))
            << "after " << order[i - 1]->objectName().toStdString() << " the focus is on "
            << QApplication::focusWidget()->objectName().toStdString() << " ("
            << QApplication::focusWidget()->metaObject()->className() << ")";
    }
    QTest::keyClick(frmMain->dbgrd1, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    catchUp();
    EXPECT_TRUE(focused(frmMain->cbb1)) << "Ctrl+Shift+Tab goes back";
}

TEST_F(MainWindowTest, TheMenuBarHoldsCommandsAndOneSubMenu)
{
    const QList<QAction *> bar = frmMain->menuBar()->actions();
    QStringList captions;
    for (QAction *action : bar)
        captions << action->text();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("НОВАЯ ЗАПИСЬ"), QStringLiteral("СПРАВОЧНИКИ"),
                                     QStringLiteral("АРХИВАЦИЯ"), QStringLiteral("СЕРВИС"),
                                     QStringLiteral("ВЫХОД")}));
    EXPECT_EQ(bar[3]->menu(), frmMain->N3);
    for (int i : {0, 1, 2, 4})
        EXPECT_EQ(bar[i]->menu(), nullptr) << "a command on the bar itself";
    EXPECT_EQ(frmMain->N4->text(), QStringLiteral("РУКОВОДСТВО ПОЛЬЗОВАТЕЛЯ"));
    EXPECT_EQ(frmMain->N5->text(), QStringLiteral("О РАЗРАБОТЧИКЕ"));
    for (QAction *action :
         {frmMain->N1, frmMain->N2, frmMain->N4, frmMain->N5, frmMain->N6, frmMain->N7})
        EXPECT_TRUE(action->shortcut().isEmpty());
}

TEST_F(MainWindowTest, TheSortMenuOpensOnlyOverTheNameColumnAndSortsAlphabetically)
{
    DBGrid *grid = frmMain->dbgrd1;
    QHeaderView *header = grid->horizontalHeader();
    const QPoint nameTitle(header->sectionViewportPosition(0) + 10, header->height() / 2);
    const QPoint yearTitle(header->sectionViewportPosition(2) + 10, header->height() / 2);
    EXPECT_EQ(rightClick(header->viewport(), nameTitle), frmMain->pm1);
    EXPECT_EQ(rightClick(header->viewport(), yearTitle), nullptr);
    const QRect yearCell = grid->visualRect(grid->model()->index(0, 2));
    EXPECT_EQ(rightClick(grid->viewport(), yearCell.center()), nullptr);
    EXPECT_EQ(rightClick(grid->viewport(), QPoint(20, grid->viewport()->height() - 5)), nullptr)
        << "below the last row";

    // A right click on a name makes that row current before the menu opens.
    const QRect thirdName = grid->visualRect(grid->model()->index(2, 0));
    EXPECT_EQ(rightClick(grid->viewport(), thirdName.center()), frmMain->pm1);
    EXPECT_EQ(DM->tblMain.FieldNamed(QStringLiteral("ФИО")).AsText(),
              QStringLiteral("Абрамов Иван"));

    frmMain->N8->trigger();
    catchUp();
    QStringList names;
    for (int row = 0; row < 4; ++row)
        names << grid->model()->index(row, 0).data().toString();
    EXPECT_EQ(names, (QStringList{QStringLiteral("Абрамов Иван"), QStringLiteral("Ёлкина Анна"),
                                  QStringLiteral("Жуков Пётр"), QStringLiteral("Петров Олег")}));
    EXPECT_EQ(frmMain->dbedt1->text(), DM->tblMain.FieldNamed(QStringLiteral("ФИО")).AsText())
        << "the detail panel follows the current record";

    // The month grid's menu opens anywhere in it, and its command changes nothing.
    EXPECT_EQ(rightClick(frmMain->dbgrd2->viewport(), QPoint(30, 30)), frmMain->pm2);
    QHeaderView *indicator = frmMain->dbgrd2->verticalHeader();
    EXPECT_EQ(rightClick(indicator->viewport(), QPoint(indicator->width() / 2, 10)), frmMain->pm2)
        << "over the indicator column too";
    frmMain->N9->trigger();
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(MainWindowTest, ExitEndsTheEventLoopWithoutAQuestion)
{
    QTimer::singleShot(0, [] { frmMain->N6->trigger(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(7); });
    guard.start(5000);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(dialogs.questions.isEmpty());
}

TEST_F(MainWindowTest, ASmallWindowScrollsAndMovesNothing)
{
    frmMain->showNormal();
    frmMain->resize(600, 400);
    catchUp();
    auto *area = frmMain->findChild<QScrollArea *>(QStringLiteral("clientArea"));
    ASSERT_NE(area, nullptr);
    EXPECT_TRUE(area->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(area->verticalScrollBar()->isVisible());
    EXPECT_EQ(frmMain->dbgrd3->geometry(), QRect(13, 597, 1361, 121));
}

TEST_F(ProgramTest, SortingWithoutADatabaseReportsTheClosedTable)
{
    QDir().remove(QStringLiteral("Base.mdb"));
    startProgram();
    dialogs.errors.clear();
    frmMain->N8->trigger();
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral(
                                  "tblMain: Cannot perform this operation on a closed dataset.")});
}

TEST_F(ProgramTest, ABaseMdbThatCannotBeWrittenIsAnnouncedOnceAndShownReadOnly)
{
    const QString folder = QDir::currentPath();
    exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('Петров Олег', 1980)"));
    exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    QFile::remove(QStringLiteral("Base.mdb-wal"));
    QFile::remove(QStringLiteral("Base.mdb-shm"));
    {
        ReadOnlyView view(folder);
        if (!view.ok())
            GTEST_SKIP() << "no read-only view here: " << view.why().toStdString();
        QDir::setCurrent(view.path());
        startProgram();
        catchUp();
        ASSERT_EQ(dialogs.errors.size(), 1) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(dialogs.errors.first().contains(QStringLiteral("изменения сохранить нельзя")));
        EXPECT_TRUE(dialogs.errors.first().contains(QStringLiteral("Base.mdb")));
        EXPECT_EQ(DM->tblMain.RecordTotal(), 1) << "the data is shown";
        frmMain->dbgrd1->setFocus();
        QTest::keyClick(frmMain->dbgrd1, Qt::Key_Insert);
        catchUp();
        EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Browsing) << "nothing can be added";
        destroyProgram();
        QDir::setCurrent(folder);
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("Base.mdb")})
        << "nothing left beside the file";
}

// Another program holds the file while the person saves: the wait is shown, naming the file, and
// the change is stored once that program lets go.
TEST_F(ProgramTest, AWaitForAnotherProgramOnTheFileIsShownAndTheChangeStoredAfterIt)
{
    exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('Петров Олег', 1980)"));
    startProgram();
    const std::unique_ptr<SqliteConnection> other = connect();
    other->exec(QStringLiteral("BEGIN IMMEDIATE"));
    std::thread lettingGo([&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        other->exec(QStringLiteral("COMMIT"));
    });
    DM->tblMain.StartEdit();
    DM->tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Петрова Ольга"));
    catchUp();
    QTest::mouseClick(frmMain->dbnvgr1->button(DBNavigator::nbPost), Qt::LeftButton);
    lettingGo.join();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(dialogs.waits.size(), 1);
    EXPECT_TRUE(dialogs.waits.first().contains(QStringLiteral("Base.mdb")))
        << dialogs.waits.first().toStdString();
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО FROM Main")), QStringLiteral("Петрова Ольга"));
}

// The new record window and the reference books window, shown modally as the menu shows them.
#include "LookupDriver.h"
#include "ProgramFixture.h"
#include "Processes.h"

#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBLookupComboBox.h"
#include "controls/DBNavigator.h"
#include "controls/TextComboBox.h"
#include "engines/EngineErrors.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

namespace {

void typeInto(QWidget *widget, const QString &text)
{
    widget->setFocus();
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Types as a keyboard does: each key goes to whatever has the focus (a grid's cell editor once
// the first key opened it).
void typeAtFocus(QWidget *start, const QString &text)
{
    start->setFocus();
    for (const QChar c : text) {
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QString(c),
                            Qt::NoModifier);
    }
}

} // namespace

class EntryTest : public ProgramTest
{
protected:
    explicit EntryTest(bool onServer = false) : ProgramTest(true, QString(), onServer)
    {
        startProgram();
    }

    // Chooses a menu command whose window is modal, doing `inside` while the window is shown. The
    // window is closed with its close box afterwards if `inside` left it open.
    void whileShown(QAction *command, QWidget *window, const std::function<void()> &inside)
    {
        bool ran = false;
        QTimer::singleShot(0, [&] {
            catchUp();
            EXPECT_TRUE(window->isVisible());
            EXPECT_EQ(QApplication::activeModalWidget(), window);
            inside();
            ran = true;
            if (window->isVisible())
                window->close();
        });
        command->trigger();
        EXPECT_TRUE(ran);
        EXPECT_FALSE(window->isVisible());
    }
    void click(QPushButton *button) { QTest::mouseClick(button, Qt::LeftButton); }
    // One person as stored, in a statement both engines take.
    QString row(const QString &where)
    {
        return stored(QStringLiteral("SELECT ФИО || '|' || coalesce(Дата_рождения, 'null') || '|' "
                                     "|| coalesce(CAST(Число AS TEXT), 'null') || '|' || "
                                     "coalesce(CAST(Месяц AS TEXT), 'null') || '|' || "
                                     "coalesce(CAST(Год AS TEXT), 'null') || '|' || "
                                     "coalesce(CAST(Возраст AS TEXT), 'null') || '|' || "
                                     "coalesce(Юбилей, 'null') FROM Main WHERE ") +
                      where);
    }
};

// The new-record window and the reference books on the file and on the server alike.
class EntryOnEveryEngine : public EntryTest, public ::testing::WithParamInterface<bool>
{
protected:
    EntryOnEveryEngine() : EntryTest(GetParam()) {}
    void SetUp() override
    {
        if (server())
            REQUIRE_SERVER(*server());
    }
};

INSTANTIATE_TEST_SUITE_P(Engines, EntryOnEveryEngine, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "Server" : "File";
                         });

TEST_P(EntryOnEveryEngine, AFullEntryStoresThePersonWithTheComposedDate)
{
    whileShown(frmMain->N1, frmInsert, [&] {
        EXPECT_TRUE(frmInsert->btn1->hasFocus());
        EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Inserting);
        // Everything from the keyboard, in the window's tab order: two buttons, the name, the
        // day and month boxes, the year list, the date box.
        const auto tabTo = [](QWidget *control) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            catchUp();
            QWidget *focus = QApplication::focusWidget();
            EXPECT_TRUE(focus && (focus == control || control->isAncestorOf(focus)))
                << "Tab went to " << (focus ? focus->objectName().toStdString() : "nothing")
                << " instead of " << control->objectName().toStdString();
        };
        tabTo(frmInsert->btn2);
        tabTo(frmInsert->dbedt1);
        typeAtFocus(frmInsert->dbedt1, QStringLiteral("Новикова Анна Павловна"));
        tabTo(frmInsert->cbb1);
        typeAtFocus(QApplication::focusWidget(), QStringLiteral("05"));
        tabTo(frmInsert->cbb2);
        typeAtFocus(QApplication::focusWidget(), QStringLiteral("03"));
        tabTo(frmInsert->dblkcbb1);
        QTest::keyClick(frmInsert->dblkcbb1, Qt::Key_Down, Qt::AltModifier);
        QAbstractItemView *years = frmInsert->dblkcbb1->view();
        ASSERT_TRUE(years->isVisible()) << "Alt+Down opens the year list";
        QTest::keyClicks(years, QStringLiteral("1980"));
        QTest::keyClick(years, Qt::Key_Return);
        catchUp();
        // Offscreen there is no window manager to hand the activation back when the list closes.
        QApplication::setActiveWindow(frmInsert);
        EXPECT_EQ(frmInsert->focusWidget(), frmInsert->dblkcbb1) << "the list gives the focus back";
        tabTo(frmInsert->edt1);
        tabTo(frmInsert->btn1);
        click(frmInsert->btn1);
        EXPECT_EQ(frmInsert->edt1->text(), QStringLiteral("05.03.1980"));
        click(frmInsert->btn2);
    });
    EXPECT_EQ(dialogs.notices, QStringList{QStringLiteral("ЗАПИСЬ ДОБАВЛЕНА В БАЗУ ДАННЫХ!")});
    EXPECT_EQ(row(QStringLiteral("Код = 1")),
              QStringLiteral("Новикова Анна Павловна|05.03.1980|5|3|1980|null|null"));
    EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Browsing);
    EXPECT_EQ(DM->tblMain.RecordTotal(), 1);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(EntryTest, SavingWithNothingEnteredWritesNothingAndTheBlankGoesAtTheNextMove)
{
    whileShown(frmMain->N1, frmInsert, [&] { click(frmInsert->btn2); });
    EXPECT_TRUE(dialogs.notices.isEmpty());
    EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Inserting);
    DM->tblMain.ToFirst();
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("0"));
}

TEST_F(EntryTest, AnEmptiedDayBoxIsReportedAndTheWindowStaysOpen)
{
    whileShown(frmMain->N1, frmInsert, [&] {
        typeOver(frmInsert->cbb1, QStringLiteral("07"));
        typeOver(frmInsert->cbb1, QString());
        EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("'' is not a valid integer value.")});
        EXPECT_EQ(DM->tblMain.FieldNamed(QStringLiteral("Число")).AsInt(), 7)
            << "the field keeps its value";
        EXPECT_TRUE(frmInsert->isVisible());
    });
}

TEST_F(EntryTest, ARefusedPostKeepsTheRecordPendingAndTheWindowOpen)
{
    exec(QStringLiteral("CREATE TRIGGER noname BEFORE INSERT ON Main WHEN NEW.ФИО IS NULL "
                        "BEGIN SELECT RAISE(ABORT, 'ФИО обязательно'); END"));
    whileShown(frmMain->N1, frmInsert, [&] {
        typeOver(frmInsert->cbb2, QStringLiteral("01"));
        click(frmInsert->btn2);
        EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("ФИО обязательно.")});
        EXPECT_TRUE(frmInsert->isVisible());
        EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Inserting);
        EXPECT_TRUE(DM->tblMain.IsModified());
        typeInto(frmInsert->dbedt1, QStringLiteral("Петров"));
        click(frmInsert->btn2);
        EXPECT_FALSE(frmInsert->isVisible());
    });
    EXPECT_EQ(row(QStringLiteral("1")), QStringLiteral("Петров||null|1|null|null|null"));
}

TEST_F(EntryTest, ClosingWithTheCloseBoxStoresATypedNameAtTheNextMove)
{
    whileShown(frmMain->N1, frmInsert,
               [&] { typeInto(frmInsert->dbedt1, QStringLiteral("Сидоров")); });
    EXPECT_TRUE(dialogs.notices.isEmpty());
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("0"));
    DM->tblMain.ToNext();
    EXPECT_EQ(row(QStringLiteral("1")), QStringLiteral("Сидоров|null|null|null|null|null|null"));
}

TEST_F(EntryTest, ASecondOpeningKeepsTheBoxesButNotTheirValuesInTheRecord)
{
    whileShown(frmMain->N1, frmInsert, [&] {
        typeInto(frmInsert->dbedt1, QStringLiteral("Первый"));
        typeOver(frmInsert->cbb1, QStringLiteral("10"));
        typeOver(frmInsert->cbb2, QStringLiteral("11"));
        click(frmInsert->btn1);
        click(frmInsert->btn2);
    });
    whileShown(frmMain->N1, frmInsert, [&] {
        EXPECT_EQ(frmInsert->cbb1->currentText(), QStringLiteral("10"));
        EXPECT_EQ(frmInsert->edt1->text(), QStringLiteral("10.11."));
        EXPECT_TRUE(DM->tblMain.FieldNamed(QStringLiteral("Число")).IsNull());
        typeInto(frmInsert->dbedt1, QStringLiteral("Второй"));
        click(frmInsert->btn2);
    });
    EXPECT_EQ(row(QStringLiteral("ФИО = 'Второй'")),
              QStringLiteral("Второй|10.11.|null|null|null|null|null"));
}

TEST_P(EntryOnEveryEngine, AYearAddedOrDeletedInTheReferenceBooksIsOfferedOrGoneAtOnce)
{
    whileShown(frmMain->N2, frmSprav, [&] {
        EXPECT_EQ(frmSprav->pgc1->currentWidget(), frmSprav->ts2)
            << "the first opening shows the months";
        frmSprav->pgc1->setCurrentWidget(frmSprav->ts1);
        DM->tblGod.ToLast();
        catchUp();
        frmSprav->dbgrd1->setFocus();
        QTest::keyClick(frmSprav->dbgrd1, Qt::Key_Down); // a new row at the bottom
        for (const QChar c : QStringLiteral("2031"))
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown,
                                QString(c), Qt::NoModifier);
        catchUp();
        QTest::mouseClick(frmSprav->dbnvgr1->button(DBNavigator::nbPost), Qt::LeftButton);
        DM->tblGod.ToFirst();
        dialogs.answer = true;
        QTest::mouseClick(frmSprav->dbnvgr1->button(DBNavigator::nbDelete), Qt::LeftButton); // 1930
    });
    EXPECT_EQ(stored(QStringLiteral("SELECT max(Год) || ' ' || min(Год) FROM God")),
              QStringLiteral("2031 1931"));
    catchUp();
    whileShown(frmMain->N1, frmInsert, [&] {
        const QStringList years = droppedEntries(frmInsert->dblkcbb1);
        EXPECT_EQ(years.last(), QStringLiteral("2031"));
        EXPECT_EQ(years.first(), QStringLiteral("1931"));
    });

    whileShown(frmMain->N2, frmSprav, [&] {
        EXPECT_EQ(frmSprav->pgc1->currentWidget(), frmSprav->ts1)
            << "reopens on the page it was closed on";
    });
}

TEST_F(EntryTest, TheYearPageWorksWhileTheRegisterStandsOnAPersonWhoseYearIsListed)
{
    exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('Иванов Иван', 1961)"));
    DM->tblMain.Reread();
    catchUp();
    ASSERT_EQ(frmInsert->dblkcbb1->Text(), QStringLiteral("1961"));
    RecordSet &years = DM->tblGod;
    const auto year = [&] { return years.FieldNamed(QStringLiteral("Год")).AsInt(); };
    whileShown(frmMain->N2, frmSprav, [&] {
        QTabBar *tabs = frmSprav->pgc1->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(0).center());
        catchUp();
        ASSERT_EQ(frmSprav->pgc1->currentWidget(), frmSprav->ts1);
        DBGrid *grid = frmSprav->dbgrd1;
        const int total = years.RecordTotal();

        QTest::mouseClick(frmSprav->dbnvgr1->button(DBNavigator::nbInsert), Qt::LeftButton);
        catchUp();
        EXPECT_EQ(years.state(), RecordSet::State::Inserting) << "\"+\" gives a new row";
        EXPECT_EQ(years.rowCount(), total + 1);
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Escape);
        catchUp();
        EXPECT_EQ(years.state(), RecordSet::State::Browsing);

        QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
        catchUp();
        EXPECT_EQ(year(), 2026) << "Ctrl+End stays on the last year";
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        catchUp();
        EXPECT_EQ(year(), 1930) << "Ctrl+Home stays on the first year";

        QTest::keyClick(grid, Qt::Key_Insert);
        catchUp();
        EXPECT_EQ(years.state(), RecordSet::State::Inserting) << "Insert gives a new row";
        typeAtFocus(grid, QStringLiteral("1929"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down); // posts it
        catchUp();
        EXPECT_EQ(year(), 1930);

        // Rows 0 to 3 now hold 1929 to 1932: click 1932 and start typing over it.
        const QRect cell = grid->visualRect(grid->model()->index(3, 0));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
        catchUp();
        EXPECT_EQ(year(), 1932);
        typeAtFocus(grid, QStringLiteral("7"));
        catchUp();
        EXPECT_EQ(years.state(), RecordSet::State::Editing);
        EXPECT_EQ(years.currentRow(), 3) << "no jump back";
        EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM God WHERE Год = 7")),
                  QStringLiteral("0"))
            << "typed text is written only when the record is settled";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTest::keyClick(grid, Qt::Key_Escape);
        catchUp();
        dialogs.answer = true;
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        catchUp();
    });
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(Год) FROM God WHERE Год IN "
                                    "(7, 1929, 1932, 1961)")),
              QStringLiteral("1961,1929"));
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(EntryTest, EveryPartOfTheReferenceBooksIsReachedFromTheKeyboard)
{
    whileShown(frmMain->N2, frmSprav, [&] {
        QTabBar *tabs = frmSprav->pgc1->tabBar();
        const auto press = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            catchUp();
        };
        tabs->setFocus();
        catchUp();
        press(Qt::Key_Left);
        EXPECT_EQ(frmSprav->pgc1->currentWidget(), frmSprav->ts1) << "the arrows turn the pages";
        press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), frmSprav->dbgrd1);
        press(Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_EQ(QApplication::focusWidget(), frmSprav->dbnvgr1) << "Ctrl+Tab leaves the grid";
        press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), tabs);
        press(Qt::Key_Tab, Qt::ControlModifier);
        EXPECT_EQ(frmSprav->pgc1->currentWidget(), frmSprav->ts2)
            << "Ctrl+Tab on the page tabs still turns the page";
        press(Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), frmSprav->dbgrd2);
        press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), tabs) << "Ctrl+Shift+Tab goes back";
    });
}

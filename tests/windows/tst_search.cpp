// The birthday search by month and the jubilee list, through the main window's own controls.
#include "ProgramFixture.h"
#include "Processes.h"

#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "controls/TextComboBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

// The names a result grid shows, top to bottom.
QStringList namesIn(DBGrid *grid)
{
    catchUp();
    QStringList names;
    int nameColumn = -1;
    for (int c = 0; c < grid->columnCount(); ++c) {
        if (grid->columnTitle(c) == QStringLiteral("ФИО"))
            nameColumn = c;
    }
    for (int row = 0; row < grid->model()->rowCount(); ++row)
        names << grid->model()->index(row, nameColumn).data().toString();
    return names;
}

} // namespace

class SearchTest : public ProgramTest
{
protected:
    SearchTest()
    {
        // One person per month, named after it, and a second one in March.
        auto db = connect();
        SqliteStatement insert = db->prepare(
            QStringLiteral("INSERT INTO Main (ФИО, Месяц, Число, Год) VALUES (?, ?, 1, 1980)"));
        for (int month = 1; month <= 12; ++month) {
            insert.bind(1, QStringLiteral("m%1").arg(month));
            insert.bindInt64(2, month);
            insert.run();
        }
        exec(QStringLiteral("INSERT INTO Main (ФИО, Месяц, Год) VALUES ('m3b', 3, 1990)"));
        startProgram();
        catchUp();
    }
    // The month by the arrow keys: Down makes an entry current, Up goes to the first, then Down.
    void pick(int month)
    {
        frmMain->cbb1->setFocus();
        QTest::keyClick(frmMain->cbb1->lineEdit(), Qt::Key_Down);
        for (int i = 0; i < 12; ++i)
            QTest::keyClick(frmMain->cbb1->lineEdit(), Qt::Key_Up);
        for (int i = 1; i < month; ++i)
            QTest::keyClick(frmMain->cbb1->lineEdit(), Qt::Key_Down);
    }
    void find() { QTest::mouseClick(frmMain->btn8, Qt::LeftButton); }
    void type(const QString &letters)
    {
        frmMain->cbb1->setFocus();
        for (const QChar c : letters)
            QTest::sendKeyEvent(QTest::Click, frmMain->cbb1, Qt::Key_unknown, QString(c),
                                Qt::NoModifier);
    }
};

TEST_F(SearchTest, EachMonthFindsExactlyItsPeople)
{
    for (int month = 1; month <= 12; ++month) {
        pick(month);
        find();
        QStringList expected{QStringLiteral("m%1").arg(month)};
        if (month == 3)
            expected << QStringLiteral("m3b");
        EXPECT_EQ(namesIn(frmMain->dbgrd2), expected) << "month " << month;
    }
    EXPECT_EQ(DM->qryZapros1.SQL().text(),
              QStringLiteral("select *\r\nfrom Main\r\nwhere Месяц like  '12' \r\n"));
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(SearchTest, TheKeyColumnIsHiddenButStaysAtPositionZero)
{
    pick(3);
    find();
    catchUp();
    DBGrid *grid = frmMain->dbgrd2;
    ASSERT_EQ(grid->columnCount(), 7);
    EXPECT_EQ(grid->columnTitle(0), QStringLiteral("ФИО"));
    EXPECT_EQ(grid->columnTitle(6), QStringLiteral("Юбилей"));
    EXPECT_EQ(DM->qryZapros1.FieldAt(0).FieldName(), QStringLiteral("Код"));
    EXPECT_EQ(DM->qryZapros1.FieldAt(1).FieldName(), QStringLiteral("ФИО"));
    EXPECT_EQ(DM->qryZapros1.FieldAt(6).FieldName(), QStringLiteral("Возраст"));
    EXPECT_FALSE(frmMain->dbnvgr2->button(DBNavigator::nbFirst)->isEnabled()) << "just opened";
    EXPECT_TRUE(frmMain->dbnvgr2->button(DBNavigator::nbNext)->isEnabled());
}

TEST_F(SearchTest, AMonthWithNobodyShowsTitlesAndNoRows)
{
    exec(QStringLiteral("DELETE FROM Main WHERE Месяц = 5"));
    pick(5);
    find();
    catchUp();
    EXPECT_EQ(frmMain->dbgrd2->columnCount(), 7);
    EXPECT_EQ(frmMain->dbgrd2->model()->rowCount(), 0);
    EXPECT_FALSE(frmMain->dbnvgr2->button(DBNavigator::nbNext)->isEnabled());
    EXPECT_FALSE(frmMain->dbnvgr2->button(DBNavigator::nbDelete)->isEnabled());
}

TEST_F(SearchTest, TypingCompletesInListOrderAndOnlyAChangedEntryReachesTheSearch)
{
    type(QStringLiteral("и"));
    EXPECT_EQ(frmMain->cbb1->currentText(), QStringLiteral("июнь"));
    EXPECT_EQ(frmMain->edt2->text(), QStringLiteral("июнь"));
    type(QStringLiteral("ю"));
    EXPECT_EQ(frmMain->edt2->text(), QStringLiteral("июнь"));
    type(QStringLiteral("л"));
    EXPECT_EQ(frmMain->cbb1->currentText(), QStringLiteral("июль"));
    EXPECT_EQ(frmMain->edt2->text(), QStringLiteral("июль"));
    find();
    EXPECT_EQ(namesIn(frmMain->dbgrd2), QStringList{QStringLiteral("m7")});

    // A capital is kept as typed, matches no month, and the previous month is searched again.
    frmMain->cbb1->lineEdit()->clear();
    type(QStringLiteral("Ма"));
    EXPECT_EQ(frmMain->cbb1->currentText(), QStringLiteral("Март"));
    type(QStringLiteral("й"));
    EXPECT_EQ(frmMain->edt2->text(), QStringLiteral("Май"));
    find();
    EXPECT_EQ(frmMain->edt3->text(), QStringLiteral("7"));
    EXPECT_EQ(namesIn(frmMain->dbgrd2), QStringList{QStringLiteral("m7")});
}

TEST_F(SearchTest, AnEditInsideTheCompletedTextNeverChangesTheSelection)
{
    type(QStringLiteral("июл"));
    ASSERT_EQ(frmMain->edt2->text(), QStringLiteral("июль"));
    // "июль" becomes "июнь" by hand: the л before the last letter is replaced by н.
    QLineEdit *text = frmMain->cbb1->lineEdit();
    QTest::keyClick(text, Qt::Key_End);
    QTest::keyClick(text, Qt::Key_Left);
    QTest::keyClick(text, Qt::Key_Backspace);
    QTest::sendKeyEvent(QTest::Click, text, Qt::Key_unknown, QStringLiteral("н"), Qt::NoModifier);
    ASSERT_EQ(frmMain->cbb1->currentText(), QStringLiteral("июнь"));
    QTest::keyClick(text, Qt::Key_Return);
    find(); // the click takes the focus from the box
    catchUp();
    EXPECT_EQ(frmMain->edt2->text(), QStringLiteral("июль"));
    EXPECT_EQ(frmMain->edt3->text(), QStringLiteral("7"));
    EXPECT_EQ(namesIn(frmMain->dbgrd2), QStringList{QStringLiteral("m7")});
}

TEST_F(SearchTest, BeforeAnyMonthTheSearchFindsNothingAndResetThenFindRepeats)
{
    find();
    catchUp();
    EXPECT_EQ(frmMain->dbgrd2->columnCount(), 7);
    EXPECT_EQ(frmMain->dbgrd2->model()->rowCount(), 0);

    pick(11);
    find();
    QTest::mouseClick(frmMain->btn2, Qt::LeftButton);
    catchUp();
    EXPECT_FALSE(DM->qryZapros1.Active());
    EXPECT_EQ(frmMain->dbgrd2->columnCount(), 0);
    EXPECT_FALSE(frmMain->dbnvgr2->button(DBNavigator::nbRefresh)->isEnabled());
    EXPECT_EQ(frmMain->cbb1->currentText(), QStringLiteral("ноябрь"));
    find();
    EXPECT_EQ(namesIn(frmMain->dbgrd2), QStringList{QStringLiteral("m11")});
}

TEST_F(SearchTest, AnEditInTheMonthGridReachesMainAndItsGrid)
{
    pick(3);
    find();
    catchUp();
    DBGrid *grid = frmMain->dbgrd2;
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Home);
    for (const QChar c : QStringLiteral("Иванов"))
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QString(c),
                            Qt::NoModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    catchUp();
    EXPECT_EQ(stored(QStringLiteral("SELECT Месяц FROM Main WHERE ФИО = 'Иванов'")),
              QStringLiteral("3"));
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = 'm3'")),
              QStringLiteral("0"));

    // The program is one computer: the main grid shows the change at once, and changing the
    // person again there is not taken for a change by another computer.
    EXPECT_EQ(namesIn(frmMain->dbgrd1).value(2), QStringLiteral("Иванов"));
    frmMain->dbgrd1->setFocus();
    for (Qt::Key key : {Qt::Key_PageUp, Qt::Key_Down, Qt::Key_Down, Qt::Key_Home})
        QTest::keyClick(frmMain->dbgrd1, key);
    for (const QChar c : QStringLiteral("Петров"))
        QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QString(c),
                            Qt::NoModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    catchUp();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(u'\n').toStdString();
    EXPECT_EQ(stored(QStringLiteral("SELECT Месяц FROM Main WHERE ФИО = 'Петров'")),
              QStringLiteral("3"));
    // A person deleted in the month list leaves the main grid at once.
    ASSERT_EQ(namesIn(frmMain->dbgrd2).value(frmMain->dbgrd2->currentCell().row()),
              QStringLiteral("m3b"));
    QTest::mouseClick(frmMain->dbnvgr2->button(DBNavigator::nbDelete), Qt::LeftButton);
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = 'm3b'")),
              QStringLiteral("0"));
    EXPECT_FALSE(namesIn(frmMain->dbgrd1).contains(QStringLiteral("m3b")));
}

TEST_F(SearchTest, ARefusedStatementIsShownAndTheListStaysClosed)
{
    exec(QStringLiteral("ALTER TABLE Main RENAME TO Main2"));
    pick(2);
    find();
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("no such table: Main.")});
    EXPECT_FALSE(DM->qryZapros1.Active());
    EXPECT_EQ(frmMain->edt3->text(), QStringLiteral("2"));
}

class JubileeTest : public ProgramTest
{
protected:
    JubileeTest()
    {
        exec(QStringLiteral(
            "INSERT INTO Main (ФИО, Год) VALUES ('born1975', 1975), ('born1976', 1976), "
            "('born2025', 2025), ('noYear', NULL)"));
        startProgram();
    }
    void calculate(const QString &year)
    {
        frmMain->cbb2->setEditText(year);
        QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    }
    void list() { QTest::mouseClick(frmMain->btn3, Qt::LeftButton); }
};

TEST_F(JubileeTest, TheListHoldsThoseMarkedByTheLastCalculation)
{
    list();
    EXPECT_TRUE(namesIn(frmMain->dbgrd3).isEmpty()) << "no calculation has run";
    EXPECT_EQ(frmMain->dbgrd3->columnCount(), 7);

    calculate(QStringLiteral("2025"));
    list();
    EXPECT_EQ(namesIn(frmMain->dbgrd3),
              (QStringList{QStringLiteral("born1975"), QStringLiteral("born2025"),
                           QStringLiteral("noYear")}));
    EXPECT_EQ(DM->qryZapros2.SQL().text(),
              QStringLiteral("select *\r\nfrom Main\r\nwhere Юбилей like  'да' \r\n"));
    EXPECT_EQ(DM->qryZapros2.FieldAt(0).FieldName(), QStringLiteral("Код"));
    EXPECT_FALSE(DM->qryZapros2.FieldAt(0).Visible());

    // Someone another program enters is not among the records held, so even a calculation for a
    // year that makes a jubilee of them (55 in 2026) leaves them unmarked.
    exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('born1971', 1971)"));
    // Another year changes the marks, but an open list shows them only when asked again.
    calculate(QStringLiteral("2026"));
    EXPECT_EQ(namesIn(frmMain->dbgrd3).size(), 3);
    list();
    EXPECT_EQ(namesIn(frmMain->dbgrd3), QStringList{QStringLiteral("born1976")});

    QTest::mouseClick(frmMain->btn7, Qt::LeftButton);
    catchUp();
    EXPECT_FALSE(DM->qryZapros2.Active());
    EXPECT_EQ(frmMain->dbgrd3->columnCount(), 0);
    list();
    EXPECT_EQ(namesIn(frmMain->dbgrd3), QStringList{QStringLiteral("born1976")});
}

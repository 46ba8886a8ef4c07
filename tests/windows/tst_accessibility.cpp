// What screen readers and desktop automation see of the windows: roles, names, values, the grids
// as tables, the navigator buttons.
#include "ProgramFixture.h"
#include "Processes.h"

#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBLookupComboBox.h"
#include "controls/DBNavigator.h"
#include "controls/TextComboBox.h"

#include <QAccessible>
#include <QAccessibleTableCellInterface>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

namespace {

QAccessibleInterface *accessible(QObject *object)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(object);
    EXPECT_NE(iface, nullptr);
    return iface;
}

QString name(QObject *object)
{
    return accessible(object)->text(QAccessible::Name);
}

} // namespace

class AccessibilityTest : public ProgramTest
{
protected:
    AccessibilityTest()
    {
        exec(QStringLiteral(
            "INSERT INTO Main (ФИО, Дата_рождения, Год, Месяц) VALUES "
            "('Иванов Сергей', '12.03.1975', 1975, 3), ('Петрова Анна', '01.05.2000', 2000, 5)"));
        startProgram();
        catchUp();
    }
};

TEST_F(AccessibilityTest, TheMainGridIsATableWithTitlesCellsAndTheCurrentRowSelected)
{
    QAccessibleInterface *grid = accessible(frmMain->dbgrd1);
    EXPECT_EQ(grid->role(), QAccessible::Table);
    EXPECT_EQ(grid->text(QAccessible::Name), QStringLiteral("Реестр"));
    QAccessibleTableInterface *table = grid->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->columnCount(), 7);
    EXPECT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->columnDescription(1), QStringLiteral("Дата рождения"));

    QAccessibleInterface *cell = table->cellAt(1, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), QStringLiteral("Петрова Анна"));
    QAccessibleTableCellInterface *tableCell = cell->tableCellInterface();
    ASSERT_NE(tableCell, nullptr);
    // Qt hands the header cells over to the caller unregistered; registering them is the public
    // way to have them deleted.
    const QList<QAccessibleInterface *> headers = tableCell->columnHeaderCells();
    ASSERT_EQ(headers.size(), 1);
    EXPECT_EQ(headers.first()->text(QAccessible::Name), QStringLiteral("ФИО"));
    for (QAccessibleInterface *header : headers)
        QAccessible::deleteAccessibleInterface(QAccessible::registerAccessibleInterface(header));

    EXPECT_TRUE(table->cellAt(0, 0)->state().selected) << "the current record";
    EXPECT_TRUE(table->isRowSelected(0)) << "screen readers hear which record is current";
    EXPECT_FALSE(table->isRowSelected(1));
    EXPECT_EQ(table->selectedRowCount(), 1);
    DM->tblMain.ToNext();
    catchUp();
    EXPECT_TRUE(table->cellAt(1, 0)->state().selected);
    EXPECT_FALSE(table->cellAt(0, 0)->state().selected);
    EXPECT_TRUE(table->isRowSelected(1));
    EXPECT_EQ(table->selectedRows(), QList<int>{1});
    EXPECT_EQ(frmMain->dbgrd1->model()
                  ->headerData(1, Qt::Vertical, Qt::AccessibleDescriptionRole)
                  .toString(),
              QStringLiteral("Browsing"));

    DM->tblMain.StartInsert();
    catchUp();
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->cellAt(1, 0)->text(QAccessible::Name), QString())
        << "a blank record's cells are empty";
    EXPECT_EQ(frmMain->dbgrd1->model()
                  ->headerData(1, Qt::Vertical, Qt::AccessibleDescriptionRole)
                  .toString(),
              QStringLiteral("Inserting"));
}

TEST_F(AccessibilityTest, TheMonthGridHasTheResultColumnsAfterASearch)
{
    frmMain->edt2->setText(QStringLiteral("март"));
    QTest::mouseClick(frmMain->btn8, Qt::LeftButton);
    catchUp();
    QAccessibleTableInterface *table = accessible(frmMain->dbgrd2)->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->columnCount(), 7) << "the key column is not shown";
    EXPECT_EQ(table->columnDescription(0), QStringLiteral("ФИО"));
    EXPECT_EQ(table->columnDescription(5), QStringLiteral("Возраст"));
    ASSERT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->cellAt(0, 0)->text(QAccessible::Name), QStringLiteral("Иванов Сергей"));
    EXPECT_EQ(table->cellAt(0, 2)->text(QAccessible::Name), QStringLiteral("1975"));
}

TEST_F(AccessibilityTest, NavigatorButtonsAreNamedPushButtonsWithTheirEnabledState)
{
    for (int i = 0; i < DBNavigator::buttonCount; ++i) {
        QAccessibleInterface *button = accessible(frmMain->dbnvgr1->button(DBNavigator::Button(i)));
        EXPECT_EQ(button->role(), QAccessible::Button);
        EXPECT_EQ(button->text(QAccessible::Name), DBNavigator::hint(DBNavigator::Button(i)));
        ASSERT_NE(button->actionInterface(), nullptr);
        // An enabled button can be pressed; a disabled one says so.
        EXPECT_EQ(button->actionInterface()->actionNames().contains(
                      QAccessibleActionInterface::pressAction()),
                  !button->state().disabled)
            << DBNavigator::hint(DBNavigator::Button(i)).toStdString();
    }
    QAccessibleInterface *next = accessible(frmMain->dbnvgr1->button(DBNavigator::nbNext));
    QAccessibleInterface *first = accessible(frmMain->dbnvgr1->button(DBNavigator::nbFirst));
    EXPECT_TRUE(first->state().disabled);
    EXPECT_FALSE(next->state().disabled);
    next->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    catchUp();
    EXPECT_EQ(DM->tblMain.FieldNamed(QStringLiteral("ФИО")).AsText(),
              QStringLiteral("Петрова Анна"));
    EXPECT_FALSE(first->state().disabled);
    DM->tblMain.ToNext();
    catchUp();
    EXPECT_TRUE(next->state().disabled) << "past the last record";
}

TEST_F(AccessibilityTest, EditBoxesAreNamedByTheirLabelsAndReadOnlyUnlessEditing)
{
    QAccessibleInterface *box = accessible(frmMain->dbedt1);
    EXPECT_EQ(box->role(), QAccessible::EditableText);
    EXPECT_EQ(box->text(QAccessible::Name), QStringLiteral("Ф.И.О"));
    EXPECT_EQ(box->text(QAccessible::Value), QStringLiteral("Иванов Сергей"));
    EXPECT_TRUE(box->state().disabled);
    EXPECT_EQ(name(frmMain->dbedt6), QStringLiteral("ВОЗРАСТ"));

    QAccessibleInterface *entry = accessible(frmInsert->dbedt1);
    EXPECT_EQ(entry->text(QAccessible::Name), QStringLiteral("ФИО"));
    EXPECT_TRUE(entry->state().readOnly) << "browsing: nothing to type into yet";
    DM->tblMain.StartInsert();
    catchUp();
    EXPECT_FALSE(entry->state().readOnly);

    EXPECT_EQ(name(frmMain->cbb2), QStringLiteral("ВЫБЕРИТЕ ГОД"));
    EXPECT_EQ(accessible(frmMain->cbb1)->role(), QAccessible::ComboBox);
}

TEST_F(AccessibilityTest, TheYearListIsAComboBoxWhoseValueIsTheShownYear)
{
    DM->tblMain.StartEdit();
    DM->tblMain.FieldNamed(QStringLiteral("Год")).setAsInt(1980);
    catchUp();
    QAccessibleInterface *lookup = accessible(frmInsert->dblkcbb1);
    EXPECT_EQ(lookup->role(), QAccessible::ComboBox);
    // Its name comes from the label that stands for it, as screen readers on this desktop expect.
    const auto labels = lookup->relations(QAccessible::Label);
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.first().first->text(QAccessible::Name), QStringLiteral("ГОД"));
    EXPECT_EQ(lookup->text(QAccessible::Value), QStringLiteral("1980"));
    EXPECT_EQ(frmInsert->dblkcbb1->count(), 2026 - 1930 + 1);

    QAccessibleInterface *pages = accessible(frmSprav->pgc1);
    ASSERT_NE(pages, nullptr);
    QStringList tabs;
    for (int i = 0; i < pages->childCount(); ++i) {
        QAccessibleInterface *child = pages->child(i);
        if (child->role() == QAccessible::PageTabList) {
            for (int t = 0; t < child->childCount(); ++t) {
                if (child->child(t)->role() == QAccessible::PageTab)
                    tabs << child->child(t)->text(QAccessible::Name);
            }
        }
    }
    EXPECT_EQ(tabs, (QStringList{QStringLiteral("ГОД"), QStringLiteral("МЕСЯЦ"),
                                 QStringLiteral("ЧИСЛО")}));
}

// Only the grid that has the keyboard focus has a focused cell: a move of the year list that the
// main register's lookup makes leaves the hidden window's grid without one. (Qt announces a focused
// cell only for the view's current index, which a grid without the focus no longer has.)
TEST_F(AccessibilityTest, OnlyTheGridWithTheKeyboardFocusReportsAFocusedCell)
{
    const auto focusedCells = [](QWidget *grid) {
        QAccessibleTableInterface *table = accessible(grid)->tableInterface();
        QStringList cells;
        for (int row = 0; row < table->rowCount(); ++row) {
            for (int column = 0; column < table->columnCount(); ++column) {
                if (table->cellAt(row, column)->state().focused)
                    cells << QStringLiteral("%1,%2").arg(row).arg(column);
            }
        }
        return cells;
    };

    DBGrid *grid = frmMain->dbgrd1;
    grid->setFocus();
    catchUp();
    // Петрова's year: the year list moves to 2000 behind the hidden reference books window.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                      grid->visualRect(grid->model()->index(1, 2)).center());
    catchUp();
    ASSERT_FALSE(frmSprav->isVisible());
    EXPECT_EQ(DM->tblGod.FieldNamed(QStringLiteral("Год")).AsInt(), 2000);
    EXPECT_EQ(focusedCells(grid), QStringList{QStringLiteral("1,2")});
    EXPECT_EQ(focusedCells(frmSprav->dbgrd1), QStringList());

    frmMain->cbb2->setFocus();
    catchUp();
    EXPECT_EQ(focusedCells(grid), QStringList()) << "the focus is elsewhere";
    grid->setFocus();
    catchUp();
    EXPECT_EQ(focusedCells(grid), QStringList{QStringLiteral("1,2")}) << "and back";
}

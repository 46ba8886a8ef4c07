// What another computer commits shows in the program by itself, on the file and on the server:
// people changed, added and deleted in the grid, a year in НОВАЯ ЗАПИСЬ's list and the year of the
// ages in the title, without a press, the current record kept and typing untouched; the conflict
// window then names the computer of the other change.
#include "LookupDriver.h"
#include "ProgramFixture.h"
#include "Processes.h"

#include "controls/DBGrid.h"
#include "controls/DBLookupComboBox.h"
#include "controls/TextComboBox.h"
#include "engines/Engine.h"
#include "recordset/Connection.h"
#include "service/AgeCalculation.h"

#include <QPushButton>
#include <QTest>

namespace {

class LiveRegister : public ProgramTest, public ::testing::WithParamInterface<bool>
{
protected:
    LiveRegister() : ProgramTest(true, QString(), GetParam())
    {
        if (server() && !server()->ok())
            return;
        exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('Андреев', 1960), "
                            "('Борисов', 1970), ('Васильев', 1980)"));
        showOthersChangesLive();
        startProgram();
    }
    // The names in the main grid, as it shows them.
    static QString grid()
    {
        DBGrid *grid = frmMain->dbgrd1;
        int name = 0;
        while (name < grid->columnCount() && grid->columnTitle(name) != QStringLiteral("ФИО"))
            ++name;
        QStringList names;
        for (int row = 0; row < grid->model()->rowCount(); ++row)
            names << grid->model()->index(row, name).data().toString();
        return names.join(u' ');
    }
    // Runs the program's event loop until `shown` holds, five seconds at most.
    template <typename Shown> static bool within(Shown shown)
    {
        return QTest::qWaitFor(shown, 5000);
    }
};

} // namespace

TEST_P(LiveRegister, AnotherComputersWorkShowsByItselfAndLeavesTheClerksTypingAlone)
{
    if (server())
        REQUIRE_SERVER(*server());
    // Борисов is current, his name being typed over in the grid, not yet saved.
    QApplication::setActiveWindow(frmMain);
    frmMain->dbgrd1->setFocus();
    for (Qt::Key key : {Qt::Key_PageUp, Qt::Key_Home, Qt::Key_Down})
        QTest::keyClick(frmMain->dbgrd1, key);
    for (const QChar c : QStringLiteral("Борисов-Иванов"))
        typeText(QApplication::focusWidget(), c); // the first letter opens the cell's editor
    const auto typed = [] {
        auto *cell = qobject_cast<QLineEdit *>(QApplication::focusWidget());
        return cell ? cell->text() : QStringLiteral("<no cell being typed into>");
    };

    // The year first: what is told later is heard after it, so the grid waits for both.
    exec(QStringLiteral("INSERT INTO God (Год) VALUES (2031)"));
    exec(QStringLiteral("UPDATE Main SET ФИО = 'Андреева' WHERE ФИО = 'Андреев'"));
    exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('Гусев', 1990)"));
    exec(QStringLiteral("DELETE FROM Main WHERE ФИО = 'Васильев'"));
    EXPECT_TRUE(within([] { return grid() == QStringLiteral("Андреева Борисов Гусев"); }))
        << grid().toStdString();
    EXPECT_EQ(DM->tblMain.currentKey(), 2);
    EXPECT_EQ(typed(), QStringLiteral("Борисов-Иванов"));
    frmInsert->show();
    EXPECT_TRUE(droppedEntries(frmInsert->dblkcbb1).contains(QStringLiteral("2031")));
    frmInsert->hide();

    // The other computer, a program of its own, calculates for another year and renames Борисов.
    Connection other(server() ? QString() : QStringLiteral("Base.mdb"),
                     server() ? server()->conninfo() : QString());
    RecordSet people(QStringLiteral("tblMain"), other, RecordSet::Kind::Table);
    RecordSet ages(QStringLiteral("tblRaschet"), other, RecordSet::Kind::Table);
    people.setTableName(QStringLiteral("Main"));
    ages.setTableName(QStringLiteral("Raschet"));
    people.setActive(true);
    ages.setActive(true);
    people.StartEdit();
    AgeCalculation::walk(people, 2030, &ages);
    ASSERT_TRUE(people.ToKey(2));
    people.StartEdit();
    people.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Борисова"));
    people.PostRecord();
    EXPECT_TRUE(within([] { return frmMain->windowTitle().contains(QStringLiteral("2030")); }))
        << frmMain->windowTitle().toStdString();
    // ЮБИЛЯРЫ with this year in the box says which year the list is of.
    typeOver(frmMain->cbb2, QStringLiteral("2026"));
    QTest::mouseClick(frmMain->btn3, Qt::LeftButton);
    ASSERT_EQ(dialogs.notices.size(), 1);
    EXPECT_TRUE(dialogs.notices[0].contains(QStringLiteral("2030")) &&
                dialogs.notices[0].contains(QStringLiteral("2026")))
        << dialogs.notices[0].toStdString();

    // Saving the typing meets the other's name: the window says where it was made.
    dialogs.choices = {ConflictChoice::SaveMine};
    frmMain->dbgrd1->setFocus();
    QTest::keyClick(frmMain->dbgrd1, Qt::Key_Down);
    ASSERT_EQ(dialogs.conflicts.size(), 1u);
    EXPECT_TRUE(dialogs.conflicts[0].changedBy.contains(thisComputer()))
        << dialogs.conflicts[0].changedBy.toStdString();
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО || '/' || Возраст FROM Main WHERE Код = 2")),
              QStringLiteral("Борисов-Иванов/60"));
}

INSTANTIATE_TEST_SUITE_P(FileAndServer, LiveRegister, ::testing::Values(false, true));

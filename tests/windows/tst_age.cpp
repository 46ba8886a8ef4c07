// "СФОРМИРОВАТЬ СПИСОК" driven as the user does it: a year picked or typed in cbb2, btn4 clicked.
#include "Fixtures.h"
#include "LookupDriver.h"
#include "ProgramFixture.h"

#include "register/DatabaseTool.h"
#include "Filesystems.h"
#include "register/JetImport.h"
#include "Processes.h"

#include "controls/DBEdit.h"
#include "engines/sqlite/SqliteConnection.h"
#include "controls/DBGrid.h"
#include "controls/DBNavigator.h"
#include "controls/TextComboBox.h"

#include <QApplication>
#include <QGuiApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

void addPerson(SqliteConnection &db, const QString &name, std::optional<int> year)
{
    SqliteStatement insert =
        db.prepare(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES (?, ?)"));
    insert.bind(1, name);
    insert.bind(2, year ? SqlValue(qint64(*year)) : SqlValue());
    insert.run();
}

} // namespace

class AgeTest : public ProgramTest
{
protected:
    void typeYear(const QString &text) { typeOver(frmMain->cbb2, text); }
    void run() { QTest::mouseClick(frmMain->btn4, Qt::LeftButton); }
    QString ageOf(const QString &name)
    {
        return stored(
            QStringLiteral("SELECT ifnull(Возраст, 'null') || ' ' || ifnull(Юбилей, 'null') "
                           "FROM Main WHERE ФИО = '%1'")
                .arg(name));
    }
    // What the window shows once it has caught up: the detail panel's name, age and mark, and
    // the grid's current row with its age cell.
    QString shown()
    {
        catchUp();
        const QModelIndex current = frmMain->dbgrd1->currentCell();
        const QString gridAge = frmMain->dbgrd1->model()->index(current.row(), 5).data().toString();
        return QStringList{frmMain->dbedt1->text(), frmMain->dbedt6->text(),
                           frmMain->dbedt7->text(), QString::number(current.row()), gridAge}
            .join(QLatin1Char(' '));
    }
    // The navigator's first button, clicked: the window must still follow the register.
    void clickFirst()
    {
        QTest::mouseClick(frmMain->dbnvgr1->button(DBNavigator::nbFirst), Qt::LeftButton);
    }
};

TEST_F(AgeTest, EveryPersonGetsTheAgeInTheChosenYearAndAMarkForMultiplesOfFive)
{
    {
        auto db = connect();
        for (const auto &[name, year] :
             std::initializer_list<std::pair<const char *, std::optional<int>>>{
                 {"born2022", 2022},
                 {"born2025", 2025},
                 {"born2027", 2027},
                 {"noYear", std::nullopt},
                 {"age5", 2017},
                 {"age10", 2012},
                 {"age60", 1962},
                 {"age1", 2021},
                 {"age4", 2018},
                 {"age61", 1961}}) {
            addPerson(*db, QString::fromUtf8(name), year);
        }
    }
    startProgram();
    typeOver(frmMain->cbb2, QStringLiteral("2022"));
    run();
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();

    EXPECT_EQ(ageOf(QStringLiteral("born2022")), QStringLiteral("0 да"));
    EXPECT_EQ(ageOf(QStringLiteral("born2025")), QStringLiteral("-3 нет"));
    EXPECT_EQ(ageOf(QStringLiteral("born2027")), QStringLiteral("-5 да"));
    EXPECT_EQ(ageOf(QStringLiteral("noYear")), QStringLiteral("2022 нет"))
        << "an empty year counts as 0";
    EXPECT_EQ(ageOf(QStringLiteral("age5")), QStringLiteral("5 да"));
    EXPECT_EQ(ageOf(QStringLiteral("age10")), QStringLiteral("10 да"));
    EXPECT_EQ(ageOf(QStringLiteral("age60")), QStringLiteral("60 да"));
    EXPECT_EQ(ageOf(QStringLiteral("age1")), QStringLiteral("1 нет"));
    EXPECT_EQ(ageOf(QStringLiteral("age4")), QStringLiteral("4 нет"));
    EXPECT_EQ(ageOf(QStringLiteral("age61")), QStringLiteral("61 нет"));

    // The walk ends browsing on the last record, every record posted.
    EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Browsing);
    EXPECT_TRUE(DM->tblMain.AtEnd());
    EXPECT_EQ(DM->tblMain.FieldNamed(QStringLiteral("ФИО")).AsText(), QStringLiteral("age61"));
    EXPECT_EQ(shown(), QStringLiteral("age61 61 нет 9 61")) << "the window followed to the end";
    clickFirst();
    EXPECT_EQ(shown(), QStringLiteral("born2022 0 да 0 0")) << "and follows the next move";

    typeYear(QStringLiteral("2025"));
    run();
    EXPECT_EQ(ageOf(QStringLiteral("noYear")), QStringLiteral("2025 да"));
    EXPECT_EQ(ageOf(QStringLiteral("born2022")), QStringLiteral("3 нет"));
    const QString all = stored(QStringLiteral("SELECT group_concat(Возраст || Юбилей) FROM Main"));
    run();
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(Возраст || Юбилей) FROM Main")), all)
        << "a second run with the same year stores the same values";
}

TEST_F(AgeTest, ATypedYearMayStartWithBlanksButNothingMayFollowIt)
{
    {
        auto db = connect();
        addPerson(*db, QStringLiteral("Иванов"), 1980);
        addPerson(*db, QStringLiteral("Петров"), 1990);
    }
    startProgram();
    typeYear(QStringLiteral(" 2030"));
    run();
    EXPECT_EQ(ageOf(QStringLiteral("Иванов")), QStringLiteral("50 да"));

    for (const auto &[typed, shown] : {std::pair{"2025 ", "'2025 ' is not a valid integer value."},
                                       {"20x5", "'20x5' is not a valid integer value."},
                                       {"", "'' is not a valid integer value."}}) {
        dialogs.errors.clear();
        typeYear(QString::fromUtf8(typed));
        run();
        EXPECT_EQ(dialogs.errors, QStringList{QString::fromUtf8(shown)});
        // Standing on the first record, editing, nothing assigned or written.
        EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Editing);
        EXPECT_FALSE(DM->tblMain.IsModified());
        EXPECT_EQ(DM->tblMain.FieldNamed(QStringLiteral("ФИО")).AsText(), QStringLiteral("Иванов"));
        EXPECT_EQ(ageOf(QStringLiteral("Иванов")), QStringLiteral("50 да"));
    }
    DM->tblMain.ToNext();
    EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Browsing) << "the next move drops the edit";
}

TEST_F(AgeTest, AChangeLeftUnsavedIsPostedFirstAndThenOverwritten)
{
    {
        auto db = connect();
        addPerson(*db, QStringLiteral("Иванов"), 1980);
        addPerson(*db, QStringLiteral("Петров"), 1990);
    }
    startProgram();
    DM->tblMain.ToLast();
    DM->tblMain.StartEdit();
    DM->tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Петрова"));
    DM->tblMain.FieldNamed(QStringLiteral("Возраст")).setAsInt(999);
    typeYear(QStringLiteral("2024"));
    run();
    EXPECT_EQ(ageOf(QStringLiteral("Петрова")), QStringLiteral("34 нет"));
}

// A year cell the field refuses, left by a click on the button: the box says why, the cell keeps
// its text and the focus, and the button is released without running, at every try.
TEST_F(AgeTest, ARefusedCellTextKeepsTheFocusAndTheClickedButtonDoesNotRun)
{
    {
        auto db = connect();
        addPerson(*db, QStringLiteral("Иванов"), 1980);
    }
    startProgram();
    typeYear(QStringLiteral("2024"));
    DBGrid *grid = frmMain->dbgrd1;
    grid->setFocus();
    for (Qt::Key key : {Qt::Key_Home, Qt::Key_Right, Qt::Key_Right})
        QTest::keyClick(grid, key);
    QTest::sendKeyEvent(QTest::Click, grid, Qt::Key_Minus, QStringLiteral("-"), Qt::NoModifier);
    catchUp();
    ASSERT_TRUE(grid->isEditorOpen());
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        run();
        catchUp();
        EXPECT_EQ(dialogs.errors.size(), attempt);
        EXPECT_EQ(dialogs.errors.value(attempt - 1),
                  QStringLiteral("'-' is not a valid integer value for field 'Год'"));
        EXPECT_FALSE(frmMain->btn4->isDown());
        EXPECT_TRUE(grid->isAncestorOf(QApplication::focusWidget()));
        EXPECT_EQ(grid->editorText(), QStringLiteral("-"));
        EXPECT_TRUE(grid->hasPendingText());
        EXPECT_EQ(ageOf(QStringLiteral("Иванов")), QStringLiteral("null null"))
            << "the calculation did not run";
    }
}

TEST_F(AgeTest, AnEmptyTableWritesNothingAndLeavesABlankNewRecordUntilTheNextMove)
{
    startProgram();
    typeYear(QStringLiteral("2025"));
    run();
    EXPECT_TRUE(dialogs.errors.isEmpty());
    EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Inserting);
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("0"));
    DM->tblMain.ToFirst();
    EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Browsing);
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("0"));
}

TEST_F(AgeTest, AnAgeThatDoesNotFitTheColumnStopsTheWalkThereAndKeepsWhatWasDone)
{
    exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('first', 2000), ('odd', -2147483648), "
                        "('last', 2010)"));
    startProgram();
    typeYear(QStringLiteral("2025"));
    run();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0],
              QStringLiteral("2147485673 is not a valid value for field 'Возраст'. "
                             "The allowed range is -2147483648 to 2147483647."));
    EXPECT_EQ(ageOf(QStringLiteral("first")), QStringLiteral("25 да"));
    EXPECT_EQ(ageOf(QStringLiteral("last")), QStringLiteral("null null"));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the wait cursor ends with the walk";
    EXPECT_EQ(DM->tblMain.state(), RecordSet::State::Editing);
    EXPECT_EQ(shown(), QStringLiteral("odd   1 "))
        << "the window stands on the record that failed, its refused age not taken";
    clickFirst();
    EXPECT_EQ(shown(), QStringLiteral("first 25 да 0 25")) << "and follows the next move";
}

TEST_F(AgeTest, ClosingTheProgramWhileARecordIsEditedDoesNotStoreIt)
{
    exec(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES ('Иванов', 1980)"));
    startProgram();
    DM->tblMain.StartEdit();
    DM->tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Сидоров"));
    DM->tblMain.StartInsert(); // settles the edit: that one is stored
    DM->tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Новиков"));
    destroyProgram();
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО) FROM Main")),
              QStringLiteral("Сидоров"));
}

class NoDatabaseTest : public ProgramTest
{
protected:
    NoDatabaseTest() : ProgramTest(false) {}
};

TEST_F(NoDatabaseTest, FiveErrorBoxesThenEveryCommandReportsTheClosedTable)
{
    startProgram();
    ASSERT_EQ(dialogs.errors.size(), 5);
    for (const QString &error : dialogs.errors) {
        EXPECT_EQ(error, dialogs.errors[0]);
        EXPECT_TRUE(error.contains(QStringLiteral("Base.mdb"))) << error.toStdString();
    }
    EXPECT_FALSE(DM->con1.isOpen());
    EXPECT_FALSE(DM->tblMain.Active());

    dialogs.errors.clear();
    typeOver(frmMain->cbb2, QStringLiteral("2022"));
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral(
                                  "tblMain: Cannot perform this operation on a closed dataset.")});
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    EXPECT_EQ(dialogs.errors.size(), 2) << "the window stays usable after a failure";
}

TEST_F(NoDatabaseTest, ARegisterImportedFromTheOldProgramOpensAndTheCalculationRunsOnIt)
{
    JetImport::Options options;
    options.source = oldRegisterFile();
    options.target = QStringLiteral("Base.mdb");
    JetImport::importDatabase(options);
    startProgram();
    ASSERT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(DM->tblMain.RecordTotal(), 20);
    frmMain->cbb2->setEditText(QStringLiteral("2025"));
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    EXPECT_TRUE(dialogs.errors.isEmpty()) << dialogs.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(stored(QStringLiteral("SELECT Возраст || Юбилей FROM Main WHERE Код = 1")),
              QStringLiteral("75да"));
    EXPECT_EQ(stored(QStringLiteral("SELECT Возраст || Юбилей FROM Main WHERE Код = 20")),
              QStringLiteral("2025да"))
        << "no year of birth";
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main WHERE Юбилей IS NULL")),
              QStringLiteral("0"));
}

// The file refuses the calculation's commit (its disk is full), on a small register and on one
// whose walk runs out of room before its end: none of it is stored, the box says so and why, and
// the register shows what the file holds.
class FullDiskWalk : public NoDatabaseTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(FullDiskWalk, ACalculationTheFileRefusesToCommitIsReportedAndTheRegisterShowsTheFile)
{
    const QString home = QDir::currentPath();
    SmallDisk disk(QDir(home).filePath(QStringLiteral("disk")), 8192);
    if (!disk.ok())
        GTEST_SKIP() << "no small file system here: " << disk.why().toStdString();
    QDir::setCurrent(QDir(home).filePath(QStringLiteral("disk")));
    DatabaseTool::createDatabase(QStringLiteral("Base.mdb"), true, 2026);
    {
        SqliteConnection db(QStringLiteral("Base.mdb"), SqliteConnection::Mode::OpenExisting);
        db.exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < %1) INSERT INTO Main (ФИО, Год) SELECT 'Человек ' || i, "
                               "1950 + i % 60 FROM n")
                    .arg(GetParam()));
    }
    const QString agesBefore =
        stored(QStringLiteral("SELECT group_concat(ifnull(Возраст, '-') || "
                              "Юбилей) FROM (SELECT * FROM Main ORDER BY Код)"));
    startProgram();
    disk.fill(GetParam() > 0 ? 128 : 0);
    typeOver(frmMain->cbb2, QStringLiteral("2031"));
    QTest::mouseClick(frmMain->btn4, Qt::LeftButton);
    catchUp();
    EXPECT_EQ(dialogs.errors,
              QStringList{QStringLiteral("Расчёт возраста не сохранён в базе данных: на диске нет "
                                         "свободного места.")});
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ifnull(Возраст, '-') || Юбилей) FROM "
                                    "(SELECT * FROM Main ORDER BY Код)")),
              agesBefore);
    // The walk ended where the disk ran out (on a small register, on the last person); the panel
    // and the grid show that person as stored.
    RecordSet &people = DM->tblMain;
    EXPECT_EQ(people.state(), RecordSet::State::Browsing);
    if (GetParam() == 0) {
        EXPECT_EQ(people.currentRow(), people.rowCount() - 1);
    }
    const QString last =
        stored(QStringLiteral("SELECT ifnull(Возраст, '') || ' ' || ifnull(Юбилей, '') FROM Main "
                              "WHERE Код = %1")
                   .arg(people.currentKey()));
    EXPECT_EQ(frmMain->dbedt6->text() + QLatin1Char(' ') + frmMain->dbedt7->text(), last);
    const int row = frmMain->dbgrd1->currentCell().row();
    EXPECT_EQ(row, people.currentRow());
    EXPECT_EQ(frmMain->dbgrd1->model()->index(row, 5).data().toString() + QLatin1Char(' ') +
                  frmMain->dbgrd1->model()->index(row, 6).data().toString(),
              last);
    destroyProgram();
    QDir::setCurrent(home);
}

INSTANTIATE_TEST_SUITE_P(People, FullDiskWalk, ::testing::Values(0, 20000));

// The grid: columns and titles, following the record set, the key table, typing in cells and
// leaving the grid.
#include "GridFixture.h"

#include <QAbstractItemModelTester>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTimer>

#include <functional>

TEST_F(GridTest, DefaultColumnsFollowTheVisibleFieldsAndPersistentOnesKeepTheirTitles)
{
    open({{"Иванов", 1980}});
    EXPECT_EQ(grid->columnCount(), 8);
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("ФИО"));
    tblMain.FieldAt(0).setVisible(false);
    catchUp();
    EXPECT_EQ(grid->columnCount(), 7);
    EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("ФИО"));

    grid->setColumns({{QStringLiteral("ФИО"), QString()},
                      {QStringLiteral("Дата_рождения"), QStringLiteral("Дата рождения")},
                      {QStringLiteral("Отчество"), QString()}});
    catchUp();
    EXPECT_EQ(grid->columnCount(), 3);
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(),
              QStringLiteral("Дата рождения"));
    EXPECT_EQ(grid->model()->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Отчество"));
    EXPECT_EQ(grid->model()->index(0, 2).data().toString(), QString())
        << "a missing field shows empty cells";

    // Widths by the rule: "0" times the display width plus 4, or the title plus 4 if wider.
    const int zero = grid->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    EXPECT_EQ(grid->horizontalHeader()->sectionSize(0), zero * 60 + 4);
    tblMain.setActive(false);
    catchUp();
    EXPECT_EQ(grid->model()->rowCount(), 0);
    EXPECT_EQ(grid->columnCount(), 3) << "persistent columns stay while closed";
}

TEST_F(GridTest, TheSelectedRowFollowsEveryMoveWhoeverMadeIt)
{
    open({{"А", 1}, {"Б", 2}, {"В", 3}});
    EXPECT_EQ(grid->currentCell().row(), 0);
    tblMain.ToLast();
    catchUp();
    EXPECT_EQ(grid->currentCell().row(), 2);
    key(Qt::Key_Up);
    EXPECT_EQ(currentName(), QStringLiteral("Б"));
    EXPECT_EQ(grid->currentCell().row(), 1);
    key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(currentName(), QStringLiteral("А"));

    const QRect cell = grid->visualRect(grid->model()->index(2, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    catchUp();
    EXPECT_EQ(currentName(), QStringLiteral("В"));
    EXPECT_EQ(grid->currentColumn(), 1);

    // The user drags the fourth column's title to the front; a click in another row makes the
    // column clicked current, as it is shown.
    QHeaderView *titles = grid->horizontalHeader();
    const QPoint from(titles->sectionViewportPosition(3) + 5, titles->height() / 2);
    const QPoint to(titles->sectionViewportPosition(1) + 2, titles->height() / 2);
    QTest::mousePress(titles->viewport(), Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(titles->viewport(), (from + to) / 2);
    QTest::mouseMove(titles->viewport(), to);
    QTest::mouseRelease(titles->viewport(), Qt::LeftButton, Qt::NoModifier, to);
    ASSERT_NE(titles->visualIndex(3), 3) << "the column moved";
    const QRect moved = grid->visualRect(grid->model()->index(0, 3));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, moved.center());
    catchUp();
    EXPECT_EQ(currentName(), QStringLiteral("А"));
    EXPECT_EQ(grid->currentColumn(), titles->visualIndex(3));
}

TEST_F(GridTest, DownOnTheLastRowPostsTypedTextAndAppendsUpOnTheUntouchedBlankRemovesIt)
{
    open({{"Иванов", 1980}, {"Петров", 1990}});
    key(Qt::Key_Down);
    goToColumn(QStringLiteral("ФИО"));
    type(QStringLiteral("Сидоров"));
    EXPECT_TRUE(grid->hasPendingText());
    EXPECT_EQ(currentName(), QStringLiteral("Петров")) << "typed text is not written while typing";
    EXPECT_EQ(tblMain.state(), RecordSet::State::Editing);

    key(Qt::Key_Down);
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО) FROM Main")),
              QStringLiteral("Иванов,Сидоров"));
    EXPECT_EQ(tblMain.state(), RecordSet::State::Inserting);
    EXPECT_EQ(tblMain.currentRow(), 2) << "a blank record at the bottom";
    EXPECT_EQ(grid->model()->rowCount(), 3);

    key(Qt::Key_Down);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Inserting)
        << "Down on the blank record does nothing";
    key(Qt::Key_Up);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);
    EXPECT_EQ(tblMain.rowCount(), 2);
    EXPECT_EQ(currentName(), QStringLiteral("Сидоров"));
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("2"));
}

TEST_F(GridTest, TabWrapsToTheNextRowAndShiftTabBack)
{
    open({{"А", 1}, {"Б", 2}});
    key(Qt::Key_End);
    EXPECT_EQ(grid->currentColumn(), 7);
    key(Qt::Key_Tab);
    EXPECT_EQ(grid->currentColumn(), 0);
    EXPECT_EQ(currentName(), QStringLiteral("Б"));
    key(Qt::Key_Backtab);
    EXPECT_EQ(grid->currentColumn(), 7);
    EXPECT_EQ(currentName(), QStringLiteral("А"));
}

TEST_F(GridTest, InsertCtrlDeleteWithConfirmationAndEscapeTwice)
{
    open({{"А", 1}, {"Б", 2}, {"В", 3}});
    key(Qt::Key_Down);
    dialogs.answer = false;
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(dialogs.questions, QStringList{QStringLiteral("Delete record?")});
    EXPECT_EQ(tblMain.RecordTotal(), 3);
    dialogs.answer = true;
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО) FROM Main")), QStringLiteral("А,В"));
    EXPECT_EQ(currentName(), QStringLiteral("В"));

    key(Qt::Key_Insert);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Inserting);
    EXPECT_EQ(tblMain.currentRow(), 1) << "above the record that was current";
    key(Qt::Key_Escape);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);

    goToColumn(QStringLiteral("ФИО"));
    type(QStringLiteral("Вера"));
    key(Qt::Key_Escape);
    EXPECT_FALSE(grid->hasPendingText());
    EXPECT_EQ(tblMain.state(), RecordSet::State::Editing) << "the first Escape drops only the text";
    key(Qt::Key_Escape);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);
    EXPECT_EQ(currentName(), QStringLiteral("В"));
}

TEST_F(GridTest, TypedTextIsWrittenOnEnterOrAColumnMoveAndTheRecordOnlyWhenSettled)
{
    open({{"Иванов", 1980}});
    goToColumn(QStringLiteral("Год"));
    type(QStringLiteral("1981"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1980);
    key(Qt::Key_Return);
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1981);
    EXPECT_TRUE(tblMain.IsModified());
    EXPECT_EQ(stored(QStringLiteral("SELECT Год FROM Main")), QStringLiteral("1980"));

    key(Qt::Key_Right);
    type(QStringLiteral("7"));
    key(Qt::Key_Right); // the caret is at the end: the next column
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Месяц")).AsInt(), 7);
    tblMain.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT Год || '/' || Месяц FROM Main")),
              QStringLiteral("1981/7"));
}

// The cell editor opened by a double click while browsing changes its text only once editing has
// started, whichever way the text is changed; where editing cannot start nothing changes.
TEST_F(GridTest, EveryWayOfChangingTheCellEditorsTextStartsEditingFirst)
{
    const auto deleteFromContextMenu = [](QWidget *editor) {
        // The entry is chosen in the open menu by keys; a menu without it is closed.
        QTimer::singleShot(0, [] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            const auto onDelete = [menu] {
                return menu->activeAction() &&
                       menu->activeAction()->text() == QLatin1String("Delete");
            };
            for (int i = 0; i < menu->actions().size() && !onDelete(); ++i)
                QTest::keyClick(menu, Qt::Key_Down);
            QTest::keyClick(menu, onDelete() ? Qt::Key_Return : Qt::Key_Escape);
        });
        // What a right click delivers (QTest's click does not make it on every platform).
        const QPoint at = editor->rect().center();
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at, editor->mapToGlobal(at));
        QApplication::sendEvent(editor, &rightClick);
    };
    const auto dropText = [](QWidget *editor) {
        QMimeData data;
        data.setText(QStringLiteral("Петров"));
        const QPoint at = editor->rect().center();
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor, &enter);
        QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(editor, &move);
        if (move.isAccepted()) {
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(editor, &drop);
        }
    };
    const struct
    {
        const char *way;
        std::function<void(QWidget *)> change;
        const char *column;
        const char *stored; // null: the change is refused
    } cases[] = {
        {"the context menu's Delete", deleteFromContextMenu, "ФИО", ""},
        {"a drop", dropText, "ФИО", "Петров"},
        {"the context menu's Delete", deleteFromContextMenu, "Код", nullptr},
        {"a drop", dropText, "Код", nullptr},
    };
    open({{"Иванов", 1980}, {"Сидоров", 1990}});
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.way) + " in " + c.column);
        key(Qt::Key_Home, Qt::ControlModifier);
        goToColumn(QString::fromUtf8(c.column));
        const QString before =
            grid->cellText(0, grid->horizontalHeader()->logicalIndex(grid->currentColumn()));
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier,
                           grid->visualRect(grid->currentCell()).center());
        catchUp();
        ASSERT_TRUE(grid->isEditorOpen());
        EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing)
            << "opening the editor edits nothing";
        c.change(grid->viewport()->findChild<QLineEdit *>());
        catchUp();
        if (!c.stored) {
            EXPECT_EQ(grid->editorText(), before);
            EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);
            key(Qt::Key_Escape);
            continue;
        }
        EXPECT_EQ(tblMain.state(), RecordSet::State::Editing);
        EXPECT_TRUE(grid->editorText().contains(QString::fromUtf8(c.stored)));
        const QString typed = grid->editorText();
        key(Qt::Key_Return);
        key(Qt::Key_Down);
        EXPECT_TRUE(dialogs.errors.isEmpty())
            << dialogs.errors.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(stored(QStringLiteral("SELECT ФИО FROM Main ORDER BY Код LIMIT 1")), typed);
    }
}

TEST_F(GridTest, ALetterInAnIntegerColumnIsRefusedAndARejectedTextStaysPending)
{
    open({{"Иванов", 1980}});
    goToColumn(QStringLiteral("Год"));
    type(QStringLiteral("ж"));
    EXPECT_FALSE(grid->isEditorOpen());
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing)
        << "a refused key does not start editing";

    type(QStringLiteral("1-9"));
    key(Qt::Key_Return);
    EXPECT_EQ(dialogs.errors,
              QStringList{QStringLiteral("'1-9' is not a valid integer value for field 'Год'")});
    EXPECT_TRUE(grid->hasPendingText());
    EXPECT_EQ(grid->editorText(), QStringLiteral("1-9"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1980);
}

TEST_F(GridTest, LeavingTheGridDropsAnUntouchedNewRecordAndKeepsATypedOnePending)
{
    open({{"Иванов", 1980}});
    key(Qt::Key_Insert);
    other->setFocus();
    catchUp();
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);
    EXPECT_EQ(tblMain.rowCount(), 1);

    grid->setFocus();
    key(Qt::Key_Insert);
    goToColumn(QStringLiteral("ФИО"));
    type(QStringLiteral("Новиков"));
    other->setFocus();
    catchUp();
    EXPECT_EQ(tblMain.state(), RecordSet::State::Inserting);
    EXPECT_EQ(currentName(), QStringLiteral("Новиков"))
        << "the cell text is written into the field";
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("1"));
    tblMain.ToFirst();
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("2"));
}

TEST_F(GridTest, ScrollingToTheLastOfManyRecordsAndBack)
{
    {
        auto db2 = db.connect();
        db2->exec(QStringLiteral("BEGIN"));
        SqliteStatement insert =
            db2->prepare(QStringLiteral("INSERT INTO Main (ФИО, Год) VALUES (?, 1990)"));
        for (int i = 0; i < 20000; ++i) {
            insert.bind(1, QStringLiteral("Человек %1").arg(i));
            insert.run();
        }
        db2->exec(QStringLiteral("COMMIT"));
    }
    open({});
    key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(grid->currentCell().row(), 19999);
    EXPECT_TRUE(grid->visualRect(grid->currentCell()).intersects(grid->viewport()->rect()));
    EXPECT_EQ(grid->model()->index(19999, 1).data().toString(), QStringLiteral("Человек 19999"));
    key(Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(grid->currentCell().row(), 0);
}

TEST_F(GridTest, TwoCellsTypedRightToLeftAreStoredEachInItsOwnColumn)
{
    open({{"Иванов", 1980}, {"Петров", 1990}, {"Сидоров", 1975}});
    // The first person: the mark, then the age, typed from the last column leftwards.
    key(Qt::Key_End);
    type(QStringLiteral("да"));
    key(Qt::Key_Backtab, Qt::ShiftModifier); // Shift+Tab as X11 delivers it
    type(QStringLiteral("45"));
    key(Qt::Key_Down);
    // The second person: the age first, then the mark.
    key(Qt::Key_End);
    key(Qt::Key_Tab, Qt::ShiftModifier);
    type(QStringLiteral("35"));
    key(Qt::Key_Tab);
    type(QStringLiteral("нет"));
    key(Qt::Key_Down);
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(quote(Возраст) || ' ' || quote(Юбилей), "
                                    "'; ') FROM Main")),
              QStringLiteral("45 'да'; 35 'нет'; NULL NULL"));
    // And the next age walk of the same two columns keeps them apart too.
    for (tblMain.ToFirst(); !tblMain.AtEnd(); tblMain.ToNext()) {
        tblMain.StartEdit();
        tblMain.FieldNamed(QStringLiteral("Юбилей")).setAsText(QStringLiteral("нет"));
        tblMain.FieldNamed(QStringLiteral("Возраст")).setAsInt(50);
    }
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(quote(Возраст) || ' ' || quote(Юбилей), "
                                    "'; ') FROM Main")),
              QStringLiteral("50 'нет'; 50 'нет'; 50 'нет'"));
}

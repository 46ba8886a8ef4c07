// The bound edit box and the lookup drop-down.
#include "ControlsFixture.h"
#include "LookupDriver.h"

#include "controls/DBEdit.h"
#include "controls/DBGrid.h"
#include "controls/DBLookupComboBox.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QMenu>
#include <QWheelEvent>

class EditTest : public ControlsTest
{
protected:
    DBEdit *edit(const char *name, const char *field, int top)
    {
        auto *box = new DBEdit(&window);
        box->setObjectName(QLatin1String(name));
        box->setGeometry(10, top, 300, 30);
        box->setDataSource(&dsMain);
        box->setDataField(QString::fromUtf8(field));
        return box;
    }
};

TEST_F(EditTest, DisabledBoxesFollowEveryMoveAndShowGridTextOnlyOnceWritten)
{
    addPeople({{"Иванов", 1980}, {"Петров", 0}});
    DBEdit *name = edit("dbedt1", "ФИО", 10);
    DBEdit *year = edit("dbedt3", "Год", 50);
    name->setEnabled(false);
    year->setEnabled(false);
    auto *grid = new DBGrid(&window);
    grid->setGeometry(10, 100, 900, 300);
    grid->setDataSource(&dsMain);
    tblMain.setActive(true);
    showWindow();
    EXPECT_EQ(name->text(), QStringLiteral("Иванов"));
    EXPECT_EQ(year->text(), QStringLiteral("1980"));
    EXPECT_TRUE(year->alignment() & Qt::AlignRight);
    EXPECT_TRUE(name->alignment() & Qt::AlignLeft);

    tblMain.ToNext();
    catchUp();
    EXPECT_EQ(name->text(), QStringLiteral("Петров"));
    EXPECT_EQ(year->text(), QString()) << "null shows as an empty box";

    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Home);
    QTest::keyClick(grid, Qt::Key_Right);
    typeText(QApplication::focusWidget() == grid ? static_cast<QWidget *>(grid)
                                                 : QApplication::focusWidget(),
             QStringLiteral("С"));
    catchUp();
    EXPECT_EQ(name->text(), QStringLiteral("Петров")) << "typed into the grid, not yet written";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    catchUp();
    EXPECT_EQ(name->text(), QStringLiteral("С"));
}

TEST_F(EditTest, TypedTextIsWrittenWhenTheFocusMovesAndARefusalKeepsTheFocus)
{
    addPeople({{"Иванов", 1980}});
    DBEdit *year = edit("dbedt3", "Год", 10);
    auto *other = new QLineEdit(&window);
    other->setGeometry(10, 60, 100, 30);
    tblMain.setActive(true);
    showWindow();
    year->setFocus();
    year->selectAll();
    typeText(year, QStringLiteral("х"));
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing) << "a letter is refused before anything";
    typeText(year, QStringLiteral("1-5"));
    EXPECT_EQ(tblMain.state(), RecordSet::State::Editing);
    EXPECT_TRUE(year->hasPendingText());
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1980);

    other->setFocus();
    catchUp();
    EXPECT_EQ(dialogs.errors,
              QStringList{QStringLiteral("'1-5' is not a valid integer value for field 'Год'")});
    EXPECT_TRUE(year->hasFocus());
    EXPECT_EQ(year->selectedText(), QStringLiteral("1-5"));

    QTest::keyClick(year, Qt::Key_Escape);
    catchUp();
    EXPECT_EQ(year->text(), QStringLiteral("1980"));
    EXPECT_FALSE(year->hasPendingText());

    year->selectAll();
    typeText(year, QStringLiteral("1985"));
    other->setFocus();
    catchUp();
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1985);
    EXPECT_TRUE(tblMain.IsModified());
    tblMain.ToFirst();
    EXPECT_EQ(stored(QStringLiteral("SELECT Год FROM Main")), QStringLiteral("1985"));
}

// Switching to another window, or to a pop-up menu of another window, is not leaving the box:
// the typed text stays pending and the field keeps its value until the focus moves within the
// window.
TEST_F(EditTest, SwitchingToAnotherWindowOrItsPopupLeavesTheTypedTextPending)
{
    addPeople({{"Иванов", 1980}});
    DBEdit *name = edit("dbedt1", "ФИО", 10);
    auto *other = new QLineEdit(&window);
    other->setGeometry(10, 60, 100, 30);
    tblMain.setActive(true);
    showWindow();
    name->setFocus();
    name->selectAll();
    typeText(name, QStringLiteral("Петров"));
    ASSERT_TRUE(name->hasPendingText());

    // A pop-up menu of its own, as another window's would be, opens (the box is told it lost the
    // focus to a pop-up) and closes.
    QMenu menu;
    menu.addAction(QStringLiteral("ПУНКТ"));
    menu.popup(window.mapToGlobal(QPoint(400, 10)));
    catchUp();
    QTest::keyClick(&menu, Qt::Key_Escape);
    catchUp();

    QWidget second;
    second.resize(200, 100);
    second.show();
    QApplication::setActiveWindow(&second);
    catchUp();
    EXPECT_FALSE(name->hasFocus());
    QApplication::setActiveWindow(&window);
    catchUp();
    EXPECT_TRUE(name->hasPendingText());
    EXPECT_EQ(name->text(), QStringLiteral("Петров"));
    EXPECT_EQ(currentName(), QStringLiteral("Иванов")) << "nothing written on a window switch";
    EXPECT_TRUE(dialogs.errors.isEmpty());

    other->setFocus();
    catchUp();
    EXPECT_EQ(currentName(), QStringLiteral("Петров")) << "written once the focus moves on";
}

TEST_F(EditTest, TheUpdateBeforeAMoveWritesPendingTextAndATextIsCutToTheFieldSize)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}});
    DBEdit *name = edit("dbedt1", "ФИО", 10);
    tblMain.setActive(true);
    showWindow();
    name->setFocus();
    name->selectAll();
    typeText(name, QStringLiteral("Иванова"));
    tblMain.ToNext();
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО FROM Main ORDER BY Код LIMIT 1")),
              QStringLiteral("Иванова"));

    // The box holds 60 characters, an emoji counting as one: the 61st key press is refused,
    // also in the middle of the text, and nothing splits a letter.
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString full = QString(58, QChar(u'я')) + emoji + QStringLiteral("ж");
    catchUp();
    name->setFocus();
    name->selectAll();
    typeText(name, QString(58, QChar(u'я')) + emoji + QStringLiteral("жz") + emoji);
    EXPECT_EQ(name->text(), full);
    QTest::keyClick(name, Qt::Key_Home);
    typeText(name, emoji + QStringLiteral("q"));
    EXPECT_EQ(name->text(), full);
    tblMain.ToFirst();
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО FROM Main ORDER BY Код DESC LIMIT 1")), full);
}

TEST_F(EditTest, AFieldTheResultLacksFailsWithTheControlsName)
{
    edit("dbedt9", "Отчество", 10);
    try {
        tblMain.setActive(true);
        ADD_FAILURE() << "no error";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("dbedt9: Field 'Отчество' not found"));
    }
}

TEST_F(EditTest, TheBoxFollowsItsFieldThroughClosingReopeningAndAnotherRecordSet)
{
    addPeople({{"Иванов", 1980}});
    DBEdit *name = edit("dbedt1", "ФИО", 10);
    tblMain.setActive(true);
    showWindow();
    EXPECT_EQ(name->text(), QStringLiteral("Иванов"));

    tblMain.setActive(false); // its fields are gone
    catchUp();
    EXPECT_EQ(name->text(), QString());
    tblMain.setActive(true);
    catchUp();
    EXPECT_EQ(name->text(), QStringLiteral("Иванов"));

    RecordSet copies{QStringLiteral("qryCopies"), connection, RecordSet::Kind::Query};
    copies.SQL().add(QStringLiteral("SELECT ФИО || '-2' AS ФИО FROM Main"));
    copies.setActive(true);
    dsMain.setRecordSet(&copies);
    catchUp();
    EXPECT_EQ(name->text(), QStringLiteral("Иванов-2")) << "the field of the new record set";
    tblMain.setActive(false);
    catchUp();
    EXPECT_EQ(name->text(), QStringLiteral("Иванов-2"));
    dsMain.setRecordSet(&tblMain);
}

class LookupTest : public ControlsTest
{
protected:
    LookupTest()
    {
        tblGod.setTableName(QStringLiteral("God"));
        lookup = new DBLookupComboBox(&window);
        lookup->setObjectName(QStringLiteral("dblkcbb1"));
        lookup->setGeometry(10, 10, 140, 30);
        lookup->setListSource(&dsGod);
        lookup->setKeyField(QStringLiteral("Год"));
        lookup->setListField(QStringLiteral("Год"));
        lookup->setDataSource(&dsMain);
        lookup->setDataField(QStringLiteral("Год"));
    }
    RecordSet tblGod{QStringLiteral("tblGod"), connection, RecordSet::Kind::Table};
    DataSource dsGod{QStringLiteral("dsGod"), &tblGod};
    DBLookupComboBox *lookup;
};

TEST_F(LookupTest, ShowsTheYearForItsKeyAndNothingForNullOrUnknown)
{
    addPeople({{"Иванов", 1980}, {"Петров", 0}, {"Сидоров", 1800}});
    tblGod.setActive(true);
    tblMain.setActive(true);
    showWindow();
    EXPECT_EQ(lookup->Text(), QStringLiteral("1980"));
    EXPECT_EQ(tblGod.FieldNamed(QStringLiteral("Год")).AsInt(), 1980)
        << "the list stands on the match";
    tblMain.ToNext();
    EXPECT_EQ(lookup->Text(), QString());
    tblMain.ToNext();
    EXPECT_EQ(lookup->Text(), QString());
    EXPECT_EQ(lookup->maxVisibleItems(), 7);
    EXPECT_EQ(lookup->count(), 2026 - 1930 + 1);
}

TEST_F(LookupTest, ChoosingAYearWhileInsertingWritesItAtOnce)
{
    tblGod.setActive(true);
    tblMain.setActive(true);
    showWindow();
    tblMain.StartInsert();
    tblMain.StartEdit();
    EXPECT_FALSE(tblMain.IsModified());
    lookup->setFocus();
    // The user opens the list, marks 1980 (the 51st year) and presses Enter.
    QTest::keyClick(lookup, Qt::Key_Down, Qt::AltModifier);
    catchUp();
    ASSERT_TRUE(lookup->view()->isVisible());
    QTest::keyClick(lookup->view(), Qt::Key_Home);
    for (int i = 0; i < 50; ++i)
        QTest::keyClick(lookup->view(), Qt::Key_Down);
    QTest::keyClick(lookup->view(), Qt::Key_Return);
    catchUp();
    EXPECT_TRUE(tblMain.IsModified());
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1980);
    EXPECT_EQ(lookup->Text(), QStringLiteral("1980"));

    QTest::keyClick(lookup, Qt::Key_Down);
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1981);
    QTest::keyClick(lookup, Qt::Key_Up);
    QTest::keyClick(lookup, Qt::Key_Up);
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1979);
    typeText(lookup, QStringLiteral("2")); // a numeric list column: typing does nothing
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1979);

    tblMain.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT Год FROM Main")), QStringLiteral("1979"));
}

TEST_F(LookupTest, AYearAddedToTheListIsOfferedAtOnce)
{
    tblGod.setActive(true);
    tblMain.setActive(true);
    showWindow();
    tblGod.StartAppend();
    tblGod.FieldNamed(QStringLiteral("Год")).setAsInt(2030);
    tblGod.PostRecord();
    catchUp();
    EXPECT_EQ(droppedEntries(lookup).last(), QStringLiteral("2030"));
}

TEST_F(LookupTest, InTheOpenListEnterAltDownAndAltUpChooseTheMarkedYearAndEscapeNothing)
{
    addPeople({{"Иванов", 1980}});
    tblGod.setActive(true);
    tblMain.setActive(true);
    showWindow();
    lookup->setFocus();
    const std::pair<Qt::Key, Qt::KeyboardModifier> choosers[] = {{Qt::Key_Return, Qt::NoModifier},
                                                                 {Qt::Key_Down, Qt::AltModifier},
                                                                 {Qt::Key_Up, Qt::AltModifier}};
    int expected = 1980;
    for (const auto &[chooser, modifier] : choosers) {
        QTest::keyClick(lookup, Qt::Key_Down, Qt::AltModifier);
        catchUp();
        ASSERT_TRUE(lookup->view()->isVisible());
        QTest::keyClick(lookup->view(), Qt::Key_Down); // marks the next year
        QTest::keyClick(lookup->view(), chooser, modifier);
        catchUp();
        ++expected;
        EXPECT_FALSE(lookup->view()->isVisible()) << "the list closes";
        EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), expected) << chooser;
        EXPECT_EQ(lookup->Text(), QString::number(expected));
    }
    QTest::keyClick(lookup, Qt::Key_Up, Qt::AltModifier);
    catchUp();
    QTest::keyClick(lookup->view(), Qt::Key_Down);
    QTest::keyClick(lookup->view(), Qt::Key_Escape);
    catchUp();
    EXPECT_FALSE(lookup->view()->isVisible());
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), expected)
        << "Escape chooses nothing";
    tblMain.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT Год FROM Main")), QString::number(expected));
}

TEST_F(LookupTest, TheClosedLookupIgnoresHomeEndThePageKeysAndTheWheel)
{
    addPeople({{"Иванов", 1980}});
    tblGod.setActive(true);
    tblMain.setActive(true);
    showWindow();
    lookup->setFocus();
    catchUp();
    for (Qt::Key key : {Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown})
        QTest::keyClick(lookup, key);
    for (int delta : {120, -120, -360}) {
        const QPointF at(lookup->width() / 2.0, lookup->height() / 2.0);
        QWheelEvent wheel(at, lookup->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(lookup, &wheel);
    }
    catchUp();
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);
    EXPECT_EQ(lookup->Text(), QStringLiteral("1980"));
    EXPECT_EQ(stored(QStringLiteral("SELECT Год FROM Main")), QStringLiteral("1980"));
    QTest::keyClick(lookup, Qt::Key_Down); // its own key still chooses
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 1981);
}

TEST_F(LookupTest, TheListLandsOnTheKeyWhenSettlingDropsABlankYearAboveIt)
{
    addPeople({{"Иванов", 1970}, {"Петров", 1980}});
    tblGod.setActive(true);
    tblMain.setActive(true);
    auto *grid = new DBGrid(&window);
    grid->setGeometry(0, 60, 600, 200);
    grid->setDataSource(&dsMain);
    showWindow();
    EXPECT_EQ(tblGod.FieldNamed(QStringLiteral("Год")).AsInt(), 1970);
    tblGod.StartInsert(); // left untouched above 1970, as the reference books window may leave it
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down); // to Петров, born 1980
    catchUp();
    EXPECT_EQ(tblGod.state(), RecordSet::State::Browsing);
    EXPECT_EQ(tblGod.FieldNamed(QStringLiteral("Год")).AsInt(), 1980);
    EXPECT_EQ(lookup->Text(), QStringLiteral("1980"));
}

TEST_F(LookupTest, TheLookupNeverMovesOrSettlesTheListWhileSomeoneElseEditsIt)
{
    addPeople({{"Иванов", 1961}});
    tblGod.setActive(true);
    tblMain.setActive(true);
    showWindow();
    EXPECT_EQ(lookup->Text(), QStringLiteral("1961"));
    tblGod.ToFirst();
    tblGod.StartInsert();
    catchUp();
    EXPECT_EQ(tblGod.state(), RecordSet::State::Inserting) << "the blank year stays pending";
    tblGod.FieldNamed(QStringLiteral("Год")).setAsInt(1929);
    catchUp();
    EXPECT_EQ(tblGod.state(), RecordSet::State::Inserting);
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM God WHERE Год = 1929")),
              QStringLiteral("0"));
    tblGod.ToLast();
    catchUp();
    EXPECT_EQ(tblGod.FieldNamed(QStringLiteral("Год")).AsInt(), 2026) << "no snapping back";
    EXPECT_EQ(droppedEntries(lookup).first(), QStringLiteral("1929"));
}

TEST_F(ControlsTest, TypingInALookupOverATextListChoosesTheFirstEntryBeginningWithTheLetters)
{
    db.exec(QStringLiteral("CREATE TABLE Towns (Name VARCHAR(30))"));
    db.exec(QStringLiteral("INSERT INTO Towns VALUES ('Минск'), ('Москва'), ('Мурманск')"));
    db.exec(QStringLiteral("ALTER TABLE Main ADD COLUMN Город VARCHAR(30)"));
    addPeople({{"Иванов", 1980}});
    RecordSet towns(QStringLiteral("tblTowns"), connection, RecordSet::Kind::Table);
    towns.setTableName(QStringLiteral("Towns"));
    DataSource dsTowns(QStringLiteral("dsTowns"), &towns);
    auto *lookup = new DBLookupComboBox(&window);
    lookup->setListSource(&dsTowns);
    lookup->setKeyField(QStringLiteral("Name"));
    lookup->setListField(QStringLiteral("Name"));
    lookup->setDataSource(&dsMain);
    lookup->setDataField(QStringLiteral("Город"));
    towns.setActive(true);
    tblMain.setActive(true);
    showWindow();
    lookup->setFocus();

    typeText(lookup, QStringLiteral("МО"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Город")).AsText(), QStringLiteral("Москва"))
        << "letters compared without regard to case, written at once";
    EXPECT_TRUE(tblMain.IsModified());
    QTest::keyClick(lookup, Qt::Key_Backspace); // starts the search afresh
    typeText(lookup, QStringLiteral("му"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Город")).AsText(), QStringLiteral("Мурманск"));
    typeText(lookup, QStringLiteral("я"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Город")).AsText(), QStringLiteral("Мурманск"))
        << "no entry begins with «муя»: nothing changes";
    EXPECT_EQ(lookup->Text(), QStringLiteral("Мурманск"));
}

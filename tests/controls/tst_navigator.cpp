// The navigator bar: which buttons are enabled when, what they do, the delete question, the keys.
#include "ControlsFixture.h"

#include "controls/DBNavigator.h"
#include "controls/MessageDialogs.h"

#include <QMessageBox>
#include <QTimer>
#include <QToolButton>

#include <functional>

using B = DBNavigator::Button;

class NavigatorTest : public ControlsTest
{
protected:
    NavigatorTest()
    {
        bar = new DBNavigator(&window);
        bar->setGeometry(0, 0, 305, 25);
        bar->setDataSource(&dsMain);
    }
    // The enabled buttons as a string of 0 and 1, nbFirst first.
    QString enabled()
    {
        catchUp();
        QString states;
        for (int i = 0; i < DBNavigator::buttonCount; ++i)
            states += bar->button(B(i))->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        return states;
    }
    void click(B which)
    {
        catchUp();
        QTest::mouseClick(bar->button(which), Qt::LeftButton);
        catchUp();
    }

    DBNavigator *bar;
};

TEST_F(NavigatorTest, ButtonsEnableByTheStateOfTheRecordSet)
{
    showWindow();
    EXPECT_EQ(enabled(), QStringLiteral("0000000000")) << "closed";

    addPeople({{"А", 1}, {"Б", 2}});
    tblMain.setActive(true);
    //                                 F P N L I D E P C R
    EXPECT_EQ(enabled(), QStringLiteral("0011111001")) << "just opened: at the beginning";
    click(B::nbNext);
    EXPECT_EQ(enabled(), QStringLiteral("1111111001"));
    click(B::nbNext);
    EXPECT_EQ(enabled(), QStringLiteral("1100111001")) << "past the last record";
    click(B::nbEdit);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Editing);
    EXPECT_EQ(enabled(), QStringLiteral("1100110111")) << "editing does not move off the end";
    click(B::nbCancel);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);
    // A blank record is not a move: the ends stay where they were.
    click(B::nbLast);
    click(B::nbInsert);
    EXPECT_EQ(enabled(), QStringLiteral("1100110111")) << "inserting after the last record";
    click(B::nbFirst);
    EXPECT_EQ(tblMain.state(), RecordSet::State::Browsing);
    click(B::nbInsert);
    EXPECT_EQ(enabled(), QStringLiteral("0011110111")) << "inserting at the top";
    click(B::nbCancel);

    bar->setEnabled(false);
    EXPECT_EQ(enabled(), QStringLiteral("0000000000"));
    bar->setEnabled(true);

    RecordSet query(QStringLiteral("qryZapros1"), connection, RecordSet::Kind::Query);
    DataSource dsQuery(QStringLiteral("dsZapros1"), &query);
    bar->setDataSource(&dsQuery);
    query.SQL().add(QStringLiteral("select * from Main where Год > 100"));
    query.setActive(true);
    EXPECT_EQ(enabled(), QStringLiteral("0000101001")) << "an empty result: no moves, no delete";
    bar->setDataSource(&dsMain);
}

TEST_F(NavigatorTest, DeleteAsksFirstAndOnlyOkDeletes)
{
    addPeople({{"А", 1}, {"Б", 2}, {"В", 3}});
    tblMain.setActive(true);
    showWindow();
    click(B::nbNext);
    dialogs.answer = false;
    click(B::nbDelete);
    EXPECT_EQ(dialogs.questions, QStringList{QStringLiteral("Delete record?")});
    EXPECT_EQ(tblMain.RecordTotal(), 3);
    dialogs.answer = true;
    click(B::nbDelete);
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО) FROM Main")), QStringLiteral("А,В"));
    EXPECT_EQ(currentName(), QStringLiteral("В"));
}

TEST_F(NavigatorTest, PostAndRefreshActOnTheRecordSetAndARefusalGoesToTheErrorBox)
{
    addPeople({{"А", 1}});
    tblMain.setActive(true);
    showWindow();
    click(B::nbInsert);
    click(B::nbPost); // the bar posts even a blank record: the database numbers it
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main")), QStringLiteral("2"));

    db.exec(QStringLiteral("UPDATE Main SET ФИО = 'Я' WHERE ФИО = 'А'"));
    click(B::nbRefresh);
    tblMain.ToFirst();
    EXPECT_EQ(currentName(), QStringLiteral("Я"));

    db.exec(QStringLiteral(
        "CREATE TRIGGER no BEFORE UPDATE ON Main BEGIN SELECT RAISE(ABORT, 'запрещено'); END"));
    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("Год")).setAsInt(5);
    click(B::nbPost);
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("запрещено.")});
    EXPECT_EQ(tblMain.state(), RecordSet::State::Editing);
}

TEST_F(NavigatorTest, KeysMoveTheFocusMarkAndSpacePressesTheMarkedButton)
{
    addPeople({{"А", 1}, {"Б", 2}});
    tblMain.setActive(true);
    showWindow();
    bar->setFocus();
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Right);
    QTest::keyClick(bar, Qt::Key_Space); // nbNext
    catchUp();
    EXPECT_EQ(currentName(), QStringLiteral("Б"));
    QTest::keyClick(bar, Qt::Key_Left);
    QTest::keyClick(bar, Qt::Key_Space); // nbPrior
    catchUp();
    EXPECT_EQ(currentName(), QStringLiteral("А"));
}

TEST_F(NavigatorTest, ButtonsShareTheWidthAndPriorAndNextRepeatWhileHeld)
{
    showWindow();
    EXPECT_EQ(bar->width(), 300) << "trimmed to a multiple of ten buttons";
    EXPECT_EQ(bar->button(B::nbLast)->geometry(), QRect(90, 0, 30, 25));
    bar->resize(100, 10);
    EXPECT_EQ(bar->button(B::nbRefresh)->geometry(), QRect(180, 0, 20, 18)) << "at least 20 by 18";
    EXPECT_EQ(bar->button(B::nbRefresh)->accessibleName(), QStringLiteral("Refresh data"));
}

TEST(MessageBoxes, EveryBoxShowsItsTextAsPlainTextNeverAsMarkup)
{
    MessageDialogs boxes;
    const QString typed = QStringLiteral("'<b>2025</b>' is not a valid integer value");
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    const auto inspectAndClose = [&] {
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            format = box->textFormat();
            shown = box->text();
            box->done(0);
        });
    };
    inspectAndClose();
    boxes.showError(typed);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, typed + QLatin1Char('.'));
    for (const auto &show : std::initializer_list<std::function<void()>>{
             [&] { boxes.showNotice(typed); }, [&] { boxes.showInformation(typed); },
             [&] { boxes.confirm(typed); },
             [&] { boxes.showFatal(QStringLiteral("Application Error"), typed); }}) {
        format = Qt::AutoText;
        inspectAndClose();
        show();
        EXPECT_EQ(format, Qt::PlainText);
    }
}

// Moving the cursor, the end flags, and settling a pending change on every move.
#include "RecordSetFixture.h"

#include "recordset/DataLinks.h"

#include <functional>

using State = RecordSet::State;

TEST_F(RecordSetTest, OpeningStandsOnTheFirstRecordWithAllRowsAndColumns)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}, {"Сидоров", 2000}});
    openMain();
    EXPECT_EQ(tblMain.state(), State::Browsing);
    EXPECT_EQ(tblMain.RecordTotal(), 3);
    EXPECT_EQ(tblMain.FieldCount(), 8);
    EXPECT_EQ(tblMain.FieldAt(1).FieldName(), QStringLiteral("ФИО"));
    EXPECT_EQ(name(), QStringLiteral("Иванов"));
    EXPECT_TRUE(tblMain.AtBeginning());
    EXPECT_FALSE(tblMain.AtEnd());
}

TEST_F(RecordSetTest, WalkingUntilAtEndVisitsEveryRecordOnceAndPostsTheLastByTheFinalMove)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}, {"Сидоров", 2000}});
    openMain();
    QStringList visited;
    tblMain.ToFirst();
    tblMain.StartEdit();
    while (!tblMain.AtEnd()) {
        tblMain.StartEdit();
        visited << name();
        tblMain.FieldNamed(QStringLiteral("Возраст")).setAsInt(visited.size());
        tblMain.ToNext();
    }
    EXPECT_EQ(visited, (QStringList{QStringLiteral("Иванов"), QStringLiteral("Петров"),
                                    QStringLiteral("Сидоров")}));
    // The move past the last record posted it, left the cursor on it and set AtEnd.
    EXPECT_EQ(tblMain.state(), State::Browsing);
    EXPECT_EQ(name(), QStringLiteral("Сидоров"));
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(Возраст) FROM Main")),
              QStringLiteral("1,2,3"));

    tblMain.ToNext();
    EXPECT_TRUE(tblMain.AtEnd());
    EXPECT_EQ(name(), QStringLiteral("Сидоров"));
}

TEST_F(RecordSetTest, MovesStopAtEitherEndAndSetTheFlag)
{
    addPeople({{"А", 1}, {"Б", 2}, {"В", 3}, {"Г", 4}});
    openMain();
    tblMain.ToPrior();
    EXPECT_TRUE(tblMain.AtBeginning());
    EXPECT_EQ(name(), QStringLiteral("А"));

    EXPECT_EQ(tblMain.SkipBy(2), 2);
    EXPECT_EQ(name(), QStringLiteral("В"));
    EXPECT_FALSE(tblMain.AtBeginning());
    EXPECT_FALSE(tblMain.AtEnd());

    EXPECT_EQ(tblMain.SkipBy(5), 1);
    EXPECT_TRUE(tblMain.AtEnd());
    EXPECT_EQ(name(), QStringLiteral("Г"));

    EXPECT_EQ(tblMain.SkipBy(-10), -3);
    EXPECT_TRUE(tblMain.AtBeginning());
    EXPECT_FALSE(tblMain.AtEnd());

    tblMain.ToLast();
    EXPECT_TRUE(tblMain.AtEnd());
    EXPECT_EQ(name(), QStringLiteral("Г"));
    tblMain.ToFirst();
    EXPECT_TRUE(tblMain.AtBeginning());
    EXPECT_FALSE(tblMain.AtEnd());
}

TEST_F(RecordSetTest, AnEmptyTableIsAtEndAtOnceAndEditingStartsABlankNewRecord)
{
    openMain();
    tblMain.ToFirst();
    EXPECT_TRUE(tblMain.AtEnd());
    EXPECT_TRUE(tblMain.AtBeginning());
    tblMain.ToNext();
    EXPECT_TRUE(tblMain.AtEnd());
    EXPECT_EQ(tblMain.SkipBy(3), 0);

    tblMain.StartEdit();
    EXPECT_EQ(tblMain.state(), State::Inserting);
    EXPECT_FALSE(tblMain.IsModified());
    EXPECT_EQ(tblMain.RecordTotal(), 0);
    EXPECT_TRUE(tblMain.AtEnd()) << "the result is still empty: a walk must not visit the blank";
    EXPECT_TRUE(tblMain.FieldNamed(QStringLiteral("Год")).IsNull());

    tblMain.ToFirst();
    EXPECT_EQ(tblMain.state(), State::Browsing);
    EXPECT_EQ(storedCount(), 0) << "a blank record vanishes without a word";
}

TEST_F(RecordSetTest, SettlingDropsAnEditWithNothingAssigned)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}});
    openMain();
    tblMain.StartEdit();
    EXPECT_EQ(tblMain.state(), State::Editing);
    db.exec(QStringLiteral("UPDATE Main SET ФИО = 'Другой' WHERE ФИО = 'Иванов'"));
    tblMain.ToNext();
    EXPECT_EQ(tblMain.state(), State::Browsing);
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО FROM Main ORDER BY Код LIMIT 1")),
              QStringLiteral("Другой"))
        << "nothing was written over the other program's change";
}

TEST_F(RecordSetTest, AssigningTheValueAFieldAlreadyHoldsStillWritesTheRecord)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}});
    openMain();
    db.exec(QStringLiteral("CREATE TABLE Written (ФИО TEXT)"));
    db.exec(QStringLiteral("CREATE TRIGGER written AFTER UPDATE ON Main BEGIN "
                           "INSERT INTO Written VALUES (NEW.ФИО); END"));
    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Иванов"));
    EXPECT_TRUE(tblMain.IsModified());
    tblMain.ToNext();
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО) FROM Written")),
              QStringLiteral("Иванов"));
}

TEST_F(RecordSetTest, EveryMoveOnAClosedRecordSetFailsWithItsName)
{
    const QString closed =
        QStringLiteral("tblMain: Cannot perform this operation on a closed dataset");
    expectError([&] { tblMain.ToFirst(); }, closed);
    expectError([&] { tblMain.ToNext(); }, closed);
    expectError([&] { tblMain.ToPrior(); }, closed);
    expectError([&] { tblMain.ToLast(); }, closed);
    expectError([&] { tblMain.SkipBy(1); }, closed);
    expectError([&] { tblMain.StartInsert(); }, closed);
    expectError([&] { tblMain.StartAppend(); }, closed);
    expectError([&] { tblMain.StartEdit(); }, closed);
    expectError([&] { tblMain.DeleteRecord(); }, closed);
    expectError([&] { tblMain.Reread(); }, closed);
    expectError([&] { tblMain.RecordTotal(); }, closed);
    expectError([&] { tblMain.setSortOrder(QStringLiteral("ФИО")); }, closed);
    expectError([&] { tblMain.PostRecord(); },
                QStringLiteral("tblMain: Dataset not in edit or insert mode"));
    expectError([&] { tblMain.FieldNamed(QStringLiteral("ФИО")); },
                QStringLiteral("tblMain: Field 'ФИО' not found"));
    expectError([&] { tblMain.FieldAt(0); }, QStringLiteral("List index out of bounds (0)"));
    tblMain.CancelRecord(); // nothing to cancel, nothing happens
    EXPECT_FALSE(tblMain.Active());
}

TEST_F(RecordSetTest, NotificationsFollowEveryStep)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}});
    Recorder recorder;
    tblMain.attach(&recorder);
    openMain();
    EXPECT_EQ(recorder.events, (QStringList{QStringLiteral("state"), QStringLiteral("layout"),
                                            QStringLiteral("changed")}));

    recorder.events.clear();
    tblMain.ToNext();
    tblMain.ToPrior();
    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("Год")).setAsInt(1981);
    EXPECT_EQ(recorder.events,
              (QStringList{QStringLiteral("scrolled 1"), QStringLiteral("scrolled -1"),
                           QStringLiteral("state"), QStringLiteral("record"),
                           QStringLiteral("field Год")}));

    recorder.events.clear();
    tblMain.ToNext();
    EXPECT_EQ(recorder.events.first(), QStringLiteral("update"))
        << "controls write typed text first";
    EXPECT_TRUE(recorder.events.contains(QStringLiteral("state")));
    EXPECT_EQ(recorder.events.last(), QStringLiteral("scrolled 1"));

    recorder.events.clear();
    tblMain.FieldNamed(QStringLiteral("ФИО")).setVisible(false);
    tblMain.FieldNamed(QStringLiteral("ФИО")).setVisible(false);
    EXPECT_EQ(recorder.events, QStringList{QStringLiteral("layout")});
    tblMain.setActive(false);
    tblMain.setActive(true);
    EXPECT_TRUE(tblMain.FieldNamed(QStringLiteral("ФИО")).Visible()) << "fields are made anew";
    tblMain.detach(&recorder);
}

TEST_F(RecordSetTest, DisabledControlsHearNothingUntilTheLastEnablingAndThenOneRefresh)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}, {"Сидоров", 2000}});
    Recorder control;
    control.onUpdateRecord = [&] {
        tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Иванова"));
    };
    openMain();
    tblMain.attach(&control);
    tblMain.StartEdit();
    control.events.clear();

    tblMain.DisableControls();
    EXPECT_EQ(control.events, (QStringList{QStringLiteral("update"), QStringLiteral("field ФИО")}))
        << "text typed before is written first";
    control.onUpdateRecord = nullptr;
    control.events.clear();
    tblMain.DisableControls();
    tblMain.ToNext();
    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("Год")).setAsInt(1991);
    tblMain.ToNext();
    tblMain.EnableControls();
    EXPECT_TRUE(control.events.isEmpty()) << control.events.join(u',').toStdString();
    tblMain.FieldNamed(QStringLiteral("ФИО")).setVisible(false);
    tblMain.EnableControls();
    EXPECT_EQ(control.events, (QStringList{QStringLiteral("state"), QStringLiteral("layout"),
                                           QStringLiteral("changed")}));
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО || Год) FROM Main")),
              QStringLiteral("Иванова1980,Петров1991,Сидоров2000"));

    control.events.clear();
    tblMain.DisableControls();
    tblMain.EnableControls();
    tblMain.EnableControls(); // one too many changes nothing
    EXPECT_TRUE(control.events.isEmpty()) << "nothing missed, nothing told";

    try {
        const DisabledControls quiet(tblMain);
        tblMain.ToFirst();
        throw Error(QStringLiteral("a failure"));
    } catch (const Error &) {
    }
    EXPECT_FALSE(tblMain.ControlsDisabled()) << "a failure enables them on its way";
    EXPECT_EQ(control.events, (QStringList{QStringLiteral("state"), QStringLiteral("changed")}));
    tblMain.detach(&control);
}

TEST_F(RecordSetTest, TextTypedInAControlIsWrittenWhenTheMoveSettlesAndAFailureStopsTheMove)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}});
    Recorder control;
    QString typed = QStringLiteral("1975");
    control.onUpdateRecord = [&] { tblMain.FieldNamed(QStringLiteral("Год")).setAsText(typed); };
    openMain();
    tblMain.attach(&control);

    tblMain.StartEdit();
    typed = QStringLiteral("19x5");
    expectError([&] { tblMain.ToNext(); },
                QStringLiteral("'19x5' is not a valid integer value for field 'Год'"));
    EXPECT_EQ(tblMain.state(), RecordSet::State::Editing) << "the move did not happen";
    EXPECT_EQ(name(), QStringLiteral("Иванов"));

    typed = QStringLiteral("1975");
    tblMain.ToNext();
    EXPECT_EQ(name(), QStringLiteral("Петров"));
    EXPECT_EQ(stored(QStringLiteral("SELECT Год FROM Main WHERE ФИО = 'Иванов'")),
              QStringLiteral("1975"));
    tblMain.detach(&control);
}

TEST(DataLinks, AWatcherThatLeavesWhileTheyAreToldIsNotToldAndOneThatJoinsWaitsForTheNext)
{
    struct Watcher : DataLink
    {
        QStringList *heard = nullptr;
        QString name;
        std::function<void()> onChange;
        void dataSetChanged() override
        {
            *heard << name;
            if (onChange)
                onChange();
        }
    };
    QStringList heard;
    Watcher a, b, c, d;
    for (auto [watcher, name] : {std::pair{&a, "a"}, {&b, "b"}, {&c, "c"}, {&d, "d"}}) {
        watcher->heard = &heard;
        watcher->name = QLatin1String(name);
    }
    DataLinks links;
    links.add(&a);
    links.add(&b);
    links.add(&c);
    a.onChange = [&] {
        links.remove(&b);
        links.add(&d);
        links.add(&a); // already there: not twice
    };
    links.tell(&DataLink::dataSetChanged);
    EXPECT_EQ(heard, (QStringList{QStringLiteral("a"), QStringLiteral("c")}));

    heard.clear();
    a.onChange = [] { throw Error(QStringLiteral("refused")); };
    EXPECT_THROW(links.tell(&DataLink::dataSetChanged), Error);
    a.onChange = nullptr;
    heard.clear();
    links.tell(&DataLink::dataSetChanged);
    EXPECT_EQ(heard, (QStringList{QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("d")}))
        << "a failure leaves the list whole and in order";
    links.remove(&c);
    heard.clear();
    links.tell(&DataLink::dataSetChanged);
    EXPECT_EQ(heard, (QStringList{QStringLiteral("a"), QStringLiteral("d")}));
}

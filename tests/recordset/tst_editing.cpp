// Inserting, editing, posting, cancelling, deleting, re-reading and sorting.
#include "RecordSetFixture.h"

#include "engines/EngineErrors.h"

using State = RecordSet::State;

TEST_F(RecordSetTest, APostWritesOnlyTheFieldsAssignedDuringTheEdit)
{
    addPeople({{"Иванов", 1980}});
    openMain();
    // Notes every column an UPDATE names.
    db.exec(QStringLiteral("CREATE TABLE Written (Столбец TEXT)"));
    for (const char *column : {"ФИО", "Год", "Число", "Возраст"}) {
        db.exec(QStringLiteral("CREATE TRIGGER written_%1 AFTER UPDATE OF %1 ON Main BEGIN "
                               "INSERT INTO Written VALUES ('%1'); END")
                    .arg(QString::fromUtf8(column)));
    }
    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Иванова"));
    tblMain.PostRecord();
    EXPECT_EQ(tblMain.state(), State::Browsing);
    EXPECT_FALSE(tblMain.IsModified());
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(Столбец) FROM Written")),
              QStringLiteral("ФИО"));
}

TEST_F(RecordSetTest, ANewRecordGetsItsKeyFromTheDatabaseAndLeavesUnassignedColumnsEmpty)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}});
    openMain();
    tblMain.ToNext();
    tblMain.StartInsert();
    EXPECT_EQ(tblMain.currentRow(), 1) << "shown directly above the record that was current";
    EXPECT_EQ(tblMain.RecordTotal(), 2) << "the blank record is not counted";
    tblMain.StartEdit();
    EXPECT_EQ(tblMain.state(), State::Inserting);
    tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Новикова"));
    tblMain.FieldNamed(QStringLiteral("Год")).setAsInt(2001);
    tblMain.PostRecord();

    EXPECT_EQ(tblMain.RecordTotal(), 3);
    EXPECT_EQ(name(), QStringLiteral("Новикова"));
    EXPECT_EQ(tblMain.FieldAt(0).AsInt(), 3);
    EXPECT_TRUE(tblMain.FieldNamed(QStringLiteral("Возраст")).IsNull());
    EXPECT_EQ(stored(QStringLiteral("SELECT Код || ' ' || ФИО || ' ' || Год || ' ' || "
                                    "ifnull(Возраст, 'null') FROM Main WHERE ФИО = 'Новикова'")),
              QStringLiteral("3 Новикова 2001 null"));
}

TEST_F(RecordSetTest, ABlankInsertVanishesSilentlyAndTheRecordBeforeItIsCurrentAgain)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}});
    openMain();
    tblMain.ToNext();
    tblMain.StartInsert();
    tblMain.StartEdit();
    EXPECT_FALSE(tblMain.IsModified());
    tblMain.ToNext();
    EXPECT_EQ(tblMain.state(), State::Browsing);
    EXPECT_EQ(tblMain.RecordTotal(), 2);
    EXPECT_EQ(storedCount(), 2);

    tblMain.ToLast();
    tblMain.StartAppend();
    EXPECT_EQ(tblMain.currentRow(), 2);
    tblMain.CancelRecord();
    EXPECT_EQ(name(), QStringLiteral("Петров"));
    EXPECT_EQ(tblMain.rowCount(), 2);
}

TEST_F(RecordSetTest, ARefusedPostKeepsEverythingPendingUntilCorrected)
{
    addPeople({{"Иванов", 1980}});
    db.exec(QStringLiteral("CREATE TRIGGER future BEFORE UPDATE ON Main WHEN NEW.Год > 2100 "
                           "BEGIN SELECT RAISE(ABORT, 'год рождения в будущем'); END"));
    openMain();
    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Иванов-Петров"));
    tblMain.FieldNamed(QStringLiteral("Год")).setAsInt(2200);
    expectError([&] { tblMain.ToNext(); }, QStringLiteral("год рождения в будущем"));
    EXPECT_EQ(tblMain.state(), State::Editing);
    EXPECT_TRUE(tblMain.IsModified());
    EXPECT_EQ(name(), QStringLiteral("Иванов-Петров"));
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО || Год FROM Main")), QStringLiteral("Иванов1980"));

    tblMain.FieldNamed(QStringLiteral("Год")).setAsInt(1981);
    tblMain.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО || Год FROM Main")),
              QStringLiteral("Иванов-Петров1981"));
}

TEST_F(RecordSetTest, DeletingRemovesTheRowAndMovesToTheNextOrThePrevious)
{
    addPeople({{"А", 1}, {"Б", 2}, {"В", 3}});
    openMain();
    tblMain.ToNext();
    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("изменение"));
    tblMain.DeleteRecord();
    EXPECT_EQ(tblMain.state(), State::Browsing);
    EXPECT_EQ(name(), QStringLiteral("В"));
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО) FROM Main")), QStringLiteral("А,В"));

    tblMain.DeleteRecord();
    EXPECT_EQ(name(), QStringLiteral("А")) << "after the last one, the previous";
    tblMain.StartInsert();
    tblMain.DeleteRecord(); // a new record is only cancelled
    EXPECT_EQ(storedCount(), 1);
    tblMain.DeleteRecord();
    EXPECT_TRUE(tblMain.AtEnd());
    EXPECT_TRUE(tblMain.AtBeginning());
    expectError([&] { tblMain.DeleteRecord(); },
                QStringLiteral("tblMain: Cannot perform this operation on an empty dataset"));
}

TEST_F(RecordSetTest, RereadKeepsTheCursorOrMovesToTheNextSurvivor)
{
    addPeople({{"А", 1}, {"Б", 2}, {"В", 3}, {"Г", 4}});
    openMain();
    tblMain.SkipBy(1);
    db.exec(QStringLiteral("UPDATE Main SET Год = 20 WHERE ФИО = 'Б'"));
    tblMain.Reread();
    EXPECT_EQ(name(), QStringLiteral("Б"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Год")).AsInt(), 20);

    db.exec(QStringLiteral("DELETE FROM Main WHERE ФИО IN ('Б', 'В')"));
    tblMain.Reread();
    EXPECT_EQ(name(), QStringLiteral("Г"));
    EXPECT_EQ(tblMain.RecordTotal(), 2);

    db.exec(QStringLiteral("DELETE FROM Main WHERE ФИО = 'Г'"));
    tblMain.Reread();
    EXPECT_EQ(name(), QStringLiteral("А")) << "no later survivor: the previous one";
}

TEST_F(RecordSetTest, ClosingDropsAPendingChangeWithoutWritingIt)
{
    addPeople({{"Иванов", 1980}});
    openMain();
    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Сидоров"));
    tblMain.setActive(false);
    EXPECT_EQ(tblMain.state(), State::Closed);
    EXPECT_FALSE(tblMain.IsModified());
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО FROM Main")), QStringLiteral("Иванов"));

    {
        RecordSet scratch(QStringLiteral("scratch"), connection, RecordSet::Kind::Table);
        scratch.setTableName(QStringLiteral("Main"));
        scratch.setActive(true);
        scratch.StartInsert();
        scratch.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("Новый"));
    } // destroyed while inserting, as at the end of the program
    EXPECT_EQ(storedCount(), 1);
}

TEST_F(RecordSetTest, SortOrderComparesTextsAsARussianReaderDoesWithEmptyFirst)
{
    addPeople({{"Яковлев", 1}, {"Ёлкин", 2}, {"Абрамов", 3}, {"жуков", 4}, {"Ежов", 5}});
    openMain();
    tblMain.StartInsert();
    tblMain.FieldNamed(QStringLiteral("Год")).setAsInt(6); // a person without a name yet
    tblMain.setSortOrder(QStringLiteral("фио"));
    EXPECT_EQ(tblMain.SortOrder(), QStringLiteral("ФИО"));
    EXPECT_EQ(storedCount(), 6) << "sorting settles the pending record first";

    QStringList order;
    for (tblMain.ToFirst(); !tblMain.AtEnd(); tblMain.ToNext())
        order << name();
    EXPECT_EQ(order, (QStringList{QString(), QStringLiteral("Абрамов"), QStringLiteral("Ежов"),
                                  QStringLiteral("Ёлкин"), QStringLiteral("жуков"),
                                  QStringLiteral("Яковлев")}));

    tblMain.setSortOrder(QStringLiteral("Год"));
    tblMain.ToFirst();
    EXPECT_EQ(name(), QStringLiteral("Яковлев"));
    expectError([&] { tblMain.setSortOrder(QStringLiteral("Отчество")); },
                QStringLiteral("tblMain: Field 'Отчество' not found"));
}

TEST_F(RecordSetTest, ASecondConnectionSeesPostedChangesAndCanPostItself)
{
    addPeople({{"Иванов", 1980}});
    openMain();
    Connection secondConnection(db.path());
    RecordSet second(QStringLiteral("tblMain"), secondConnection, RecordSet::Kind::Table);
    second.setTableName(QStringLiteral("Main"));
    second.setActive(true);

    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("Возраст")).setAsInt(45);
    tblMain.PostRecord();
    second.Reread();
    EXPECT_EQ(second.FieldNamed(QStringLiteral("Возраст")).AsInt(), 45);

    second.StartEdit();
    second.FieldNamed(QStringLiteral("Юбилей")).setAsText(QStringLiteral("да"));
    second.PostRecord();
    tblMain.Reread();
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Юбилей")).AsText(), QStringLiteral("да"));
}

TEST_F(RecordSetTest, EveryValueLandsInItsOwnColumnWhateverOrderTheFieldsWereAssignedIn)
{
    addPeople({{"Иванов", 1980}, {"Петров", 1990}, {"Сидоров", 2000}});
    openMain();
    Field &age = tblMain.FieldNamed(QStringLiteral("Возраст"));
    Field &mark = tblMain.FieldNamed(QStringLiteral("Юбилей"));
    // The mark first, then the age; then the other way round for the same two columns.
    tblMain.StartEdit();
    mark.setAsText(QStringLiteral("да"));
    age.setAsInt(45);
    tblMain.ToNext();
    tblMain.StartEdit();
    age.setAsInt(35);
    mark.setAsText(QStringLiteral("да"));
    tblMain.ToNext();
    tblMain.StartEdit();
    mark.setAsText(QStringLiteral("нет"));
    age.setAsInt(26);
    tblMain.ToNext();
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО || ' ' || quote(Возраст) || ' ' || "
                                    "quote(Юбилей), '; ') FROM Main")),
              QStringLiteral("Иванов 45 'да'; Петров 35 'да'; Сидоров 26 'нет'"));
}

TEST_F(RecordSetTest, SortingAfterInsertsAndDeletesKeepsTheCursorOnTheRecordThatWasCurrent)
{
    addPeople({{"Борисов", 1970}, {"Антонов", 1980}});
    openMain();
    const auto insertNamed = [&](const char *name) {
        tblMain.StartInsert();
        tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QString::fromUtf8(name));
        tblMain.PostRecord();
    };
    insertNamed("Волков");
    tblMain.ToLast();
    tblMain.DeleteRecord(); // Антонов
    insertNamed("Гусев");
    tblMain.ToFirst();
    ASSERT_EQ(name(), QStringLiteral("Волков"));
    tblMain.setSortOrder(QStringLiteral("ФИО"));
    EXPECT_EQ(name(), QStringLiteral("Волков"));
    tblMain.setSortOrder(QStringLiteral("Год"));
    EXPECT_EQ(name(), QStringLiteral("Волков"));
    tblMain.ToLast();
    const QString last = name();
    tblMain.setSortOrder(QString());
    EXPECT_EQ(name(), last);
}

// Query record sets: the SQL line list, updating rows of a query through the table's key.
#include "RecordSetFixture.h"

class QueryTest : public RecordSetTest
{
protected:
    QueryTest()
    {
        addPeople({{"Иванов", 1980}, {"Петров", 1975}, {"Сидоров", 1990}});
        db.exec(QStringLiteral("UPDATE Main SET Месяц = 3 WHERE ФИО <> 'Петров'"));
        db.exec(QStringLiteral("UPDATE Main SET Месяц = 13 WHERE ФИО = 'Петров'"));
    }
    void select(const QStringList &lines)
    {
        query.SQL().clear();
        for (const QString &line : lines)
            query.SQL().add(line);
        query.setActive(true);
    }

    RecordSet query{QStringLiteral("qryZapros1"), connection, RecordSet::Kind::Query};
};

TEST_F(QueryTest, TheLinesAreJoinedWithLineBreaksAndEveryChangeClosesTheQuery)
{
    select({QStringLiteral("select * from Main"), QStringLiteral("where Месяц like '3'")});
    EXPECT_EQ(query.SQL().text(), QStringLiteral("select * from Main\r\nwhere Месяц like '3'\r\n"));
    EXPECT_EQ(query.RecordTotal(), 2) << "like '3' matches 3, not 13";
    EXPECT_EQ(query.FieldCount(), 8);
    EXPECT_EQ(query.FieldAt(1).FieldName(), QStringLiteral("ФИО"));
    EXPECT_EQ(query.FieldAt(7).FieldName(), QStringLiteral("Юбилей"));

    query.StartEdit();
    query.FieldNamed(QStringLiteral("ФИО")).setAsText(QStringLiteral("не сохранится"));
    query.SQL().add(QStringLiteral("order by ФИО"));
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = 'не сохранится'")),
              QStringLiteral("0"));

    query.SQL().clear();
    query.SQL().clear(); // already empty: nothing changes
    EXPECT_TRUE(query.SQL().lines().isEmpty());
}

TEST_F(QueryTest, RowsOfASelectFromMainAreUpdatedAndDeletedThroughTheKey)
{
    select({QStringLiteral("select * from Main where Месяц = 3")});
    EXPECT_TRUE(query.FieldAt(0).ReadOnly());
    query.ToNext();
    query.StartEdit();
    query.FieldNamed(QStringLiteral("Юбилей")).setAsText(QStringLiteral("да"));
    query.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО) FROM Main WHERE Юбилей = 'да'")),
              QStringLiteral("Сидоров"));
    query.ToFirst();
    query.DeleteRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT group_concat(ФИО) FROM Main")),
              QStringLiteral("Петров,Сидоров"));
}

TEST_F(QueryTest, AResultWithoutTheKeyOrWithExpressionsCannotBeChanged)
{
    select({QStringLiteral("select ФИО, Год from Main")});
    expectError([&] { query.StartEdit(); },
                QStringLiteral("qryZapros1: Cannot modify a read-only dataset"));
    expectError([&] { query.DeleteRecord(); },
                QStringLiteral("qryZapros1: Cannot modify a read-only dataset"));
    EXPECT_EQ(query.state(), RecordSet::State::Browsing);
    // The key is there, but the columns come from two tables.
    select({QStringLiteral(
        "select Main.Код, ФИО, Mesyats.Месяц from Main join Mesyats using (Месяц)")});
    ASSERT_GT(query.RecordTotal(), 0);
    expectError([&] { query.StartEdit(); },
                QStringLiteral("qryZapros1: Cannot modify a read-only dataset"));

    select({QStringLiteral("select Код, ФИО, 2025 - Год as Возраст from Main order by Год")});
    EXPECT_EQ(query.FieldAt(2).DataType(), FieldType::Int32);
    EXPECT_EQ(query.FieldAt(2).AsInt(), 50);
    query.StartEdit();
    expectError([&] { query.FieldAt(2).setAsInt(1); },
                QStringLiteral("Field 'Возраст' cannot be modified"));
    query.FieldAt(1).setAsText(QStringLiteral("Петрова"));
    query.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT count(*) FROM Main WHERE ФИО = 'Петрова'")),
              QStringLiteral("1"));
    expectError([&] { query.FieldAt(7); }, QStringLiteral("List index out of bounds (7)"));
}

TEST_F(QueryTest, AWrongTextFailsWithTheEnginesMessageAndStaysClosed)
{
    expectError([&] { select({QStringLiteral("select * from Nowhere")}); },
                QStringLiteral("no such table: Nowhere"));
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(query.state(), RecordSet::State::Closed);
}

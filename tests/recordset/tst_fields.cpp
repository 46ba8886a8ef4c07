// Field accessors: conversions, null, text size, ranges, read-only fields and their messages.
#include "RecordSetFixture.h"

#include "LocaleText.h"

class FieldTest : public RecordSetTest
{
protected:
    FieldTest()
    {
        db.exec(QStringLiteral("CREATE TABLE Kinds (Код INTEGER PRIMARY KEY, s SMALLINT, w WORD, "
                               "d DOUBLE, t VARCHAR(5), memo TEXT, dt DATETIME, pic BLOB)"));
        db.exec(QStringLiteral("INSERT INTO Kinds (s, w, d, t, memo, pic) VALUES (1, 2, 2.5, "
                               "'abc', 'x', zeroblob(12345))"));
        kinds.setTableName(QStringLiteral("Kinds"));
        kinds.setActive(true);
        kinds.StartEdit();
    }
    Field &field(const char *name) { return kinds.FieldNamed(QString::fromUtf8(name)); }

    RecordSet kinds{QStringLiteral("tblKinds"), connection, RecordSet::Kind::Table};
};

TEST_F(FieldTest, TypesComeFromTheDeclaredColumns)
{
    EXPECT_EQ(field("Код").DataType(), FieldType::Int32);
    EXPECT_TRUE(field("Код").ReadOnly()) << "numbered by the database";
    EXPECT_EQ(field("s").DataType(), FieldType::Int16);
    EXPECT_EQ(field("w").DataType(), FieldType::UInt16);
    EXPECT_EQ(field("d").DataType(), FieldType::Double);
    EXPECT_EQ(field("t").DataType(), FieldType::Text);
    EXPECT_EQ(field("t").Size(), 5);
    EXPECT_EQ(field("memo").Size(), 0);
    EXPECT_FALSE(field("t").ReadOnly());
}

TEST_F(FieldTest, LookupByNameIgnoresCaseCyrillicIncluded)
{
    addPeople({{"Иванов", 1980}});
    tblMain.setActive(true);
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("фио")).Index(), 1);
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("ДАТА_РОЖДЕНИЯ")).Index(), 2);
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("юбилей")).FieldName(), QStringLiteral("Юбилей"));
    expectError([&] { tblMain.FieldNamed(QStringLiteral("Отчество")); },
                QStringLiteral("tblMain: Field 'Отчество' not found"));
    expectError([&] { tblMain.FieldAt(8); }, QStringLiteral("List index out of bounds (8)"));
    expectError([&] { tblMain.FieldAt(-1); }, QStringLiteral("List index out of bounds (-1)"));
}

TEST_F(FieldTest, TheEmptyTextStoresNullInANumberButAnEmptyTextInAText)
{
    field("s").setAsText(QString());
    field("d").setAsText(QString());
    field("t").setAsText(QString());
    EXPECT_TRUE(field("s").IsNull());
    EXPECT_EQ(field("s").AsInt(), 0);
    EXPECT_EQ(field("s").AsText(), QString());
    EXPECT_EQ(field("d").AsNumber(), 0);
    kinds.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT quote(s) || quote(d) || quote(t) FROM Kinds")),
              QStringLiteral("NULLNULL''"));
    expectError([&] { field("t").AsInt(); }, QStringLiteral("'' is not a valid integer value"));
}

TEST_F(FieldTest, AnUnconvertibleTextFailsAndLeavesTheFieldAsItWas)
{
    addPeople({{"Иванов", 1980}});
    tblMain.setActive(true);
    tblMain.StartEdit();
    Field &day = tblMain.FieldNamed(QStringLiteral("Число"));
    expectError([&] { day.setAsText(QStringLiteral("12a")); },
                QStringLiteral("'12a' is not a valid integer value for field 'Число'"));
    EXPECT_EQ(day.AsInt(), 1);
    EXPECT_FALSE(tblMain.IsModified());
    expectError([&] { field("d").setAsText(QStringLiteral("два")); },
                QStringLiteral("'два' is not a valid floating point value for field 'd'"));
    // Integer fields take decimal digits only: the hexadecimal forms belong to the handlers.
    for (const char *hex : {"$1F", " $1F", "0x1F", "x1F", "-$10"}) {
        expectError([&] { day.setAsText(QString::fromUtf8(hex)); },
                    QStringLiteral("'%1' is not a valid integer value for field 'Число'")
                        .arg(QString::fromUtf8(hex)));
    }
    EXPECT_FALSE(tblMain.IsModified());
    day.setAsText(QStringLiteral(" -31"));
    EXPECT_EQ(day.AsInt(), -31);
    field("t").setAsText(QStringLiteral("$1F"));
    expectError([&] { field("t").AsInt(); }, QStringLiteral("'$1F' is not a valid integer value"));
    field("t").setAsText(QStringLiteral("+42"));
    EXPECT_EQ(field("t").AsInt(), 42);
}

TEST_F(FieldTest, AValueAnotherProgramStoredOutOfRangeShowsAsTheNumberAndIsNotCast)
{
    addPeople({{"Иванов", 1980}});
    db.exec(QStringLiteral("UPDATE Main SET Возраст = 1e300, Число = -1e19, Месяц = 2.0"));
    db.exec(QStringLiteral("UPDATE Kinds SET s = 40000.0, w = 1e10"));
    kinds.CancelRecord();
    kinds.Reread();
    tblMain.setActive(true);
    Field &age = tblMain.FieldNamed(QStringLiteral("Возраст"));
    EXPECT_EQ(age.AsText(), QStringLiteral("1E300"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Число")).AsText(), QStringLiteral("-1E19"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Месяц")).AsText(), QStringLiteral("2"));
    EXPECT_EQ(tblMain.FieldNamed(QStringLiteral("Месяц")).AsInt(), 2);
    EXPECT_EQ(age.AsNumber(), 1e300);
    expectError([&] { age.AsInt(); },
                QStringLiteral("1E300 is not a valid value for field 'Возраст'. The allowed range "
                               "is -2147483648 to 2147483647"));
    expectError([&] { field("s").AsInt(); },
                QStringLiteral("40000 is not a valid value for field 's'. The allowed range is "
                               "-32768 to 32767"));
    expectError([&] { field("w").AsInt(); },
                QStringLiteral("10000000000 is not a valid value for field 'w'. The allowed range "
                               "is 0 to 65535"));
}

TEST_F(FieldTest, NumbersOutsideAFieldsRangeAreRefused)
{
    expectError(
        [&] { field("s").setAsInt(40000); },
        QStringLiteral(
            "40000 is not a valid value for field 's'. The allowed range is -32768 to 32767"));
    expectError(
        [&] { field("w").setAsText(QStringLiteral("-1")); },
        QStringLiteral("-1 is not a valid value for field 'w'. The allowed range is 0 to 65535"));
    field("s").setAsInt(-32768);
    field("w").setAsInt(65535);
    kinds.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT s || ' ' || w FROM Kinds")),
              QStringLiteral("-32768 65535"));
}

TEST_F(FieldTest, ATextLongerThanTheFieldIsCutToItsSize)
{
    field("t").setAsText(QStringLiteral("абвгдеёжз"));
    EXPECT_EQ(field("t").AsText(), QStringLiteral("абвгд"));
    field("memo").setAsText(QString(1000, QLatin1Char('m')));
    field("t").setAsInt(1234567);
    kinds.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT t || ' ' || length(memo) FROM Kinds")),
              QStringLiteral("12345 1000"));
}

TEST_F(FieldTest, CuttingNeverSplitsALetterOutsideTheBasicPlane)
{
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    addPeople({{"Иванов", 1980}});
    tblMain.setActive(true);
    tblMain.StartEdit();
    // 59 letters and an emoji are 60 characters: the name's size, kept whole.
    const QString name = QString(59, QChar(u'я')) + emoji;
    tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(name);
    field("t").setAsText(QStringLiteral("abcde") + emoji);
    kinds.PostRecord();
    tblMain.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT ФИО FROM Main")), name);
    EXPECT_EQ(stored(QStringLiteral("SELECT length(ФИО) FROM Main")), QStringLiteral("60"));
    EXPECT_EQ(stored(QStringLiteral("SELECT t FROM Kinds")), QStringLiteral("abcde"));

    tblMain.StartEdit();
    tblMain.FieldNamed(QStringLiteral("ФИО")).setAsText(QString(60, QChar(u'я')) + emoji);
    tblMain.PostRecord();
    // Valid UTF-8 in the file: 60 two-byte letters and nothing of the emoji.
    EXPECT_EQ(stored(QStringLiteral("SELECT length(CAST(ФИО AS BLOB)) FROM Main")),
              QStringLiteral("120"));
}

TEST_F(FieldTest, FloatingPointFieldsReadAsTextIntegerAndNumber)
{
    EXPECT_EQ(field("d").AsText(), localNumber("2.5"));
    EXPECT_EQ(field("d").AsInt(), 2) << "a half goes to the even neighbour";
    field("d").setAsNumber(3.5);
    EXPECT_EQ(field("d").AsInt(), 4);
    field("d").setAsText(QStringLiteral("1e20"));
    EXPECT_EQ(field("d").AsText(), QStringLiteral("1E20"));
    field("s").setAsNumber(2.5);
    EXPECT_EQ(field("s").AsInt(), 2);
    field("t").setAsText(localNumber("7.25"));
    EXPECT_EQ(field("t").AsNumber(), 7.25);
    field("d").setAsText(localNumber("0.125"));
    EXPECT_EQ(field("d").AsNumber(), 0.125);
    const QString foreign = QLocale::system().decimalPoint() == QStringLiteral(",")
                                ? QStringLiteral("7.25")
                                : QStringLiteral("7,25");
    field("t").setAsText(foreign);
    expectError([&] { field("t").AsNumber(); },
                QStringLiteral("'%1' is not a valid floating point value").arg(foreign));
    expectError([&] { field("t").AsInt(); },
                QStringLiteral("'%1' is not a valid integer value").arg(foreign));
}

TEST_F(FieldTest, WritesNeedEditingAndAWritableField)
{
    expectError([&] { field("Код").setAsInt(5); },
                QStringLiteral("Field 'Код' cannot be modified"));
    kinds.CancelRecord();
    expectError([&] { field("t").setAsText(QStringLiteral("x")); },
                QStringLiteral("tblKinds: Dataset not in edit or insert mode"));
    expectError([&] { kinds.PostRecord(); },
                QStringLiteral("tblKinds: Dataset not in edit or insert mode"));
    EXPECT_EQ(kinds.state(), RecordSet::State::Browsing);
}

// Dates are typed in Russian or ISO form and held as ISO text; binary data shows by its size and
// is never written; neither offers a number.
TEST_F(FieldTest, DatesAreTypedInEitherFormAndBinaryDataShowsItsSize)
{
    const struct
    {
        const char *typed;
        const char *held; // empty: refused
        const char *shown;
    } dates[] = {
        {"02.12.2021", "'2021-12-02'", "02.12.2021"},
        {"2.1.0632", "'0632-01-02'", "02.01.0632"},
        {" 31.12.9999 23:59:59 ", "'9999-12-31 23:59:59'", "31.12.9999 23:59:59"},
        {"2021-12-02 08:30", "'2021-12-02 08:30:00'", "02.12.2021 08:30:00"},
        {"29.02.2024 00:00", "'2024-02-29'", "29.02.2024"},
        {"", "NULL", ""},
        {"29.02.2023", "", ""},
        {"2021-13-01", "", ""},
        {"01.01.2000 24:00", "", ""},
        {"01.01.99", "", ""},
        {"0000-01-01", "", ""},
    };
    for (const auto &c : dates) {
        const QString typed = QString::fromUtf8(c.typed);
        SCOPED_TRACE(c.typed);
        kinds.StartEdit();
        field("dt").setAsText(QStringLiteral("01.01.2000"));
        if (*c.held == 0) {
            expectError(
                [&] { field("dt").setAsText(typed); },
                QStringLiteral("'%1' is not a valid date and time for field 'dt'").arg(typed));
            EXPECT_EQ(field("dt").AsText(), QStringLiteral("01.01.2000")) << "left as it was";
            kinds.CancelRecord();
            continue;
        }
        field("dt").setAsText(typed);
        kinds.PostRecord();
        EXPECT_EQ(stored(QStringLiteral("SELECT quote(dt) FROM Kinds")), QString::fromUtf8(c.held));
        EXPECT_EQ(field("dt").AsText(), QString::fromUtf8(c.shown));
    }

    EXPECT_EQ(field("dt").DataType(), FieldType::Date);
    EXPECT_EQ(field("pic").DataType(), FieldType::Blob);
    EXPECT_EQ(field("pic").AsText(), QStringLiteral("(двоичные данные, 12 345 байт)"));
    EXPECT_TRUE(field("pic").ReadOnly());
    kinds.StartEdit();
    expectError([&] { field("pic").setAsText(QStringLiteral("x")); },
                QStringLiteral("Field 'pic' cannot be modified"));
    for (const char *name : {"dt", "pic"}) {
        expectError(
            [&] { field(name).AsInt(); },
            QStringLiteral("Cannot access field '%1' as type Integer").arg(QLatin1String(name)));
        expectError(
            [&] { field(name).AsNumber(); },
            QStringLiteral("Cannot access field '%1' as type Float").arg(QLatin1String(name)));
    }
    expectError([&] { field("dt").setAsInt(5); },
                QStringLiteral("Cannot access field 'dt' as type Integer"));
    kinds.PostRecord();
    EXPECT_EQ(stored(QStringLiteral("SELECT length(pic) FROM Kinds")), QStringLiteral("12345"));
}

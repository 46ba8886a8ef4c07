// Conversions between texts and numbers, and the error box's full-stop rule.
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "recordset/Convert.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace Convert;

namespace {

std::optional<int> toInt(const char *text)
{
    int value = 0;
    if (!tryTextToInt(QString::fromUtf8(text), value))
        return std::nullopt;
    return value;
}

} // namespace

TEST(TextToInt, AcceptsDecimalWithLeadingBlanksAndSign)
{
    EXPECT_EQ(toInt("2025"), 2025);
    EXPECT_EQ(toInt(" 2025"), 2025);
    EXPECT_EQ(toInt("   -7"), -7);
    EXPECT_EQ(toInt("+15"), 15);
    EXPECT_EQ(toInt("007"), 7);
    EXPECT_EQ(toInt("2147483647"), 2147483647);
    EXPECT_EQ(toInt("-2147483648"), std::numeric_limits<int>::min());
}

TEST(TextToInt, AcceptsEveryHexadecimalForm)
{
    EXPECT_EQ(toInt("$1F"), 31);
    EXPECT_EQ(toInt("x1f"), 31);
    EXPECT_EQ(toInt("X10"), 16);
    EXPECT_EQ(toInt("0x10"), 16);
    EXPECT_EQ(toInt("0XfF"), 255);
    EXPECT_EQ(toInt("-$10"), -16);
    EXPECT_EQ(toInt("$FFFFFFFF"), -1) << "all 32 bits are used as they stand";
}

TEST(TextToInt, RefusesAnythingThatIsNotExactlyOneInteger)
{
    for (const char *bad : {"", " ", "2025 ", "12a", "1 2", "-", "+", "$", "0x", "1.5", "1e3",
                            "2147483648", "-2147483649", "$100000000", "$G", "٣", "１２"}) {
        EXPECT_EQ(toInt(bad), std::nullopt) << '"' << bad << '"';
    }
}

TEST(TextToInt, FailureNamesTheWholeText)
{
    try {
        textToInt(QStringLiteral("2025 "));
        FAIL() << "no exception";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("'2025 ' is not a valid integer value"));
    }
    try {
        textToInt(QString());
        FAIL() << "no exception";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("'' is not a valid integer value"));
    }
}

TEST(FloatText, FifteenSignificantDigitsInGeneralForm)
{
    // The tests run in the C locale, whose decimal separator is the point.
    ASSERT_EQ(QLocale::system().decimalPoint(), QStringLiteral("."));
    EXPECT_EQ(floatToText(0.5), QStringLiteral("0.5"));
    EXPECT_EQ(floatToText(1234.25), QStringLiteral("1234.25"));
    EXPECT_EQ(floatToText(-3), QStringLiteral("-3"));
    EXPECT_EQ(floatToText(1.0 / 3), QStringLiteral("0.333333333333333"));
    EXPECT_EQ(floatToText(1e20), QStringLiteral("1E20"));
    EXPECT_EQ(floatToText(0.00001), QStringLiteral("1E-5"));
    EXPECT_EQ(floatToText(0.0001), QStringLiteral("0.0001"));
    EXPECT_EQ(floatToText(-32768), QStringLiteral("-32768"));
    EXPECT_EQ(floatToText(2147483647), QStringLiteral("2147483647"));
}

TEST(FloatText, ParsesDecimalNumbersOnly)
{
    double v = 0;
    EXPECT_TRUE(tryTextToFloat(QStringLiteral(" 12.5 "), v));
    EXPECT_DOUBLE_EQ(v, 12.5);
    EXPECT_TRUE(tryTextToFloat(QStringLiteral("-1e3"), v));
    EXPECT_DOUBLE_EQ(v, -1000);
    EXPECT_TRUE(tryTextToFloat(QStringLiteral(".5"), v));
    EXPECT_DOUBLE_EQ(v, 0.5);
    for (const char *bad : {"", "abc", "1,5", "1e", "0x10", "inf", "nan", "1.2.3", "--1"})
        EXPECT_FALSE(tryTextToFloat(QString::fromUtf8(bad), v)) << bad;
}

TEST(FloatText, RoundsHalvesToTheEvenNeighbour)
{
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(3.5), 4);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(2.6), 3);
}

TEST(ErrorBoxText, AppendsAFullStopOnlyAfterCharactersAboveIt)
{
    EXPECT_EQ(errorBoxText(QStringLiteral("Field 'x' not found")),
              QStringLiteral("Field 'x' not found."));
    EXPECT_EQ(errorBoxText(QStringLiteral("Ошибка")), QStringLiteral("Ошибка."));
    EXPECT_EQ(errorBoxText(QStringLiteral("value 5")), QStringLiteral("value 5."));
    EXPECT_EQ(errorBoxText(QStringLiteral("why?")), QStringLiteral("why?."));
    EXPECT_EQ(errorBoxText(QStringLiteral("list:")), QStringLiteral("list:."));
    for (const char *kept : {"", "Done.", "Stop!", "List index out of bounds (7)",
                             "'2025 ' is not a valid integer value'", "a,", "a-", "a "}) {
        EXPECT_EQ(errorBoxText(QString::fromUtf8(kept)), QString::fromUtf8(kept)) << kept;
    }
}

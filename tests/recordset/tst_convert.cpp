// Conversions between texts and numbers, and the error box's full-stop rule.
#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "recordset/Convert.h"

#include "LocaleText.h"

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

std::optional<int> decimalToInt(const char *text)
{
    int value = 0;
    if (!tryDecimalTextToInt(QString::fromUtf8(text), value))
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

TEST(TextToInt, TheDecimalFormTakesNoHexadecimalPrefix)
{
    EXPECT_EQ(decimalToInt(" -2025"), -2025);
    EXPECT_EQ(decimalToInt("+0"), 0);
    EXPECT_EQ(decimalToInt("2147483647"), 2147483647);
    for (const char *bad : {"$1F", "x1f", "X10", "0x10", "0X10", "-$10", "1F", "", " ", "7 "})
        EXPECT_EQ(decimalToInt(bad), std::nullopt) << '"' << bad << '"';
    try {
        decimalTextToInt(QStringLiteral("$1F"));
        FAIL() << "no exception";
    } catch (const Error &e) {
        EXPECT_EQ(e.message(), QStringLiteral("'$1F' is not a valid integer value"));
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

TEST(Locale, TheTestsRunInTheLocaleTheirTestSets)
{
    // CTest runs these tests under the C locale and under the office's ru_RU.UTF-8; a locale that
    // silently fell back to C would make the second run prove nothing.
    const QByteArray chosen = qgetenv("LC_ALL");
    ASSERT_FALSE(chosen.isEmpty()) << "LC_ALL is set by CTest";
    const QString expected = chosen.startsWith("ru_RU") ? QStringLiteral(",") : QStringLiteral(".");
    EXPECT_EQ(QLocale::system().decimalPoint(), expected) << chosen.constData();
}

TEST(FloatText, FifteenSignificantDigitsInGeneralForm)
{
    EXPECT_EQ(floatToText(0.5), localNumber("0.5"));
    EXPECT_EQ(floatToText(1234.25), localNumber("1234.25"));
    EXPECT_EQ(floatToText(-3), QStringLiteral("-3"));
    EXPECT_EQ(floatToText(1.0 / 3), localNumber("0.333333333333333"));
    EXPECT_EQ(floatToText(1e20), QStringLiteral("1E20"));
    EXPECT_EQ(floatToText(0.00001), QStringLiteral("1E-5"));
    EXPECT_EQ(floatToText(0.0001), localNumber("0.0001"));
    EXPECT_EQ(floatToText(1.5e300), localNumber("1.5E300"));
    EXPECT_EQ(floatToText(-32768), QStringLiteral("-32768"));
    EXPECT_EQ(floatToText(2147483647), QStringLiteral("2147483647"));
}

TEST(FloatText, ParsesDecimalNumbersOnly)
{
    double v = 0;
    EXPECT_TRUE(tryTextToFloat(localNumber(" 12.5 "), v));
    EXPECT_DOUBLE_EQ(v, 12.5);
    EXPECT_TRUE(tryTextToFloat(QStringLiteral("-1e3"), v));
    EXPECT_DOUBLE_EQ(v, -1000);
    EXPECT_TRUE(tryTextToFloat(localNumber(".5"), v));
    EXPECT_DOUBLE_EQ(v, 0.5);
    // The separator of the other convention is refused, whichever one the locale uses.
    const QString foreign = QLocale::system().decimalPoint() == QStringLiteral(",")
                                ? QStringLiteral("1.5")
                                : QStringLiteral("1,5");
    EXPECT_FALSE(tryTextToFloat(foreign, v)) << foreign.toStdString();
    for (const char *bad : {"", "abc", "1e", "0x10", "inf", "nan", "1.2.3", "--1"})
        EXPECT_FALSE(tryTextToFloat(localNumber(bad), v)) << bad;
}

TEST(FloatText, RoundsHalvesToTheEvenNeighbour)
{
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(3.5), 4);
    EXPECT_EQ(roundHalfEven(-2.5), -2);
    EXPECT_EQ(roundHalfEven(2.6), 3);
}

TEST(Characters, ALetterIsNeverSplitByCounting)
{
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");  // two UTF-16 units
    const QString shortI = QString::fromUtf8("\xD0\xB8\xCC\x86"); // и with a combining breve
    EXPECT_EQ(characterCount(QStringLiteral("Иванов")), 6);
    EXPECT_EQ(characterCount(QStringLiteral("ab") + emoji), 3);
    EXPECT_EQ(characterCount(shortI), 1);
    EXPECT_EQ(characterCount(QString()), 0);

    EXPECT_EQ(cutToCharacters(QStringLiteral("абвгдеёжз"), 5), QStringLiteral("абвгд"));
    EXPECT_EQ(cutToCharacters(QStringLiteral("abcd") + emoji, 5), QStringLiteral("abcd") + emoji);
    EXPECT_EQ(cutToCharacters(QStringLiteral("abcde") + emoji, 5), QStringLiteral("abcde"));
    EXPECT_EQ(cutToCharacters(QStringLiteral("abc") + emoji + emoji, 4),
              QStringLiteral("abc") + emoji);
    EXPECT_EQ(cutToCharacters(QStringLiteral("abcd") + shortI + QStringLiteral("x"), 5),
              QStringLiteral("abcd") + shortI);
    EXPECT_EQ(cutToCharacters(QStringLiteral("abc"), 0), QString());
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

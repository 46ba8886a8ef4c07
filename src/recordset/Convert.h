#pragma once

#include <QString>

// The program's conversions between texts and numbers.
namespace Convert {

// The whole text must be one integer: leading blanks, an optional sign, then decimal digits or a
// hexadecimal number after "$", "x", "X", "0x" or "0X", and nothing after it, not even a blank.
// A decimal value must fit 32 bits; a hexadecimal one may use all 32 bits.
bool tryTextToInt(const QString &text, int &value);
// As tryTextToInt; fails with "'<text>' is not a valid integer value".
int textToInt(const QString &text);

// The same, but decimal digits only: what integer fields accept as text and what a text field
// must hold to be read as an integer.
bool tryDecimalTextToInt(const QString &text, int &value);
// As tryDecimalTextToInt; fails with "'<text>' is not a valid integer value".
int decimalTextToInt(const QString &text);

// The number of characters a user sees in the text: a letter outside the basic plane (two UTF-16
// units) or a letter with combining marks counts once.
int characterCount(const QString &text);
// The longest beginning of the text with at most `limit` characters, never splitting one.
QString cutToCharacters(const QString &text, int limit);

// A decimal number with the system's decimal separator and an optional exponent; blanks around it
// are allowed.
bool tryTextToFloat(const QString &text, double &value);

// General decimal form with up to 15 significant digits and the system's decimal separator:
// 0.5, 1234.25, 1E20, 1E-5.
QString floatToText(double value);

// Rounds to the nearest whole number, a half to the even neighbour.
double roundHalfEven(double value);

// Decimal digits in groups of three, a blank between groups: 12 345 678.
QString groupedDigits(qint64 value);

// A date held as ISO 8601 text ("YYYY-MM-DD", perhaps with " HH:MM:SS") as the user sees it:
// "ДД.ММ.ГГГГ", with the time when it has one. Any other text is shown as it is.
QString isoToShownDate(const QString &iso);
// A date as the user types it, "ДД.ММ.ГГГГ" or ISO "ГГГГ-ММ-ДД", each with an optional time
// "ЧЧ:ММ" or "ЧЧ:ММ:СС", as the ISO text it is held as; empty when it is no real date or time.
QString typedDateToIso(const QString &typed);

} // namespace Convert

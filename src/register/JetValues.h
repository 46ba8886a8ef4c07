#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What an Access file's values mean, decoded without libmdb's own text conversions (which print
// some dates as "1900-01-00" and go through binary floating point).
namespace JetValues {

// Jet's Date/Time, days since 30 December 1899: the whole part counts days (negative before that
// day), the fraction is the time of day whatever the sign. As ISO 8601 text, "YYYY-MM-DD", with
// " HH:MM:SS" when the value has a time of day (rounded to the second).
QString dateText(double days);

// A whole number of units of 10^-scale as exact decimal text with `scale` digits after the point:
// Currency is a 64-bit count of ten-thousandths.
QString scaledDecimalText(qint64 units, int scale);

// The code page an Access 97 file's texts were written in: Windows-1251 when its texts (raw
// bytes) are mostly Cyrillic in that code page, else the code page the file's header names (1252
// when it names none). As iconv names it: "CP1251".
QString chooseCodePage(const QList<QByteArray> &texts, int headerCodePage);

} // namespace JetValues

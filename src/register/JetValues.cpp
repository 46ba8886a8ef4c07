#include "JetValues.h"

#include <QDate>

#include <cmath>

namespace JetValues {

QString dateText(double days)
{
    double whole = std::trunc(days);
    qint64 seconds = std::llround(std::fabs(days - whole) * 86400.0);
    if (seconds >= 86400) { // rounded up to midnight: the next day in time, whatever the sign
        seconds -= 86400;
        whole += 1;
    }
    const QDate date = QDate(1899, 12, 30).addDays(static_cast<qint64>(whole));
    QString text = QStringLiteral("%1-%2-%3")
                       .arg(date.year(), 4, 10, QLatin1Char('0'))
                       .arg(date.month(), 2, 10, QLatin1Char('0'))
                       .arg(date.day(), 2, 10, QLatin1Char('0'));
    if (seconds > 0) {
        text += QStringLiteral(" %1:%2:%3")
                    .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                    .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                    .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}

QString scaledDecimalText(qint64 units, int scale)
{
    // The magnitude as unsigned, so that the most negative value has one too.
    const bool negative = units < 0;
    const quint64 magnitude = negative ? quint64(0) - quint64(units) : quint64(units);
    QString digits = QString::number(magnitude).rightJustified(scale + 1, QLatin1Char('0'));
    if (scale > 0)
        digits.insert(digits.size() - scale, QLatin1Char('.'));
    return negative ? QLatin1Char('-') + digits : digits;
}

QString chooseCodePage(const QList<QByteArray> &texts, int headerCodePage)
{
    // Letters as Windows-1251 has them: А..я at 0xC0..0xFF, Ё and ё at 0xA8 and 0xB8; against the
    // Latin letters. Western texts carry an accented letter here and there among Latin ones.
    qint64 cyrillic = 0;
    qint64 latin = 0;
    for (const QByteArray &text : texts) {
        for (const char c : text) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte >= 0xC0 || byte == 0xA8 || byte == 0xB8)
                ++cyrillic;
            else if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z'))
                ++latin;
        }
    }
    if (cyrillic > latin)
        return QStringLiteral("CP1251");
    return QStringLiteral("CP%1").arg(headerCodePage > 0 ? headerCodePage : 1252);
}

} // namespace JetValues

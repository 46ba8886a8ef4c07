#include "Convert.h"

#include "platform/Error.h"

#include <QDate>
#include <QLocale>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QTime>

#include <cfenv>
#include <cmath>
#include <limits>

namespace Convert {

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

QChar decimalSeparator()
{
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 ? point.front() : QLatin1Char('.');
}

enum class Forms { DecimalOnly, DecimalOrHex };

bool parseInt(const QString &text, int &value, Forms forms)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }

    bool hex = false;
    if (forms == Forms::DecimalOrHex) {
        if (i < n && (text[i] == QLatin1Char('$') || text[i] == QLatin1Char('x') ||
                      text[i] == QLatin1Char('X'))) {
            hex = true;
            ++i;
        } else if (i + 1 < n && text[i] == QLatin1Char('0') &&
                   (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
            hex = true;
            i += 2;
        }
    }
    if (i == n)
        return false;

    quint64 magnitude = 0;
    for (; i < n; ++i) {
        const int digit =
            hex ? hexDigit(text[i])
                : (text[i].isDigit() && text[i].unicode() < 128 ? text[i].unicode() - u'0' : -1);
        if (digit < 0)
            return false;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<quint64>(digit);
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }

    if (hex) {
        // All 32 bits are taken as they stand: $FFFFFFFF is -1.
        const auto bits = static_cast<qint32>(static_cast<quint32>(magnitude));
        value = negative ? static_cast<int>(-static_cast<qint64>(bits)) : bits;
        return true;
    }
    const qint64 signedValue =
        negative ? -static_cast<qint64>(magnitude) : static_cast<qint64>(magnitude);
    if (signedValue < std::numeric_limits<qint32>::min() ||
        signedValue > std::numeric_limits<qint32>::max())
        return false;
    value = static_cast<int>(signedValue);
    return true;
}

[[noreturn]] void notAnInteger(const QString &text)
{
    throw Error(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

} // namespace

bool tryTextToInt(const QString &text, int &value)
{
    return parseInt(text, value, Forms::DecimalOrHex);
}

int textToInt(const QString &text)
{
    int value = 0;
    if (!tryTextToInt(text, value))
        notAnInteger(text);
    return value;
}

bool tryDecimalTextToInt(const QString &text, int &value)
{
    return parseInt(text, value, Forms::DecimalOnly);
}

int decimalTextToInt(const QString &text)
{
    int value = 0;
    if (!tryDecimalTextToInt(text, value))
        notAnInteger(text);
    return value;
}

int characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

QString cutToCharacters(const QString &text, int limit)
{
    if (text.size() <= limit)
        return text; // no character is shorter than one unit
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (int count = 0; count < limit; ++count) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            break;
        end = next;
    }
    return text.left(end);
}

bool tryTextToFloat(const QString &text, double &value)
{
    const QString trimmed = text.trimmed();
    const QChar separator = decimalSeparator();
    QByteArray latin;
    latin.reserve(trimmed.size());
    qsizetype i = 0;
    const qsizetype n = trimmed.size();
    const auto digitsAt = [&]() {
        qsizetype count = 0;
        while (i < n && trimmed[i].unicode() >= u'0' && trimmed[i].unicode() <= u'9') {
            latin.append(char(trimmed[i].unicode()));
            ++i;
            ++count;
        }
        return count;
    };
    if (i < n && (trimmed[i] == QLatin1Char('+') || trimmed[i] == QLatin1Char('-')))
        latin.append(char(trimmed[i++].unicode()));
    qsizetype mantissaDigits = digitsAt();
    if (i < n && trimmed[i] == separator) {
        latin.append('.');
        ++i;
        mantissaDigits += digitsAt();
    }
    if (mantissaDigits == 0)
        return false;
    if (i < n && (trimmed[i] == QLatin1Char('e') || trimmed[i] == QLatin1Char('E'))) {
        latin.append('e');
        ++i;
        if (i < n && (trimmed[i] == QLatin1Char('+') || trimmed[i] == QLatin1Char('-')))
            latin.append(char(trimmed[i++].unicode()));
        if (digitsAt() == 0)
            return false;
    }
    if (i != n)
        return false;
    bool ok = false;
    value = QLocale::c().toDouble(QLatin1String(latin), &ok);
    return ok && std::isfinite(value);
}

QString floatToText(double value)
{
    QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e >= 0) {
        // 1e+20 is written 1E20, 1e-05 is written 1E-5.
        QString mantissa = text.left(e);
        const int exponent = text.mid(e + 1).toInt();
        text = mantissa + QLatin1Char('E') + QString::number(exponent);
    }
    const QChar separator = decimalSeparator();
    if (separator != QLatin1Char('.'))
        text.replace(QLatin1Char('.'), separator);
    return text;
}

double roundHalfEven(double value)
{
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(value);
    std::fesetround(mode);
    return rounded;
}

QString groupedDigits(qint64 value)
{
    QString digits = QString::number(value);
    const int first = digits.startsWith(QLatin1Char('-')) ? 1 : 0;
    for (qsizetype at = digits.size() - 3; at > first; at -= 3)
        digits.insert(at, QLatin1Char(' '));
    return digits;
}

namespace {

const QRegularExpression &isoDate()
{
    static const QRegularExpression pattern(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2})(?:[ T](\\d{2}):(\\d{2})(?::(\\d{2}))?)?$"));
    return pattern;
}

// The ISO text of a date and time, checked to be a real one; empty otherwise.
QString isoOf(int year, int month, int day, int hour, int minute, int second, bool timed)
{
    if (!QDate::isValid(year, month, day) || year < 1 || !QTime::isValid(hour, minute, second))
        return QString();
    QString text = QStringLiteral("%1-%2-%3")
                       .arg(year, 4, 10, QLatin1Char('0'))
                       .arg(month, 2, 10, QLatin1Char('0'))
                       .arg(day, 2, 10, QLatin1Char('0'));
    if (timed && (hour || minute || second)) {
        text += QStringLiteral(" %1:%2:%3")
                    .arg(hour, 2, 10, QLatin1Char('0'))
                    .arg(minute, 2, 10, QLatin1Char('0'))
                    .arg(second, 2, 10, QLatin1Char('0'));
    }
    return text;
}

} // namespace

QString isoToShownDate(const QString &iso)
{
    const QRegularExpressionMatch match = isoDate().match(iso);
    if (!match.hasMatch())
        return iso;
    QString shown =
        QStringLiteral("%1.%2.%3").arg(match.captured(3), match.captured(2), match.captured(1));
    if (match.hasCaptured(4)) {
        shown += QStringLiteral(" %1:%2:%3")
                     .arg(match.captured(4), match.captured(5),
                          match.hasCaptured(6) ? match.captured(6) : QStringLiteral("00"));
    }
    return shown;
}

QString typedDateToIso(const QString &typed)
{
    const QString text = typed.trimmed();
    static const QRegularExpression russian(QStringLiteral(
        "^(\\d{1,2})\\.(\\d{1,2})\\.(\\d{4})(?:\\s+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?$"));
    QRegularExpressionMatch match = russian.match(text);
    int year = 0;
    int month = 0;
    int day = 0;
    if (match.hasMatch()) {
        day = match.captured(1).toInt();
        month = match.captured(2).toInt();
        year = match.captured(3).toInt();
    } else {
        match = isoDate().match(text);
        if (!match.hasMatch())
            return QString();
        year = match.captured(1).toInt();
        month = match.captured(2).toInt();
        day = match.captured(3).toInt();
    }
    return isoOf(year, month, day, match.captured(4).toInt(), match.captured(5).toInt(),
                 match.captured(6).toInt(), match.hasCaptured(4));
}

} // namespace Convert

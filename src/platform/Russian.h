#pragma once

#include <QString>

// The form of a Russian noun that agrees with a number: `one` after 1, 21, 101…; `few` after
// 2–4, 22–24…; `many` after 0, 5–20, 25–30… ("1 строка", "3 строки", "11 строк").
inline QString agreeing(qint64 number, const QString &one, const QString &few, const QString &many)
{
    const qint64 tens = (number < 0 ? -number : number) % 100;
    const qint64 units = tens % 10;
    if (tens >= 11 && tens <= 14)
        return many;
    return units == 1 ? one : units >= 2 && units <= 4 ? few : many;
}

// "N строка/строки/строк".
inline QString rowsCount(qint64 number)
{
    return QString::number(number) + QLatin1Char(' ') +
           agreeing(number, QStringLiteral("строка"), QStringLiteral("строки"),
                    QStringLiteral("строк"));
}

// "из N строки/строк": after «из» the noun is genitive, singular after 1, 21…
inline QString ofRows(qint64 number)
{
    return QStringLiteral("из ") + QString::number(number) + QLatin1Char(' ') +
           agreeing(number, QStringLiteral("строки"), QStringLiteral("строк"),
                    QStringLiteral("строк"));
}

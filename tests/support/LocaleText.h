#pragma once

#include <QLocale>
#include <QString>

// A number text as the running locale writes it: the point replaced by the system's decimal
// separator ("2.5" stays "2.5" under C and becomes "2,5" under ru_RU.UTF-8).
inline QString localNumber(const char *text)
{
    return QString::fromUtf8(text).replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

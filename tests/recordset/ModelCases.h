#pragma once

// The values the record-set walk writes (texts at and past their columns' sizes, integers as texts,
// values of another kind) and how an outcome is described. One test file includes it.
#include "RecordSetFixture.h"

#include <functional>
#include <vector>

namespace {

using State = RecordSet::State;

constexpr int columnCount = 8; // Код, ФИО, Дата_рождения, Год, Месяц, Число, Возраст, Юбилей
using Values = std::array<SqlValue, columnCount>;

const char *const columnNames[columnCount] = {"Код",   "ФИО",   "Дата_рождения", "Год",
                                              "Месяц", "Число", "Возраст",       "Юбилей"};

bool isTextColumn(int column)
{
    return column == 1 || column == 2 || column == 7;
}

// The size in characters of a text column.
int textSize(int column)
{
    return column == 1 ? 60 : column == 2 ? 20 : 10;
}

QString emoji()
{
    return QString::fromUtf8("\xF0\x9F\x98\x80");
}

// A text written to a text column and what the column must then hold (sizes 60, 20 and 10).
struct TextCase
{
    QString written;
    QString held;
};

std::vector<TextCase> textCases(int column)
{
    const int size = textSize(column);
    return {
        {QStringLiteral("да"), QStringLiteral("да")},
        {QString(), QString()},
        {QStringLiteral("Ёлкин"), QStringLiteral("Ёлкин")},
        {QStringLiteral(" абв "), QStringLiteral(" абв ")},
        {QString(size + 5, QChar(u'ж')), QString(size, QChar(u'ж'))},
        {QString(size - 1, QChar(u'я')) + emoji(), QString(size - 1, QChar(u'я')) + emoji()},
        {QString(size, QChar(u'я')) + emoji(), QString(size, QChar(u'я'))},
        {QStringLiteral("$1F"), QStringLiteral("$1F")},
    };
}

// What a text written to an integer column gives: a value, or the failure message.
struct IntegerTextCase
{
    QString written;
    std::optional<SqlValue> held; // none: refused
};

const std::vector<IntegerTextCase> &integerTextCases()
{
    static const std::vector<IntegerTextCase> cases = {
        {QStringLiteral("1980"), SqlValue(qint64(1980))},
        {QStringLiteral(" -5"), SqlValue(qint64(-5))},
        {QString(), SqlValue()},
        {QStringLiteral("$1F"), std::nullopt},
        {QStringLiteral("0x10"), std::nullopt},
        {QStringLiteral("12a"), std::nullopt},
        {QStringLiteral("2147483648"), std::nullopt},
    };
    return cases;
}

const qint64 integerCases[] = {0, 45, -7, 2147483647, -2147483648LL, 2147483648LL};

// What another program may leave in a column, affinity rules included.
const std::vector<SqlValue> &foreignValues()
{
    static const std::vector<SqlValue> values = {
        SqlValue(),      SqlValue(qint64(1961)),          SqlValue(1e300),
        SqlValue(-1e19), SqlValue(QStringLiteral("abc")), SqlValue(QStringLiteral("Яковлев"))};
    return values;
}

struct ModelRow
{
    qint64 key = 0;       // 0 while a new record is pending
    quint64 identity = 0; // tells rows apart for as long as the model lives
    Values values;
    int changesSeen = 0; // another program's changes of the row when it was read
};

struct Outcome
{
    std::optional<QString> error;
    int number = 0; // SkipBy's distance moved
    bool operator==(const Outcome &) const = default;
};

QString describe(const Outcome &outcome)
{
    return outcome.error ? QStringLiteral("error \"%1\"").arg(*outcome.error)
                         : QStringLiteral("ok %1").arg(outcome.number);
}

QString describe(const SqlValue &value)
{
    if (std::holds_alternative<std::monostate>(value))
        return QStringLiteral("null");
    if (auto i = std::get_if<qint64>(&value))
        return QString::number(*i);
    if (auto d = std::get_if<double>(&value))
        return QString::number(*d, 'g', 17) + QStringLiteral("r");
    return QLatin1Char('\'') + std::get<QString>(value) + QLatin1Char('\'');
}

} // namespace

#include "Field.h"

#include "Convert.h"
#include "RecordSet.h"

#include "platform/Error.h"

#include <cmath>
#include <limits>

namespace {

struct Range
{
    double low;
    double high;
};

Range rangeOf(FieldType type)
{
    switch (type) {
    case FieldType::Int16:
        return {-32768, 32767};
    case FieldType::UInt16:
        return {0, 65535};
    default:
        return {static_cast<double>(std::numeric_limits<qint32>::min()),
                static_cast<double>(std::numeric_limits<qint32>::max())};
    }
}

} // namespace

QString displayText(const Value &value, FieldType type)
{
    if (type == FieldType::Blob && std::holds_alternative<qint64>(value)) {
        return QStringLiteral("(двоичные данные, %1 байт)")
            .arg(Convert::groupedDigits(std::get<qint64>(value)));
    }
    if (type == FieldType::Date && std::holds_alternative<QString>(value))
        return Convert::isoToShownDate(std::get<QString>(value));
    if (auto integer = std::get_if<qint64>(&value)) {
        return type == FieldType::Double ? Convert::floatToText(static_cast<double>(*integer))
                                         : QString::number(*integer);
    }
    if (auto real = std::get_if<double>(&value)) {
        // A whole number stored in an integer column shows as one, when it is one a 64-bit
        // integer can hold exactly; anything larger shows in floating-point form (1E300).
        constexpr double exactLimit = 9007199254740992.0; // 2^53
        if (type != FieldType::Double && type != FieldType::Text && *real == std::trunc(*real) &&
            std::fabs(*real) <= exactLimit)
            return QString::number(static_cast<qint64>(*real));
        return Convert::floatToText(*real);
    }
    if (auto text = std::get_if<QString>(&value))
        return *text;
    return QString();
}

Field::Field(RecordSet &owner, int index, const SourceColumn &column)
    : m_owner(&owner), m_index(index), m_name(column.name), m_type(column.type),
      m_size(column.size), m_readOnly(column.readOnly || column.type == FieldType::Blob)
{}

void Field::requireNumber(const char *accessor) const
{
    if (m_type == FieldType::Date || m_type == FieldType::Blob) {
        throw Error(QStringLiteral("Cannot access field '%1' as type %2")
                        .arg(DisplayName(), QLatin1String(accessor)));
    }
}

void Field::setVisible(bool visible)
{
    if (m_visible == visible)
        return;
    m_visible = visible;
    m_owner->notifyLayoutChanged();
}

Value Field::value() const
{
    return m_owner->currentValue(m_index);
}

bool Field::IsNull() const
{
    return std::holds_alternative<std::monostate>(value());
}

QString Field::AsText() const
{
    return displayText(value(), m_type);
}

int Field::AsInt() const
{
    requireNumber("Integer");
    const Value v = value();
    if (std::holds_alternative<std::monostate>(v))
        return m_type == FieldType::Text ? Convert::decimalTextToInt(QString()) : 0;
    if (m_type == FieldType::Text)
        return Convert::decimalTextToInt(AsText());

    double number = 0;
    if (auto integer = std::get_if<qint64>(&v))
        number = static_cast<double>(*integer);
    else if (auto real = std::get_if<double>(&v))
        number = Convert::roundHalfEven(*real);
    else
        return Convert::decimalTextToInt(std::get<QString>(v)); // a text in a number column
    // Another program may have stored anything in the file: a value out of the field's range
    // is reported, never cast.
    checkRange(number, number);
    return static_cast<int>(number);
}

double Field::AsNumber() const
{
    requireNumber("Float");
    const Value v = value();
    if (auto integer = std::get_if<qint64>(&v))
        return static_cast<double>(*integer);
    if (auto real = std::get_if<double>(&v))
        return *real;
    if (std::holds_alternative<std::monostate>(v) && m_type != FieldType::Text)
        return 0;
    const QString text = AsText();
    double number = 0;
    if (!Convert::tryTextToFloat(text, number))
        throw Error(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    return number;
}

void Field::checkRange(double value, double shown) const
{
    const Range range = rangeOf(m_type);
    if (!(value >= range.low && value <= range.high)) {
        throw Error(
            QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                .arg(Convert::floatToText(shown), DisplayName(), Convert::floatToText(range.low),
                     Convert::floatToText(range.high)));
    }
}

Value Field::integerValue(qint64 value) const
{
    checkRange(static_cast<double>(value), static_cast<double>(value));
    return value;
}

void Field::setAsText(const QString &text)
{
    m_owner->checkWritable(*this);
    switch (m_type) {
    case FieldType::Text:
        write(m_size > 0 ? Convert::cutToCharacters(text, m_size) : text);
        return;
    case FieldType::Date: {
        if (text.trimmed().isEmpty()) {
            write(std::monostate{});
            return;
        }
        const QString iso = Convert::typedDateToIso(text);
        if (iso.isEmpty()) {
            throw Error(QStringLiteral("'%1' is not a valid date and time for field '%2'")
                            .arg(text, DisplayName()));
        }
        write(iso);
        return;
    }
    case FieldType::Double: {
        if (text.isEmpty()) {
            write(std::monostate{});
            return;
        }
        double number = 0;
        if (!Convert::tryTextToFloat(text, number)) {
            throw Error(QStringLiteral("'%1' is not a valid floating point value for field '%2'")
                            .arg(text, DisplayName()));
        }
        write(number);
        return;
    }
    default: {
        if (text.isEmpty()) {
            write(std::monostate{});
            return;
        }
        int number = 0;
        if (!Convert::tryDecimalTextToInt(text, number)) {
            throw Error(QStringLiteral("'%1' is not a valid integer value for field '%2'")
                            .arg(text, DisplayName()));
        }
        write(integerValue(number));
        return;
    }
    }
}

void Field::setAsInt(qint64 value)
{
    requireNumber("Integer");
    if (m_type == FieldType::Text) {
        setAsText(QString::number(value));
        return;
    }
    m_owner->checkWritable(*this);
    write(m_type == FieldType::Double ? Value(static_cast<double>(value)) : integerValue(value));
}

void Field::setAsNumber(double value)
{
    requireNumber("Float");
    if (m_type == FieldType::Text) {
        setAsText(Convert::floatToText(value));
        return;
    }
    m_owner->checkWritable(*this);
    if (m_type == FieldType::Double) {
        write(value);
        return;
    }
    const double rounded = Convert::roundHalfEven(value);
    checkRange(rounded, value);
    write(static_cast<qint64>(rounded));
}

void Field::clear()
{
    m_owner->checkWritable(*this);
    write(std::monostate{});
}

void Field::write(Value value)
{
    m_owner->assignValue(*this, std::move(value));
}

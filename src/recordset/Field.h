#pragma once

#include "engines/Values.h"

#include <QString>

class RecordSet;

// One column of a record set's current record. Fields are made when the record set opens and
// thrown away when it closes, so a setting such as Visible lasts until the next close.
class Field
{
public:
    Field(RecordSet &owner, int index, const SourceColumn &column);

    const QString &FieldName() const { return m_name; }
    // The name shown to the user: the display label, or the field name when there is none.
    const QString &DisplayName() const
    {
        return m_displayLabel.isEmpty() ? m_name : m_displayLabel;
    }
    void setDisplayLabel(const QString &label) { m_displayLabel = label; }
    int Index() const { return m_index; }
    FieldType DataType() const { return m_type; }
    // Text size in characters; 0 when unlimited or not a text.
    int Size() const { return m_size; }
    bool ReadOnly() const { return m_readOnly; }
    bool isNumeric() const
    {
        return m_type == FieldType::Int16 || m_type == FieldType::Int32 ||
               m_type == FieldType::UInt16 || m_type == FieldType::Double;
    }
    RecordSet &recordSet() const { return *m_owner; }

    bool Visible() const { return m_visible; }
    void setVisible(bool visible);

    bool IsNull() const;
    Value value() const;

    QString AsText() const;
    int AsInt() const;
    double AsNumber() const;

    void setAsText(const QString &text);
    void setAsInt(qint64 value);
    void setAsNumber(double value);
    void clear();

private:
    // Fails for a field whose type offers no number: "Cannot access field 'X' as type Integer".
    void requireNumber(const char *accessor) const;
    // Fails with the range message, showing `shown`, unless value fits the field's type.
    void checkRange(double value, double shown) const;
    // The value a number has in this field, after the field's range check.
    Value integerValue(qint64 value) const;
    void write(Value value);

    RecordSet *m_owner;
    int m_index;
    QString m_name;
    QString m_displayLabel;
    FieldType m_type;
    int m_size;
    bool m_readOnly;
    bool m_visible = true;
};

// The text a value shows for a field type: decimal digits, general floating-point form, a date
// as ДД.ММ.ГГГГ (with the time when it has one), binary data by its size, or the text itself;
// null shows as the empty text.
QString displayText(const Value &value, FieldType type);

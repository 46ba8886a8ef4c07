#pragma once

#include <QValidator>

class Field;
class QLineEdit;

// Holds a line edit's text to a number of characters, counting a letter outside the basic plane
// or a letter with combining marks once (QLineEdit's own maximum counts UTF-16 units and splits
// such letters). What does not fit of a typed or pasted text is dropped, as QLineEdit does.
class CharacterLimit : public QValidator
{
public:
    explicit CharacterLimit(QLineEdit *editor);

    // 0 means no limit.
    void setLimit(int limit) { m_limit = limit; }
    int limit() const { return m_limit; }
    // The field's text size, or no limit for numbers and unlimited texts.
    void setLimit(const Field *field);

    State validate(QString &input, int &pos) const override;

private:
    int m_limit = 0;
};

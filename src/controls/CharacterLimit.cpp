#include "CharacterLimit.h"

#include "recordset/Convert.h"
#include "recordset/Field.h"

#include <QLineEdit>
#include <QTextBoundaryFinder>

CharacterLimit::CharacterLimit(QLineEdit *editor) : QValidator(editor)
{
    editor->setValidator(this);
}

void CharacterLimit::setLimit(const Field *field)
{
    m_limit = field && field->DataType() == FieldType::Text ? field->Size() : 0;
}

QValidator::State CharacterLimit::validate(QString &input, int &pos) const
{
    if (m_limit <= 0)
        return Acceptable;
    int excess = Convert::characterCount(input) - m_limit;
    if (excess <= 0)
        return Acceptable;
    // The characters just before the cursor are the ones just typed or pasted.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, input);
    finder.setPosition(pos);
    qsizetype from = pos;
    while (excess > 0 && from > 0) {
        from = finder.toPreviousBoundary();
        --excess;
    }
    input.remove(from, pos - from);
    pos = static_cast<int>(from);
    if (excess > 0)
        input = Convert::cutToCharacters(input, m_limit);
    pos = std::min(pos, static_cast<int>(input.size()));
    return Acceptable;
}

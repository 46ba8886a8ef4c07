#include "DBGridParts.h"

#include "CharacterLimit.h"
#include "Guard.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QKeyEvent>

DBGridEditor::DBGridEditor(DBGrid *grid)
    : BoundLineEdit(grid->viewport()), m_grid(grid), m_limit(new CharacterLimit(this))
{
    setFrame(false);
    hide();
    connect(this, &QLineEdit::textEdited, this, [this] { m_grid->m_pending = true; });
}

void DBGridEditor::limitTo(const Field *field)
{
    m_limit->setLimit(field);
}

bool DBGridEditor::requestChange()
{
    return m_grid->startCellEditing();
}

bool DBGridEditor::mayChange() const
{
    return m_grid->cellMayChange();
}

bool DBGridEditor::event(QEvent *event)
{
    return m_grid->takeTab(event) || BoundLineEdit::event(event);
}

void DBGridEditor::keyPressEvent(QKeyEvent *event)
{
    // Left at the start of the text and Right at its end leave the cell, as in the grid.
    const bool atStart = cursorPosition() == 0 && !hasSelectedText();
    const bool atEnd = cursorPosition() == text().size() && !hasSelectedText();
    if ((event->key() == Qt::Key_Left && atStart) || (event->key() == Qt::Key_Right && atEnd)) {
        m_grid->keyPressEvent(event);
        return;
    }
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F2:
    case Qt::Key_Insert:
        if (!(event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier)) {
            m_grid->keyPressEvent(event);
            return;
        }
        break;
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
        if (event->modifiers() & Qt::ControlModifier) {
            m_grid->keyPressEvent(event);
            return;
        }
        break;
    default:
        break;
    }
    switch (classifyTextKey(event, m_grid->columnField(m_grid->m_column))) {
    case TextKey::Refused:
        QApplication::beep();
        return;
    case TextKey::Changes:
        if (!m_grid->startCellEditing())
            return;
        break;
    case TextKey::Other:
        break;
    }
    BoundLineEdit::keyPressEvent(event);
}

void DBGridEditor::focusOutEvent(QFocusEvent *event)
{
    BoundLineEdit::focusOutEvent(event);
    m_grid->leaving(event);
}

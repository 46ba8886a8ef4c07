#include "DBEdit.h"

#include "CharacterLimit.h"
#include "Guard.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>

DBEdit::DBEdit(QWidget *parent)
    : BoundLineEdit(parent), BoundControl(this), m_limit(new CharacterLimit(this))
{
    connect(this, &QLineEdit::textEdited, this, [this] { m_pending = true; });
}

void DBEdit::setDataField(const QString &fieldName)
{
    m_field.setName(fieldName);
    redisplay();
}

void DBEdit::stateChanged()
{
    m_field.followState();
    redisplay();
}

void DBEdit::layoutChanged()
{
    m_field.findAgain();
    redisplay();
}

void DBEdit::fieldChanged(Field &field)
{
    if (m_field.is(field))
        redisplay();
}

void DBEdit::recordChanged()
{
    redisplay();
}
void DBEdit::dataSetChanged()
{
    redisplay();
}
void DBEdit::dataSetScrolled(int)
{
    redisplay();
}

void DBEdit::updateRecord()
{
    commit();
}

void DBEdit::redisplay()
{
    // Whatever was typed and not written belongs to the record shown before.
    m_pending = false;
    scheduleRefresh();
}

void DBEdit::refresh()
{
    if (m_pending)
        return;
    if (field()) {
        m_limit->setLimit(field());
        // Changing the alignment resets the text's selection: only when it really changes.
        const Qt::Alignment align =
            (field()->isNumeric() ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        if (alignment() != align)
            setAlignment(align);
    }
    // Setting the same text again would lose the selection the user is typing over.
    const QString shown = field() ? field()->AsText() : QString();
    if (text() != shown)
        setText(shown);
    setReadOnly(!canEdit());
}

void DBEdit::commit()
{
    if (!m_pending || !field())
        return;
    field()->setAsText(text());
    m_pending = false;
}

bool DBEdit::event(QEvent *event)
{
    if (handleRefreshEvent(event))
        return true;
    return BoundLineEdit::event(event);
}

bool DBEdit::canEdit() const
{
    const RecordSet *set = recordSet();
    return field() && !field()->ReadOnly() && set && set->isEditing();
}

bool DBEdit::mayChange() const
{
    return field() && !field()->ReadOnly() && dataSource();
}

bool DBEdit::requestChange()
{
    if (!mayChange())
        return false;
    refreshNow();
    bool editing = false;
    guarded([&] { editing = dataSource()->requestEdit(); });
    refreshNow(); // starting to edit may have redisplayed the record
    setReadOnly(!canEdit());
    return editing && canEdit();
}

void DBEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_pending) {
            m_pending = false;
            scheduleRefresh();
            refreshNow();
            selectAll();
        }
        event->ignore();
        return;
    }
    switch (classifyTextKey(event, field())) {
    case TextKey::Refused:
        QApplication::beep();
        return;
    case TextKey::Changes:
        if (!requestChange())
            return;
        break;
    case TextKey::Other:
        break;
    }
    BoundLineEdit::keyPressEvent(event);
}

void DBEdit::focusOutEvent(QFocusEvent *event)
{
    BoundLineEdit::focusOutEvent(event);
    // Only a move to another control of the same window commits; switching windows does not.
    if (!leavesForAnotherControl(event))
        return;
    QWidget *taker = QApplication::focusWidget(); // before a message box takes the focus
    if (!guarded([this] { commit(); })) {
        selectAll();
        takeFocusBack(this, event, taker);
    }
}

#include "BoundControl.h"

#include "platform/Dialogs.h"
#include "platform/Error.h"
#include "recordset/RecordSet.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QWidget>

namespace {

// Eats the mouse presses and releases of one widget until the event loop is next idle: the click
// that is being delivered now.
class ClickSwallower : public QObject
{
public:
    explicit ClickSwallower(QWidget *target) : QObject(target)
    {
        target->installEventFilter(this);
        deleteLater();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            return true;
        default:
            return false;
        }
    }
};

QEvent::Type refreshEventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

} // namespace

BoundControl::BoundControl(QWidget *widget) : m_widget(widget) {}

BoundControl::~BoundControl()
{
    if (m_source)
        m_source->removeControl(this);
}

void BoundControl::setDataSource(DataSource *source)
{
    if (m_source == source)
        return;
    if (m_source)
        m_source->removeControl(this);
    m_source = source;
    if (m_source)
        m_source->addControl(this);
    // Attaching to an open record set makes the link active at once.
    stateChanged();
    layoutChanged();
}

RecordSet *BoundControl::recordSet() const
{
    return m_source ? m_source->recordSet() : nullptr;
}

bool BoundControl::isRecordSetOpen() const
{
    const RecordSet *set = recordSet();
    return set && set->Active();
}

void BoundControl::scheduleRefresh()
{
    if (m_refreshPosted)
        return;
    m_refreshPosted = true;
    QCoreApplication::postEvent(m_widget, new QEvent(refreshEventType()), Qt::HighEventPriority);
}

bool BoundControl::handleRefreshEvent(QEvent *event)
{
    if (event->type() != refreshEventType())
        return false;
    refreshNow();
    return true;
}

void BoundControl::refreshNow()
{
    if (!m_refreshPosted)
        return;
    m_refreshPosted = false;
    refresh();
}

Field *BoundControl::resolveField(const QString &fieldName) const
{
    RecordSet *set = recordSet();
    if (!set || !set->Active() || fieldName.isEmpty())
        return nullptr;
    if (Field *field = set->findField(fieldName))
        return field;
    throw Error(QStringLiteral("%1: Field '%2' not found").arg(m_widget->objectName(), fieldName));
}

void BoundField::setName(const QString &name)
{
    m_name = name;
    findAgain();
}

void BoundField::followState()
{
    if (!m_control->isRecordSetOpen())
        m_field = nullptr;
    else if (!m_field)
        m_field = m_control->resolveField(m_name);
}

void BoundField::findAgain()
{
    m_field = nullptr;
    m_field = m_control->resolveField(m_name);
}

bool fieldAcceptsCharacter(const Field &field, QChar c)
{
    switch (field.DataType()) {
    case FieldType::Text:
        return true;
    case FieldType::Date:
        return c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char('-') ||
               c == QLatin1Char(':') || c == QLatin1Char(' ');
    case FieldType::Blob:
        return false;
    case FieldType::Double:
        if (c == QLatin1Char('E') || c == QLatin1Char('e') || QLocale::system().decimalPoint() == c)
            return true;
        [[fallthrough]];
    default:
        return c == QLatin1Char('+') || c == QLatin1Char('-') ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
    }
}

bool typesCharacter(const QKeyEvent *event)
{
    const QString text = event->text();
    return !text.isEmpty() && text.front().isPrint() &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

TextKey classifyTextKey(const QKeyEvent *event, const Field *field)
{
    const bool character = typesCharacter(event);
    const bool changes =
        character || event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete ||
        event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut) ||
        event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo) ||
        (event->key() == Qt::Key_Insert && event->modifiers() == Qt::ShiftModifier);
    if (!changes)
        return TextKey::Other;
    if (character && field && !fieldAcceptsCharacter(*field, event->text().front()))
        return TextKey::Refused;
    return TextKey::Changes;
}

bool leavesForAnotherControl(const QFocusEvent *event)
{
    return event->reason() != Qt::ActiveWindowFocusReason &&
           event->reason() != Qt::PopupFocusReason;
}

void takeFocusBack(QWidget *box, const QFocusEvent *event, QWidget *taker)
{
    // Focus moves before the click that moved it is delivered, so the click is still to come.
    if (event->reason() == Qt::MouseFocusReason && taker && taker != box) {
        new ClickSwallower(taker);
    }
    box->setFocus(Qt::OtherFocusReason);
}

void deleteAfterConfirmation(RecordSet &set)
{
    if (Dialogs::current().confirm(QStringLiteral("Delete record?")))
        set.DeleteRecord();
}

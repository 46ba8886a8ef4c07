#include "DBNavigator.h"

#include "Guard.h"
#include "recordset/RecordSet.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace {

constexpr int minimumButtonWidth = 20;
constexpr int minimumButtonHeight = 18;

// A button of the bar that draws the bar's keyboard focus mark when it carries it.
class NavButton : public QToolButton
{
public:
    using QToolButton::QToolButton;
    bool marked = false;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QToolButton::paintEvent(event);
        if (!marked)
            return;
        QStylePainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect().adjusted(3, 3, -3, -3);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
    }
};

void drawTriangle(QPainter &p, bool left, qreal x)
{
    QPainterPath path;
    path.moveTo(left ? x + 6 : x, 3);
    path.lineTo(left ? x : x + 6, 8);
    path.lineTo(left ? x + 6 : x, 13);
    path.closeSubpath();
    p.drawPath(path);
}

// A circular arrow: "read again".
void drawRefresh(QPainter &p)
{
    p.setPen(QPen(QColor(0x20, 0x20, 0x20), 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 3, 10, 10), 60 * 16, 270 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x20, 0x20));
    QPainterPath head;
    head.moveTo(9, 1);
    head.lineTo(13, 4);
    head.lineTo(9, 6.5);
    head.closeSubpath();
    p.drawPath(head);
}

// Draws the button pictures: plain shapes that read at any size.
QIcon iconFor(DBNavigator::Button which)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x20, 0x20, 0x20));
    const auto triangle = [&p](bool left, qreal x) { drawTriangle(p, left, x); };
    switch (which) {
    case DBNavigator::nbFirst:
        p.drawRect(QRectF(3, 3, 2, 10));
        triangle(true, 6);
        break;
    case DBNavigator::nbPrior:
        triangle(true, 5);
        break;
    case DBNavigator::nbNext:
        triangle(false, 5);
        break;
    case DBNavigator::nbLast:
        triangle(false, 4);
        p.drawRect(QRectF(11, 3, 2, 10));
        break;
    case DBNavigator::nbInsert:
        p.drawRect(QRectF(7, 3, 2, 10));
        p.drawRect(QRectF(3, 7, 10, 2));
        break;
    case DBNavigator::nbDelete:
        p.drawRect(QRectF(3, 7, 10, 2));
        break;
    case DBNavigator::nbEdit: {
        QPainterPath path; // an upward triangle: "go into the record"
        path.moveTo(3, 12);
        path.lineTo(8, 4);
        path.lineTo(13, 12);
        path.closeSubpath();
        p.drawPath(path);
        break;
    }
    case DBNavigator::nbPost:
        p.setPen(QPen(QColor(0x10, 0x70, 0x10), 2.2));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(3, 8), QPointF(7, 12), QPointF(13, 4)}));
        break;
    case DBNavigator::nbCancel:
        p.setPen(QPen(QColor(0xa0, 0x10, 0x10), 2.2));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case DBNavigator::nbRefresh:
        drawRefresh(p);
        break;
    }
    return QIcon(pixmap);
}

} // namespace

QString DBNavigator::hint(Button which)
{
    static const char *const hints[buttonCount] = {
        "First record",  "Prior record", "Next record", "Last record", "Insert record",
        "Delete record", "Edit record",  "Post edit",   "Cancel edit", "Refresh data"};
    return QString::fromLatin1(hints[which]);
}

DBNavigator::DBNavigator(QWidget *parent) : QWidget(parent), BoundControl(this)
{
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Navigator"));
    for (int i = 0; i < buttonCount; ++i) {
        const auto which = static_cast<Button>(i);
        auto *button = new NavButton(this);
        button->setFocusPolicy(Qt::NoFocus);
        button->setIcon(iconFor(which));
        button->setAccessibleName(hint(which));
        button->setProperty("hint", hint(which));
        button->setEnabled(false);
        if (which == nbPrior || which == nbNext) {
            button->setAutoRepeat(true);
            button->setAutoRepeatDelay(400);
            button->setAutoRepeatInterval(100);
        }
        connect(button, &QToolButton::clicked, this, [this, which] { BtnClick(which); });
        m_buttons[which] = button;
    }
    setMinimumSize(minimumButtonWidth * buttonCount, minimumButtonHeight);
}

void DBNavigator::BtnClick(Button which)
{
    guarded([this, which] {
        RecordSet *set = recordSet();
        // A register not reached at start-up is connected by the refresh button.
        if (set && which == nbRefresh && set->waitsToOpen()) {
            set->Reread();
            return;
        }
        if (!set || !set->Active())
            return;
        switch (which) {
        case nbFirst:
            set->ToFirst();
            break;
        case nbPrior:
            set->ToPrior();
            break;
        case nbNext:
            set->ToNext();
            break;
        case nbLast:
            set->ToLast();
            break;
        case nbInsert:
            set->StartInsert();
            break;
        case nbDelete:
            deleteAfterConfirmation(*set);
            break;
        case nbEdit:
            set->StartEdit();
            break;
        case nbPost:
            set->PostRecord();
            break;
        case nbCancel:
            set->CancelRecord();
            break;
        case nbRefresh:
            set->Reread();
            break;
        }
    });
    refreshNow();
}

void DBNavigator::refresh()
{
    const RecordSet *set = recordSet();
    const bool active = isEnabled() && set && set->Active();
    const bool modifiable = active && set->CanModify();
    const bool editing = active && set->isEditing();
    const bool enabled[buttonCount] = {
        active && !set->AtBeginning(),
        active && !set->AtBeginning(),
        active && !set->AtEnd(),
        active && !set->AtEnd(),
        modifiable,
        modifiable && !(set->AtBeginning() && set->AtEnd()),
        modifiable && !editing,
        modifiable && editing,
        modifiable && editing,
        modifiable || (isEnabled() && set && set->waitsToOpen()),
    };
    for (size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setEnabled(enabled[i]);
}

bool DBNavigator::event(QEvent *event)
{
    if (handleRefreshEvent(event))
        return true;
    if (event->type() == QEvent::EnabledChange)
        scheduleRefresh();
    return QWidget::event(event);
}

void DBNavigator::layoutButtons()
{
    const int width = std::max(minimumButtonWidth, this->width() / buttonCount);
    const int height = std::max(minimumButtonHeight, this->height());
    int left = 0;
    for (QToolButton *button : m_buttons) {
        button->setGeometry(left, 0, width, height);
        left += width;
    }
}

void DBNavigator::resizeEvent(QResizeEvent *)
{
    // The bar is exactly as wide as its buttons.
    layoutButtons();
    const int width = std::max(minimumButtonWidth, this->width() / buttonCount) * buttonCount;
    if (width != this->width())
        resize(width, height());
}

void DBNavigator::setFocusMark(int index)
{
    for (int i = 0; i < buttonCount; ++i) {
        auto *button = static_cast<NavButton *>(m_buttons[static_cast<Button>(i)]);
        const bool marked = hasFocus() && i == index;
        if (button->marked != marked) {
            button->marked = marked;
            button->update();
        }
    }
    m_focusMark = index;
}

void DBNavigator::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    setFocusMark(m_focusMark);
}

void DBNavigator::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    setFocusMark(m_focusMark);
}

void DBNavigator::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        setFocusMark(m_focusMark > 0 ? m_focusMark - 1 : m_focusMark);
        break;
    case Qt::Key_Right:
        setFocusMark(m_focusMark < buttonCount - 1 ? m_focusMark + 1 : m_focusMark);
        break;
    case Qt::Key_Space:
        refreshNow();
        if (button(static_cast<Button>(m_focusMark))->isEnabled())
            BtnClick(static_cast<Button>(m_focusMark));
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

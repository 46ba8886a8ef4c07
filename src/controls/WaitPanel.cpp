#include "WaitPanel.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace {

QString waitText(const Wait &wait)
{
    using std::chrono::duration_cast;
    using std::chrono::seconds;
    const qint64 left = std::max<qint64>(
        0,
        duration_cast<seconds>(wait.limit - wait.waited + std::chrono::milliseconds(999)).count());
    QString what;
    switch (wait.what) {
    case Wait::For::Connecting:
        what = QStringLiteral("Подключение к серверу баз данных (%1)");
        break;
    case Wait::For::Answer:
        what = QStringLiteral("Сервер баз данных (%1) не отвечает: возможно, прервалась связь");
        break;
    case Wait::For::Server:
        what = QStringLiteral("Ожидание сервера баз данных (%1): запись или реестр, вероятно, "
                              "заняты другим компьютером");
        break;
    case Wait::For::File:
        what = QStringLiteral("Файл реестра «%1» занят другой программой или другим "
                              "компьютером: ожидание");
        break;
    }
    return what.arg(wait.where) +
           QStringLiteral("…\nОсталось %1 с. Нажмите «Отменить», чтобы не ждать: ничего "
                          "не будет сохранено наполовину")
               .arg(left);
}

bool isInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Close:
        return true;
    default:
        return false;
    }
}

} // namespace

WaitPanel::WaitPanel(QWidget *window) : QFrame(window)
{
    setObjectName(QStringLiteral("waitPanel"));
    setAccessibleName(QStringLiteral("Ожидание сервера баз данных"));
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    m_text = new QLabel(this);
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_cancel = new QPushButton(QStringLiteral("Отменить"), this);
    m_cancel->setObjectName(QStringLiteral("cancelWait"));
    layout->addWidget(m_text, 1);
    layout->addWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_cancelled = true; });
    qApp->installEventFilter(this);
}

WaitPanel::~WaitPanel()
{
    qApp->removeEventFilter(this);
}

void WaitPanel::show(const Wait &wait)
{
    m_text->setText(waitText(wait));
    m_text->setAccessibleDescription(m_text->text());
    if (QWidget *window = parentWidget()) {
        const int width = std::min(window->width() - 40, 640);
        resize(width, heightForWidth(width) > 0 ? heightForWidth(width) : sizeHint().height());
        move((window->width() - this->width()) / 2, (window->height() - height()) / 2);
        raise();
    } else {
        adjustSize();
    }
    QFrame::show();
}

bool WaitPanel::eventFilter(QObject *watched, QEvent *event)
{
    // Only the panel takes input while the program waits: a click elsewhere would act on a
    // register in the middle of a statement.
    if (!isInput(event->type()))
        return false;
    auto *widget = qobject_cast<QWidget *>(watched);
    return !(widget && (widget == this || isAncestorOf(widget)));
}

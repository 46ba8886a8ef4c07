#include "Application.h"

#include <QEventLoop>
#include <QFontDatabase>
#include <QLabel>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cstdio>

ReestrApplication::ReestrApplication(int &argc, char **argv) : QApplication(argc, argv) {}

bool ReestrApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "reestr: unhandled failure: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "reestr: unhandled failure\n");
    }
    return false;
}

namespace Application {

void registerFonts()
{
    // Only the regular face: Wine's Tahoma Bold gives several Cyrillic letters (Ы, Ю and others)
    // the advance of far wider ones, which shows as gaps inside words. Bold text is drawn by
    // emboldening the regular face, with every letter at its own width.
    QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
}

qreal scale()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInchY() / 96.0 : 1.0;
}

int scaled(int pixels)
{
    return qRound(pixels * scale());
}

QPoint scaled(QPoint point)
{
    return {scaled(point.x()), scaled(point.y())};
}

QSize scaled(QSize size)
{
    return {scaled(size.width()), scaled(size.height())};
}

QRect scaled(const QRect &rect)
{
    return {scaled(rect.topLeft()), scaled(rect.size())};
}

QFont windowFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(scaled(19));
    font.setBold(true);
    return font;
}

void setTabOrder(const QList<QWidget *> &controls)
{
    for (qsizetype i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1], controls[i]);
}

QLabel *label(QWidget *parent, const char *name, const QString &caption, int left, int top)
{
    auto *widget = new QLabel(caption, parent);
    widget->setObjectName(QLatin1String(name));
    widget->move(scaled(QPoint(left, top)));
    widget->adjustSize();
    // The laid-out text height is 23 pixels: the marks above capitals (the breve of "Й") need the
    // room above the font's own ascent, so the text sits at the bottom of that height.
    widget->resize(widget->width(), std::max(widget->height(), scaled(23)));
    widget->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    return widget;
}

namespace {

// Ends a nested event loop when its window has been closed. A window manager that minimises the
// window hides it too, and a minimised modal window must still hold the program: the loop ends
// only once a close has gone through and left the window hidden.
class CloseWatcher : public QObject
{
public:
    CloseWatcher(QWidget *window, QEventLoop *loop) : m_window(window), m_loop(loop)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Close) {
            // Whether the close was accepted shows once it has been handled.
            QMetaObject::invokeMethod(
                m_loop,
                [this] {
                    if (!m_window->isVisible())
                        m_loop->quit();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget *m_window;
    QEventLoop *m_loop;
};

} // namespace

void showModal(QWidget *window)
{
    QWidget *previous = QApplication::activeWindow();
    window->setWindowModality(Qt::ApplicationModal);
    if (QScreen *screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    QEventLoop loop;
    CloseWatcher watcher(window, &loop);
    // A window minimised when it was last closed comes back as it was laid out.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    loop.exec(QEventLoop::DialogExec);
    window->hide();
    if (previous)
        previous->activateWindow();
}

} // namespace Application

#include "windows/Application.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMargins>
#include <QWindow>
#include <QFontDatabase>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
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

std::unique_ptr<QTranslator> installQtTranslations(const QLocale &locale)
{
    if (locale.language() != QLocale::Russian)
        return nullptr;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator;
}

WaitCursor::WaitCursor()
{
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
}

WaitCursor::~WaitCursor()
{
    QGuiApplication::restoreOverrideCursor();
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

namespace {

// The border and title the window manager put around the window; empty until it has framed it,
// and always where there is no window manager (the offscreen platform of the tests).
QMargins frameOf(QWidget *window)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return {};
    constexpr int waitMs = 500;
    QElapsedTimer waited;
    waited.start();
    QMargins margins = window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
    while (margins.isNull() && waited.elapsed() < waitMs) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
        margins = window->windowHandle() ? window->windowHandle()->frameMargins() : QMargins();
    }
    return margins;
}

} // namespace

// Centres a window's outer frame as soon as the window manager has framed it: dialogs are often
// framed only after they are first shown, while the program already runs its event loop.
class FrameCentrer : public QObject
{
public:
    explicit FrameCentrer(QWidget *window) : QObject(window), m_window(window)
    {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide) {
            deleteLater();
            return false;
        }
        QWindow *handle = m_window->windowHandle();
        if (handle && !handle->frameMargins().isNull()) {
            centreFrame(m_window, handle->frameMargins());
            m_window->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

    static void centreFrame(QWidget *window, const QMargins &margins)
    {
        const QScreen *screen = window->screen();
        if (!screen)
            return;
        QRect frame(QPoint(), window->size().grownBy(margins));
        frame.moveCenter(screen->availableGeometry().center());
        window->windowHandle()->setFramePosition(frame.topLeft());
    }

private:
    QWidget *m_window;
};

void showFramed(QWidget *window, QSize outer)
{
    QScreen *screen = window->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    // A first placement from the client size, corrected once the frame is known.
    QRect client(QPoint(), outer.isValid() ? outer : window->size());
    client.moveCenter(area.center());
    if (outer.isValid())
        window->resize(client.size());
    window->move(client.topLeft());
    if (!outer.isValid()) {
        new FrameCentrer(window);
        window->show();
        return;
    }
    // The outer size needs the frame before the window is maximised: waited for here.
    window->show();
    const QMargins margins = frameOf(window);
    if (margins.isNull())
        return;
    window->resize(outer.shrunkBy(margins));
    FrameCentrer::centreFrame(window, margins);
}

void showMainWindow(QWidget *window, QSize restoredOuter)
{
    showFramed(window, restoredOuter);
    window->showMaximized();
}

void showModal(QWidget *window)
{
    QWidget *previous = QApplication::activeWindow();
    window->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    CloseWatcher watcher(window, &loop);
    // A window minimised when it was last closed comes back as it was laid out.
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    showFramed(window);
    window->raise();
    window->activateWindow();
    loop.exec(QEventLoop::DialogExec);
    window->hide();
    if (previous)
        previous->activateWindow();
}

} // namespace Application

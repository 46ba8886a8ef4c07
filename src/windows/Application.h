#pragma once

#include "controls/Guard.h"

#include <QApplication>
#include <QFont>
#include <QRect>

#include <memory>

class QLabel;
class QLocale;
class QTranslator;
class QWidget;

// The program's application object. Handlers catch their own failures through the guard; what
// slips through to here is only logged, since an exception must not travel on through Qt.
class ReestrApplication : public QApplication
{
public:
    ReestrApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;
};

// Settings and services shared by every window.
namespace Application {

// Registers Tahoma from the system's Wine fonts, where fontconfig does not look for it.
// Bold is drawn from the regular face.
void registerFonts();

// The font of every window: Tahoma, bold, 19-pixel character height.
QFont windowFont();

// A fixed-size dialog border: a title and a close button, no minimise or maximise button asked of
// the window manager (which may offer them anyway: the modal loop does not depend on it).
constexpr Qt::WindowFlags fixedDialogFlags()
{
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowCloseButtonHint;
}

// Positions and sizes are laid out for 96 dots per inch; at another setting they grow or shrink
// with the font.
qreal scale();
int scaled(int pixels);
QPoint scaled(QPoint point);
QSize scaled(QSize size);
QRect scaled(const QRect &rect);

// Makes a control of a window at its laid-out place (scaled), named as the program names it.
template <typename T>
T *place(QWidget *parent, const char *name, int left, int top, int width, int height)
{
    auto *widget = new T(parent);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(scaled(QRect(left, top, width, height)));
    return widget;
}

// Qt's own texts (the file dialog, the edit boxes' and grids' context menus, the scroll bars'
// menus) in the desktop's language where it is Russian, from Qt's translations; the program's own
// texts are its own already. Gives the translator installed, removed again when it is destroyed;
// none when the language is another or the translations are not installed.
std::unique_ptr<QTranslator> installQtTranslations(const QLocale &locale);

// The wait cursor over every window for its lifetime, for work that keeps the person waiting
// (the age calculation, the archive's snapshot of a server register); restored before any box.
class WaitCursor
{
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor &) = delete;
    WaitCursor &operator=(const WaitCursor &) = delete;
};

// The order in which Tab visits the controls of a window.
void setTabOrder(const QList<QWidget *> &controls);

// A label at its laid-out place, sized to its caption.
QLabel *label(QWidget *parent, const char *name, const QString &caption, int left, int top);

// Shows a hidden secondary window modally: centred on the screen, every other window taking no
// input, until it is closed. It is then hidden, not destroyed, so its controls keep their state,
// and the window that was active before becomes active again.
void showModal(QWidget *window);

// Shows a window with its outer frame (the window manager's border and title included) centred
// on the screen, and, when `outer` is given, the frame of that size. The frame is known only once
// the window manager has framed the window, so this waits for it briefly where there is one.
void showFramed(QWidget *window, QSize outer = QSize());

// The main window at start-up: framed at its restored size, centred, then maximised, so that
// restoring it later gives the laid-out outer size.
void showMainWindow(QWidget *window, QSize restoredOuter);

// Connects a button's, a menu item's or another control's signal to a window's handler, which is
// told its sender and runs through the guard: a failure shows in the error box.
template <typename Window, typename Sender, typename Signal>
void onEvent(Window *window, Sender *sender, Signal signal, void (Window::*handler)(QObject *))
{
    QObject::connect(sender, signal, window,
                     [window, sender, handler] { guarded([&] { (window->*handler)(sender); }); });
}

} // namespace Application

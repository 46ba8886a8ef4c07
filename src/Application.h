#pragma once

#include <QApplication>
#include <QFont>
#include <QRect>

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
void registerFonts();

// The font of every window: Tahoma, bold, 19-pixel character height.
QFont windowFont();

// Positions and sizes are laid out for 96 dots per inch; at another setting they grow or shrink
// with the font.
qreal scale();
int scaled(int pixels);
QPoint scaled(QPoint point);
QSize scaled(QSize size);
QRect scaled(const QRect &rect);

// Shows a hidden secondary window modally: centred on the screen, every other window taking no
// input, until it is closed. It is then hidden, not destroyed, so its controls keep their state,
// and the window that was active before becomes active again.
void showModal(QWidget *window);

} // namespace Application

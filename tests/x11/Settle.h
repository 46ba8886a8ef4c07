#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

// Lets the window manager and the X server have their say for `ms` milliseconds.
inline void settle(int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

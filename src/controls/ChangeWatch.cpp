#include "ChangeWatch.h"

#include "recordset/Connection.h"

#include <QApplication>
#include <QMessageBox>
#include <QSocketNotifier>

#include <exception>

#include <poll.h>

ChangeWatch::ChangeWatch(Connection &connection, QObject *parent)
    : QObject(parent), m_connection(&connection)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ChangeWatch::tick);
    m_timer.start();
}

ChangeWatch::~ChangeWatch() = default;

void ChangeWatch::tick()
{
    if (m_notifier)
        m_notifier->setEnabled(true);
    show();
}

void ChangeWatch::follow()
{
    // The connection may have been made again, with a descriptor of its own, or lost.
    int signal = -1;
    try {
        signal = m_connection->changeSignal();
    } catch (const std::exception &) {
    }
    if (signal != m_signal) {
        m_notifier.reset();
        m_signal = signal;
        if (signal >= 0) {
            m_notifier = std::make_unique<QSocketNotifier>(signal, QSocketNotifier::Read);
            connect(m_notifier.get(), &QSocketNotifier::activated, this, &ChangeWatch::show);
        }
    }
}

void ChangeWatch::hold(bool held)
{
    m_held = held;
    if (!held)
        tick();
}

void ChangeWatch::show()
{
    const bool waits = m_held || QApplication::activePopupWidget() ||
                       qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!waits) {
        try {
            m_connection->showOthersChanges();
        } catch (const std::exception &) {
            // Tried again at the next tick; the person learns of the register at their next step.
        }
    }
    follow();
    // News left unread (held back, or the register busy in a transaction) waits for the next
    // tick instead of waking the program again and again.
    pollfd unread{m_signal, POLLIN, 0};
    if (m_notifier && poll(&unread, 1, 0) > 0)
        m_notifier->setEnabled(false);
}

#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

class Connection;
class QSocketNotifier;

// Shows other computers' changes in every record set of a connection as they are committed: the
// engine's descriptor is watched by the event loop, and the engine is asked about once a second
// when it has none. Nothing is shown in the middle of what the person is doing: while a message
// box or an open list waits for them, the changes wait too.
class ChangeWatch : public QObject
{
    Q_OBJECT

public:
    explicit ChangeWatch(Connection &connection, QObject *parent = nullptr);
    ~ChangeWatch() override;

    // How often the engine is asked when it gives no descriptor.
    static constexpr int intervalMs = 1000;

    // Holds other computers' changes back until released (for tests that play another computer
    // in the middle of an action); released, they show at once.
    void hold(bool held);

private:
    void tick();
    void show();
    // Watches the engine's descriptor as it is now.
    void follow();

    Connection *m_connection;
    QTimer m_timer;
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_signal = -1;
    bool m_held = false;
};

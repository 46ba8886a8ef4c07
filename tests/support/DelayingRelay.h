#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// A network between two computers, on one: listens on a local TCP port and joins each connection
// to a server's Unix socket, holding every piece of data for half the round trip in each
// direction. It counts the round trips the program makes (taking a connection, and each time it
// speaks again after the server answered), and can go silent while its connections stay open, as
// a Wi-Fi or VPN that is gone without a reset.
class DelayingRelay
{
public:
    DelayingRelay(QString serverSocket, std::chrono::microseconds roundTrip);
    ~DelayingRelay();
    DelayingRelay(const DelayingRelay &) = delete;
    DelayingRelay &operator=(const DelayingRelay &) = delete;

    int port() const { return m_port; }
    // A libpq connection string of a Unix-socket server (host=DIR port=N ...) through the relay.
    QString through(const QString &conninfo) const;

    // Round trips since the last reset, over every connection.
    int roundTrips() const { return m_roundTrips; }
    void resetRoundTrips() { m_roundTrips = 0; }

    // While silent nothing gets through either way: what is sent meanwhile is lost, as on a link
    // that is down, and the connections stay open. setSilent(false) also ends loseAnswersFrom().
    void setSilent(bool silent);

    // From the program's `turn`-th turn to speak on (1: the next), the server's answers on the
    // connections open now are lost on the way, while what the program sends still arrives and
    // is done; with `newConnectionsToo`, nothing gets through on a connection made later either
    // (the network is down for good).
    void loseAnswersFrom(int turn, bool newConnectionsToo);

private:
    void accept();
    void pump(int from, int to, bool fromClient, int connection);
    bool lost(bool fromClient, int connection) const;

    QString m_serverSocket;
    std::chrono::microseconds m_oneWay;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_roundTrips{0};
    std::atomic<bool> m_answered{true}; // the server spoke since the program last did
    std::atomic<bool> m_silent{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_lossyBelow{0};      // connections made before the loss began
    std::atomic<int> m_turnsBeforeLoss{0}; // below zero: answers are lost
    std::atomic<bool> m_newConnectionsLost{false};
    std::thread m_acceptor;
    std::mutex m_pumpsLock;
    std::vector<std::thread> m_pumps;
};

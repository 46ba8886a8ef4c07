#include "DelayingRelay.h"

#include <QFile>
#include <QStringList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <stdexcept>

DelayingRelay::DelayingRelay(QString serverSocket, std::chrono::microseconds roundTrip)
    : m_serverSocket(std::move(serverSocket)), m_oneWay(roundTrip / 2)
{
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        listen(m_listener, 8) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("the relay cannot listen");
    m_port = ntohs(address.sin_port);
    m_acceptor = std::thread([this] { accept(); });
}

DelayingRelay::~DelayingRelay()
{
    m_stopping = true;
    ::shutdown(m_listener, SHUT_RDWR);
    ::close(m_listener);
    m_acceptor.join();
    for (std::thread &pump : m_pumps)
        pump.join();
}

QString DelayingRelay::through(const QString &conninfo) const
{
    QStringList relayed;
    for (const QString &word : conninfo.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word.startsWith(QLatin1String("host=")))
            relayed << QStringLiteral("host=127.0.0.1");
        else if (word.startsWith(QLatin1String("port=")))
            relayed << QStringLiteral("port=%1").arg(m_port);
        else
            relayed << word;
    }
    return relayed.join(QLatin1Char(' '));
}

void DelayingRelay::setSilent(bool silent)
{
    m_silent = silent;
    if (!silent)
        m_lossyBelow = 0;
}

void DelayingRelay::loseAnswersFrom(int turn, bool newConnectionsToo)
{
    m_turnsBeforeLoss = turn - 1;
    m_newConnectionsLost = newConnectionsToo;
    m_lossyBelow = m_connections.load();
}

bool DelayingRelay::lost(bool fromClient, int connection) const
{
    if (m_silent)
        return true;
    if (connection >= m_lossyBelow)
        return m_lossyBelow > 0 && m_newConnectionsLost;
    return !fromClient && m_turnsBeforeLoss < 0;
}

void DelayingRelay::accept()
{
    for (;;) {
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client < 0)
            return;
        const int server = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(m_serverSocket);
        std::memcpy(address.sun_path, path.constData(),
                    std::min<size_t>(size_t(path.size()), sizeof address.sun_path - 1));
        if (::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(client);
            ::close(server);
            continue;
        }
        // Taking the connection is a round trip of its own on a network.
        ++m_roundTrips;
        m_answered = true;
        const int connection = m_connections++;
        std::lock_guard<std::mutex> held(m_pumpsLock);
        m_pumps.emplace_back([=, this] { pump(client, server, true, connection); });
        m_pumps.emplace_back([=, this] { pump(server, client, false, connection); });
    }
}

// Carries one direction: reads as it comes, writes each piece once it is due.
void DelayingRelay::pump(int from, int to, bool fromClient, int connection)
{
    using Clock = std::chrono::steady_clock;
    struct Piece
    {
        Clock::time_point due;
        QByteArray data;
    };
    std::deque<Piece> pieces;
    std::mutex lock;
    std::condition_variable arrived;
    bool ended = false;
    std::thread writer([&] {
        std::unique_lock<std::mutex> held(lock);
        for (;;) {
            arrived.wait(held, [&] { return ended || !pieces.empty(); });
            if (pieces.empty())
                break;
            Piece piece = std::move(pieces.front());
            pieces.pop_front();
            held.unlock();
            std::this_thread::sleep_until(piece.due);
            if (lost(fromClient, connection)) {
                held.lock();
                continue; // lost on the way
            }
            for (qsizetype sent = 0; sent < piece.data.size();) {
                const ssize_t n = ::send(to, piece.data.constData() + sent,
                                         size_t(piece.data.size() - sent), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += n;
            }
            held.lock();
        }
        ::shutdown(to, SHUT_WR);
    });
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        if (fromClient && m_answered.exchange(false)) {
            ++m_roundTrips;
            if (connection < m_lossyBelow)
                --m_turnsBeforeLoss;
        }
        if (!fromClient)
            m_answered = true;
        std::lock_guard<std::mutex> held(lock);
        pieces.push_back({Clock::now() + m_oneWay, QByteArray(buffer, int(n))});
        arrived.notify_one();
    }
    {
        std::lock_guard<std::mutex> held(lock);
        ended = true;
        arrived.notify_one();
    }
    writer.join();
}

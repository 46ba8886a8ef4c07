#pragma once

#include "engines/Engine.h"

#include <QElapsedTimer>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

// What the program keeps of its attempts to reach one server in this run: the password the person
// gave (in memory only, so that a reconnect does not ask again), a password they declined (not
// asked again), and a server that did not answer (not waited for again at once).
class ServerSession
{
public:
    explicit ServerSession(QString server);

    // How long the program waits for any answer of a server (the setting `timeout`).
    static void setAnswerLimit(std::chrono::seconds limit);

    // Opens the register on the server, asking the person for a password the server wants and
    // no file gives. Once they declined, fails at once without asking; after the server did not
    // answer, fails at once with the same message until as long again has passed, unless `now`
    // (the person asked for it).
    std::unique_ptr<Engine> open(bool now);

private:
    ServerAccess access(std::optional<QString> &given) const;

    QString m_server;
    QString m_declined; // why the server cannot be reached: the person gave no password
    struct Silent
    {
        QString message;
        QElapsedTimer since;
    };
    std::optional<Silent> m_silent; // the server did not answer the last attempt to connect
};

#pragma once

#include <QString>

#include <chrono>
#include <functional>

// A wait on a server, as the person is shown it.
struct Wait
{
    enum class For {
        Connecting, // to reach the server
        Answer,     // for an answer: what was sent has not reached the server (the network)
        Server,     // for the server, which has what was sent: another computer's lock, mostly
        File,       // for another program's lock on the register's file
    };
    QString where;
    For what = For::Answer;
    std::chrono::milliseconds waited{0}; // zero: the wait is over
    std::chrono::milliseconds limit{0};  // when the program gives up
};

// Told, about ten times a second, of a wait that goes on, and once more when it is over. Gives
// false when the person cancelled the wait.
using WaitObserver = std::function<bool(const Wait &wait)>;

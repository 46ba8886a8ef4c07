#pragma once

#include <csignal>

// While one is alive, Ctrl+C and a termination do not end the process: they are noted, and the
// long work of the database tool (an import, a copy) stops at its next row and cleans up after
// itself. The handlers in place before come back when it ends.
class InterruptGuard
{
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard &) = delete;
    InterruptGuard &operator=(const InterruptGuard &) = delete;

    // True once Ctrl+C or a termination came.
    static bool interrupted();

private:
    struct sigaction m_int = {};
    struct sigaction m_term = {};
};

#include "Interrupts.h"

#include <atomic>

namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void onInterrupt(int)
{
    g_interrupted = true;
}

} // namespace

InterruptGuard::InterruptGuard()
{
    g_interrupted = false;
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, &m_int);
    sigaction(SIGTERM, &action, &m_term);
}

InterruptGuard::~InterruptGuard()
{
    sigaction(SIGINT, &m_int, nullptr);
    sigaction(SIGTERM, &m_term, nullptr);
}

bool InterruptGuard::interrupted()
{
    return g_interrupted;
}

#include "cli/InterruptWatcher.h"

#include <pthread.h>
#include <signal.h>

#include <utility>

namespace {

std::atomic<bool> g_interruptIgnored{false};
std::atomic<bool> g_terminateIgnored{false};
std::atomic<bool> g_hangupIgnored{false}; // nohup

sigset_t WatchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    // The terminal went away (a dropped SSH session, a closed window): an
    // interrupt like any other, not a death in the middle of an image.
    sigaddset(&set, SIGHUP);
    return set;
}

bool IgnoredAtStart(int signo)
{
    struct sigaction action {};
    return ::sigaction(signo, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

} // namespace

void InterruptWatcher::BlockSignals()
{
    g_interruptIgnored = IgnoredAtStart(SIGINT);
    g_terminateIgnored = IgnoredAtStart(SIGTERM);
    g_hangupIgnored = IgnoredAtStart(SIGHUP);
    const sigset_t set = WatchedSignals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

InterruptWatcher::InterruptWatcher(std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal)), m_thread(&InterruptWatcher::Run, this)
{
}

InterruptWatcher::~InterruptWatcher()
{
    m_stopping = true;
    // The thread waits in sigwait(); a signal of its set, sent to it alone,
    // is what wakes it.
    ::pthread_kill(m_thread.native_handle(), SIGINT);
    m_thread.join();
}

void InterruptWatcher::Run()
{
    const sigset_t set = WatchedSignals();
    for (;;) {
        int signo = 0;
        if (::sigwait(&set, &signo) != 0)
            continue;
        if (m_stopping)
            return;
        if ((signo == SIGINT && g_interruptIgnored) || (signo == SIGTERM && g_terminateIgnored) ||
            (signo == SIGHUP && g_hangupIgnored))
            continue;
        m_onSignal(signo);
    }
}

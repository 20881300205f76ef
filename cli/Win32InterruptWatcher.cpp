#include "cli/InterruptWatcher.h"

#include <windows.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <utility>

namespace {

std::mutex g_mutex;
std::condition_variable g_idle;
std::function<void(int)>* g_onSignal = nullptr; // under g_mutex
int g_running = 0;                              // handlers inside onSignal, under g_mutex

// Runs on a thread that the system starts for each event.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    int signo = 0;
    int calls = 1;
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        signo = SIGINT;
        break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process as soon as this returns: the first
        // call may only warn (mid-transfer), the second one aborts the run
        // the way a second Ctrl-C does, with the port released.
        signo = InterruptWatcher::kHangUp;
        calls = 2;
        break;
    default:
        return FALSE;
    }
    std::function<void(int)> onSignal;
    {
        std::lock_guard lock(g_mutex);
        if (g_onSignal == nullptr)
            return FALSE;
        onSignal = *g_onSignal;
        ++g_running;
    }
    for (int i = 0; i < calls; ++i)
        onSignal(signo);
    {
        std::lock_guard lock(g_mutex);
        --g_running;
    }
    g_idle.notify_all();
    return TRUE;
}

} // namespace

void InterruptWatcher::BlockSignals()
{
}

InterruptWatcher::InterruptWatcher(std::function<void(int)> onSignal)
    : m_onSignal(std::move(onSignal))
{
    {
        std::lock_guard lock(g_mutex);
        g_onSignal = &m_onSignal;
    }
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptWatcher::~InterruptWatcher()
{
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    // What onSignal uses may end with this object's owner: wait for any
    // handler still inside it, as the POSIX watcher joins its thread.
    std::unique_lock lock(g_mutex);
    g_onSignal = nullptr;
    g_idle.wait(lock, [] { return g_running == 0; });
}

void InterruptWatcher::Run()
{
}

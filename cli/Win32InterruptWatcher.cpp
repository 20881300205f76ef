#include "cli/InterruptWatcher.h"

#include <windows.h>

#include <csignal>
#include <mutex>
#include <utility>

namespace {

std::mutex g_mutex;
std::function<void(int)>* g_onSignal = nullptr;

// Runs on a thread that the system starts for each event.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    std::function<void(int)> onSignal;
    {
        std::lock_guard lock(g_mutex);
        if (g_onSignal == nullptr)
            return FALSE;
        onSignal = *g_onSignal;
    }
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        onSignal(SIGINT);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The system ends the process as soon as this returns: the first
        // call may only warn (mid-transfer), the second one aborts the run
        // the way a second Ctrl-C does, with the port released.
        onSignal(InterruptWatcher::kHangUp);
        onSignal(InterruptWatcher::kHangUp);
        return TRUE;
    default:
        return FALSE;
    }
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
    std::lock_guard lock(g_mutex);
    g_onSignal = nullptr;
}

void InterruptWatcher::Run()
{
}

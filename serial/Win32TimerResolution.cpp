#include "serial/Win32TimerResolution.h"

#include <windows.h>

namespace {

using PeriodCall = UINT(WINAPI*)(UINT);

struct WinmmTimer {
    PeriodCall begin = nullptr;
    PeriodCall end = nullptr;
};

PeriodCall Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<PeriodCall>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// Loaded once and kept for the process's life: a port is opened and closed
// many times over (a scan tries twelve).
const WinmmTimer& Timer()
{
    static const WinmmTimer timer = [] {
        WinmmTimer found;
        if (HMODULE winmm = ::LoadLibraryExW(L"winmm.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
            found.begin = Resolve(winmm, "timeBeginPeriod");
            found.end = Resolve(winmm, "timeEndPeriod");
        }
        return found;
    }();
    return timer;
}

constexpr UINT kPeriodMs = 1;

} // namespace

Win32TimerResolution::Win32TimerResolution()
{
    const WinmmTimer& timer = Timer();
    // TIMERR_NOERROR is 0.
    m_raised = timer.begin != nullptr && timer.end != nullptr && timer.begin(kPeriodMs) == 0;
}

Win32TimerResolution::~Win32TimerResolution()
{
    if (m_raised)
        Timer().end(kPeriodMs);
}

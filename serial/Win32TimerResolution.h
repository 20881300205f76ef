#pragma once

// A 1 ms tick of the system's timer, asked for while this object lives
// (timeBeginPeriod) and given back when it goes. A serial driver's read
// time-outs end on a tick, 15.6 ms apart unless some program asks for finer
// ones: the 2 ms drain before every frame and the 20 ms that end every reply
// would each run on to the next tick, some 15 ms more a block. winmm.dll is
// loaded by the first object, not by every start of the programs.
class Win32TimerResolution {
public:
    Win32TimerResolution();
    ~Win32TimerResolution();
    Win32TimerResolution(const Win32TimerResolution&) = delete;
    Win32TimerResolution& operator=(const Win32TimerResolution&) = delete;

private:
    bool m_raised = false; // the tick was given, and is to be given back
};

#pragma once

#include <chrono>

#include "tools/SwitchSimConfig.h"

// How a simulated switch dated 9-1-25 (before the tests' files, dated
// 7-12-25) restarts after the end of the image: back with the file's date
// (the image it stored) a moment later, with its old date (the image did not
// take), never, or only after the utility has stopped waiting.
namespace SwitchRestarts {

using namespace std::chrono_literals;

inline void BackWithTheFile(SwitchSimConfig& c)
{
    c.date[0] = 9, c.date[1] = 1, c.date[2] = 25;
    c.restartDelay = 500ms;
}
inline void BackWithItsOldDate(SwitchSimConfig& c)
{
    BackWithTheFile(c);
    c.restart = SwitchSimConfig::Restart::WithOldFirmware;
}
inline void NeverBack(SwitchSimConfig& c)
{
    c.restart = SwitchSimConfig::Restart::Never;
}
inline void BackLate(SwitchSimConfig& c)
{
    c.restartDelay = 4000ms;
}

} // namespace SwitchRestarts

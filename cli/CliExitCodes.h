#pragma once

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // the operation on the switch failed
inline constexpr int kExitUsage = 2;        // a bad command line
inline constexpr int kExitInvalidFile = 2;  // info: the file may not be sent

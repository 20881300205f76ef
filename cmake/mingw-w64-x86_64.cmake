# Cross-compiles the Windows programs with Debian's MinGW-w64 (posix threads:
# std::thread and std::mutex come from winpthreads, linked in statically).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KVM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KVM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KVM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KVM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests' executables run under Wine.
find_program(KVM_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KVM_WINE})

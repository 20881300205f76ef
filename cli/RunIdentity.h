#pragma once

#include <string>

// Who runs the command and where, for the --log transcript's first line: an
// audit must say which account on which machine touched a switch. One file
// per platform (PosixRunIdentity.cpp, Win32RunIdentity.cpp), chosen by CMake.
// Empty when the system does not say.
namespace RunIdentity {

std::string UserName();
std::string HostName();

} // namespace RunIdentity

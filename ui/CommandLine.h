#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// The dialog program's options. Parsed before the application object exists,
// because --screenshot decides the window system to use and --version and
// --list-ports need none at all.
class CommandLine {
public:
    static CommandLine Parse(int argc, const char* const* argv);

    static std::string Usage();

    // What both dialog programs do before any window exists: a bad option
    // (2), --help, --version, the port table and the port from the kept
    // settings beneath --map (PortSettings; 2 when a map or a setting is
    // bad) and --list-ports. Returns the exit status when the program ends
    // here, nothing when the dialog is to run (with port set).
    // refuseOtherArgs: options left over for a window toolkit are an error
    // where there is none to take them.
    std::optional<int> RunEarly(std::ostream& out, std::ostream& err, bool refuseOtherArgs);

    bool showHelp = false;
    bool showVersion = false;
    bool listPorts = false;
    std::vector<std::string> maps;    // "COMn=DEVICE", in the order given
    std::string screenshot;           // picture to write instead of running, empty = none
    std::vector<std::string> toolkitArgs; // program name and whatever is left for the window toolkit
    std::string error;                // empty when the arguments made sense
    std::string port = "AUTO";        // where the port selector starts: the kept setting (RunEarly)
};

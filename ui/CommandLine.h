#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

class PortTable;

// The dialog program's options. Parsed before the application object exists,
// because --screenshot decides the window system to use and --version and
// --list-ports need none at all.
class CommandLine {
public:
    static CommandLine Parse(int argc, const char* const* argv);

    // Fills table from the --map options, which replace the detected ports
    // entirely; without any, table becomes the ports this machine has.
    bool ApplyPortTable(PortTable& table, std::string& error) const;

    static std::string Usage();

    // What both dialog programs do before any window exists: a bad option
    // (2), --help, --version, the port table from --map (2 when a map is
    // bad) and --list-ports. Returns the exit status when the program ends
    // here, nothing when the dialog is to run.
    // refuseOtherArgs: options left over for a window toolkit are an error
    // where there is none to take them.
    std::optional<int> RunEarly(std::ostream& out, std::ostream& err, bool refuseOtherArgs) const;

    bool showHelp = false;
    bool showVersion = false;
    bool listPorts = false;
    std::vector<std::string> maps;    // "COMn=DEVICE", in the order given
    std::string screenshot;           // picture to write instead of running, empty = none
    std::vector<std::string> toolkitArgs; // program name and whatever is left for the window toolkit
    std::string error;                // empty when the arguments made sense
};

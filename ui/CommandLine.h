#pragma once

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

    bool showHelp = false;
    bool showVersion = false;
    bool listPorts = false;
    std::vector<std::string> maps;    // "COMn=DEVICE", in the order given
    std::string screenshot;           // picture to write instead of running, empty = none
    std::vector<std::string> toolkitArgs; // program name and whatever is left for the window toolkit
    std::string error;                // empty when the arguments made sense
};

#include "ui/CommandLine.h"

#include "serial/PortTable.h"

namespace {

// "--name value" or "--name=value". True when arg is the option; value is
// then filled, or error when the value is missing.
bool TakeValue(const std::string& name, const std::string& arg, int argc, const char* const* argv, int& i,
               std::string& value, std::string& error)
{
    if (arg == name) {
        if (i + 1 >= argc) {
            error = name + " needs a value";
            return true;
        }
        value = argv[++i];
        return true;
    }
    if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
        value = arg.substr(name.size() + 1);
        return true;
    }
    return false;
}

} // namespace

CommandLine CommandLine::Parse(int argc, const char* const* argv)
{
    CommandLine result;
    result.qtArgs.emplace_back(argc > 0 && argv[0] ? argv[0] : "kvm-upgrade");
    for (int i = 1; i < argc && result.error.empty(); ++i) {
        const std::string arg = argv[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            result.showHelp = true;
        } else if (arg == "--version") {
            result.showVersion = true;
        } else if (arg == "--list-ports") {
            result.listPorts = true;
        } else if (TakeValue("--map", arg, argc, argv, i, value, result.error)) {
            if (result.error.empty())
                result.maps.push_back(value);
        } else if (TakeValue("--screenshot", arg, argc, argv, i, value, result.error)) {
            if (result.error.empty() && value.empty())
                result.error = "--screenshot needs a file name";
            result.screenshot = value;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
            // Perhaps the toolkit's own (-platform, -style ...); whatever it
            // does not take is refused once it has had its look.
            result.qtArgs.push_back(arg);
            if (i + 1 < argc && argv[i + 1][0] != '-')
                result.qtArgs.emplace_back(argv[++i]);
        } else {
            result.error = "unknown option " + arg;
        }
    }
    return result;
}

bool CommandLine::ApplyPortTable(PortTable& table, std::string& error) const
{
    if (maps.empty()) {
        table = PortTable::Detect();
        return true;
    }
    PortTable mapped;
    for (const std::string& map : maps) {
        if (!mapped.AddMapping(map, error))
            return false;
    }
    table = mapped;
    return true;
}

std::string CommandLine::Usage()
{
    return "Usage: kvm-upgrade [options]\n"
           "Upgrades the firmware of a KVM switch over a serial upgrade cable.\n"
           "\n"
           "  --map COMn=DEVICE   use DEVICE as COMn (repeatable; replaces the detected ports)\n"
           "  --list-ports        print the port table in use and exit\n"
           "  --screenshot FILE   write a PNG of the dialog as it opens and exit (no display needed)\n"
           "  --version           print the version and exit\n"
           "  --help              print this text and exit\n";
}

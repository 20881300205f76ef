#include "ui/CommandLine.h"

#include <algorithm>
#include <ostream>
#include <string_view>

#include "firmware/PrintableText.h"
#include "options/LongOption.h"
#include "serial/PortSettings.h"
#include "serial/PortTable.h"
#include "kvm/Version.h"

CommandLine CommandLine::Parse(int argc, const char* const* argv)
{
    CommandLine result;
    result.toolkitArgs.emplace_back(argc > 0 && argv[0] ? argv[0] : "kvm-upgrade");
    for (int i = 1; i < argc && result.error.empty(); ++i) {
        const std::string arg = argv[i];
        const LongOption option = LongOption::Split(arg);
        // The value after the '=', else the next word.
        auto takeValue = [&](std::string& value) {
            if (option.value)
                value = *option.value;
            else if (i + 1 < argc)
                value = argv[++i];
            else
                result.error = option.name + " needs a value";
        };
        auto flag = [&](bool& target) {
            if (option.value)
                result.error = option.name + " takes no value";
            target = true;
        };
        std::string value;
        if (option.name == "--help" || option.name == "-h") {
            flag(result.showHelp);
        } else if (option.name == "--version") {
            flag(result.showVersion);
        } else if (option.name == "--list-ports") {
            flag(result.listPorts);
        } else if (option.name == "--map") {
            takeValue(value);
            if (result.error.empty())
                result.maps.push_back(value);
        } else if (option.name == "--screenshot") {
            takeValue(value);
            if (result.error.empty() && value.empty())
                result.error = "--screenshot needs a file name";
            result.screenshot = value;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] != '-') {
            // Perhaps the toolkit's own (-platform, -style ...); whatever it
            // does not take is refused once it has had its look.
            result.toolkitArgs.push_back(arg);
            if (i + 1 < argc && argv[i + 1][0] != '-')
                result.toolkitArgs.emplace_back(argv[++i]);
        } else {
            result.error = "unknown option " + arg;
        }
    }
    return result;
}

std::string CommandLine::Usage()
{
    return "Usage: kvm-upgrade [options]\n"
           "Upgrades the firmware of a KVM switch over a serial upgrade cable.\n"
           "\n"
           "Options:\n"
           "  --map COMn=DEVICE   use DEVICE as COMn (repeatable; replaces the detected ports)\n"
           "  --list-ports        print the port table in use and exit\n"
           "  --screenshot FILE   write a picture of the dialog as it opens and exit\n"
           "                      (PNG on Linux, no display needed; BMP on Windows)\n"
           "  --version           print the version and exit\n"
           "  --help              print this text and exit\n"
           "\n"
        + PortSettings::HelpText();
}

std::optional<int> CommandLine::RunEarly(std::ostream& out, std::ostream& err, bool refuseOtherArgs)
{
    std::string problem = error;
    if (problem.empty() && refuseOtherArgs && toolkitArgs.size() > 1)
        problem = "unknown option " + toolkitArgs[1];
    if (!problem.empty()) {
        err << "kvm-upgrade: " << problem << "\n" << Usage();
        return 2;
    }
    if (showHelp) {
        out << Usage();
        return 0;
    }
    if (showVersion) {
        out << KVM_VERSION << "\n";
        return 0;
    }
    PortSettings settings;
    std::string settingsError;
    if (!settings.Load(maps, std::string(), settingsError)) {
        // It may quote a device's path, or a settings file's name.
        err << "kvm-upgrade: " << PrintableText(settingsError) << "\n";
        return 2;
    }
    PortTable::Process() = settings.Table();
    port = settings.Port();
    if (listPorts) {
        // Line by line, as the command line does it: a device's path or an
        // adapter's USB strings may hold any byte, but the listing's own
        // line ends stay.
        const std::string listing = settings.Listing();
        std::size_t start = 0;
        while (start < listing.size()) {
            const std::size_t end = std::min(listing.find('\n', start), listing.size());
            out << PrintableText(std::string_view(listing).substr(start, end - start)) << "\n";
            start = end + 1;
        }
        return 0;
    }
    return std::nullopt;
}

#include "cli/CliOptions.h"

#include "options/LongOption.h"

#include <algorithm>
#include <string>

namespace {

// --verify's wait is always bounded; an hour covers any switch's restart.
constexpr int kMaxVerifySeconds = 3600;

bool IsValueOption(const std::string& name)
{
    return name == "--port" || name == "--file" || name == "--map" || name == "--log";
}

// Short forms of the options.
std::string LongName(const std::string& arg)
{
    if (arg == "-h")
        return "--help";
    if (arg == "-p")
        return "--port";
    if (arg == "-f")
        return "--file";
    if (arg == "-y")
        return "--yes";
    if (arg == "-v")
        return "--verbose";
    if (arg == "-q")
        return "--quiet";
    return arg;
}

} // namespace

CliOptions::Action CliOptions::Parse(int argc, const char* const argv[])
{
    *this = CliOptions();
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            TakePositional(arg);
            m_verifyJustGiven = false;
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            m_verifyJustGiven = false;
            continue;
        }
        // The scan goes on after an error, so that --help anywhere still wins.
        const LongOption option = LongOption::Split(LongName(arg));
        TakeOption(option, argc, argv, i);
        m_verifyJustGiven = option.name == "--verify" && !option.value;
    }

    if (m_help)
        m_action = Action::Help;
    else if (!m_error.empty())
        m_action = Action::UsageError;
    else if (m_version)
        m_action = Action::Version;
    else if (m_listPorts)
        m_action = Action::ListPorts;
    else
        CheckCommand();
    return m_action;
}

bool CliOptions::TakeOption(const LongOption& option, int argc, const char* const argv[], int& index)
{
    const std::string& name = option.name;
    std::string value;
    if (IsValueOption(name)) {
        if (option.value) {
            value = *option.value;
        } else if (index + 1 < argc) {
            value = argv[++index];
        } else {
            Fail("option " + name + " needs a value");
            return false;
        }
    } else if (option.value && name != "--verify") {
        Fail("option " + name + " takes no value");
        return false;
    }

    if (name == "--help") {
        m_help = true;
    } else if (name == "--version") {
        m_version = true;
    } else if (name == "--list-ports") {
        m_listPorts = true;
    } else if (name == "--verbose") {
        m_verbose = true;
    } else if (name == "--yes") {
        m_yes = true;
    } else if (name == "--quiet") {
        m_quiet = true;
    } else if (name == "--json") {
        m_json = true;
    } else if (name == "--if-newer") {
        m_ifNewer = true;
    } else if (name == "--verify") {
        return SetVerify(option.value);
    } else if (name == "--log") {
        if (value.empty()) {
            Fail("--log needs a file name");
            return false;
        }
        m_logFile = value;
    } else if (name == "--port") {
        if (value != "AUTO" && !PortTable::IsPortName(value)) {
            Fail("--port " + value + ": the port is AUTO or one of COM1 to COM12");
            return false;
        }
        m_port = value;
        m_portGiven = true;
    } else if (name == "--file") {
        return SetFile(value);
    } else if (name == "--map") {
        std::string error;
        if (!m_mapTable.AddMapping(value, error)) {
            Fail(error);
            return false;
        }
        m_maps.push_back(value);
    } else {
        Fail("unknown option " + name);
        return false;
    }
    return true;
}

bool CliOptions::TakePositional(const std::string& arg)
{
    if (m_command == Command::None) {
        if (arg == "info") {
            m_command = Command::Info;
        } else if (arg == "check") {
            m_command = Command::Check;
        } else if (arg == "upgrade") {
            m_command = Command::Upgrade;
        } else {
            Fail("unknown command " + arg);
            return false;
        }
        return true;
    }
    if (m_command == Command::Check) {
        Fail("check takes no FILE argument; use --file FILE");
        return false;
    }
    // "--verify 30" would make 30 the firmware file.
    if (m_verifyJustGiven && !arg.empty() && (arg.find_first_not_of("0123456789") == std::string::npos ||
                                              arg.rfind("probe-only", 0) == 0)) {
        Fail("--verify takes its value with '=': --verify=" + arg);
        return false;
    }
    return SetFile(arg);
}

bool CliOptions::SetFile(const std::string& file)
{
    if (file.empty()) {
        Fail("the FILE name is empty");
        return false;
    }
    if (!m_file.empty()) {
        Fail("only one FILE may be given");
        return false;
    }
    m_file = file;
    return true;
}

// WHAT is a number of seconds, probe-only, or both, separated by a comma.
bool CliOptions::SetVerify(const std::optional<std::string>& what)
{
    m_verify = VerifyRequest{};
    m_verify.asked = true;
    if (!what)
        return true;
    std::size_t start = 0;
    bool seconds = false;
    while (start <= what->size()) {
        const std::size_t end = std::min(what->find(',', start), what->size());
        const std::string item = what->substr(start, end - start);
        start = end + 1;
        if (item == "probe-only" && !m_verify.probeOnly) {
            m_verify.probeOnly = true;
            continue;
        }
        int value = 0;
        bool number = !item.empty() && item.size() <= 4 && !seconds;
        for (std::size_t i = 0; number && i < item.size(); ++i) {
            number = item[i] >= '0' && item[i] <= '9';
            value = value * 10 + (item[i] - '0');
        }
        if (!number || value < 1 || value > kMaxVerifySeconds) {
            Fail("--verify=" + *what + ": give a number of seconds from 1 to " +
                 std::to_string(kMaxVerifySeconds) + ", probe-only, or both (--verify=probe-only,90)");
            return false;
        }
        m_verify.limit = std::chrono::seconds(value);
        seconds = true;
    }
    return true;
}

void CliOptions::CheckCommand()
{
    if (m_quiet && m_verbose)
        Fail("--quiet and --verbose cannot be given together");
    if (m_ifNewer && m_command != Command::Upgrade)
        Fail("--if-newer applies to upgrade only");
    if (m_verify.asked && m_command != Command::Upgrade)
        Fail("--verify applies to upgrade only");
    switch (m_command) {
    case Command::None:
        Fail("no command given");
        break;
    case Command::Info:
        if (m_portGiven)
            Fail("--port does not apply to info");
        else if (m_yes)
            Fail("--yes does not apply to info");
        else if (m_file.empty())
            Fail("info needs a FILE");
        break;
    case Command::Check:
        if (m_yes)
            Fail("--yes does not apply to check");
        break;
    case Command::Upgrade:
        if (m_file.empty())
            Fail("upgrade needs a FILE");
        break;
    }
    m_action = m_error.empty() ? Action::Run : Action::UsageError;
}

void CliOptions::Fail(const std::string& error)
{
    if (m_error.empty())
        m_error = error;
}

bool CliOptions::ApplyPortSettings()
{
    if (!m_settings.Load(m_maps, m_portGiven ? m_port : std::string(), m_error))
        return false;
    PortTable::Process() = m_settings.Table();
    m_port = m_settings.Port();
    return true;
}

std::string CliOptions::HelpText()
{
    return "Usage: kvm-upgrade-cli [OPTIONS] COMMAND\n"
           "Upgrades the firmware of a KVM switch over its serial upgrade cable.\n"
           "\n"
           "Commands:\n"
           "  info FILE          check a firmware file and show its model and version\n"
           "  check [--port NAME] [--file FILE]\n"
           "                     find the switch and read its firmware version; with a\n"
           "                     file, compare the file's date with the switch's\n"
           "  upgrade [--port NAME] [--yes] [--if-newer] [--verify[=WHAT]] FILE\n"
           "                     send FILE to the switch, after a confirmation that\n"
           "                     names the switch and both dates\n"
           "\n"
           "Options:\n"
           "  -p, --port NAME    AUTO (scan COM1 to COM12) or COM1 .. COM12; by default\n"
           "                     the kept port setting (below), else AUTO\n"
           "  -f, --file FILE    the firmware file, instead of the FILE argument\n"
           "  -y, --yes          upgrade without asking for confirmation; needed where\n"
           "                     there is no terminal to ask on\n"
           "      --if-newer     upgrade: read the switch's version first and send FILE\n"
           "                     only when its date is newer (else exit 3, having sent\n"
           "                     nothing but the probe and the version request)\n"
           "      --verify[=WHAT]\n"
           "                     upgrade: after \"Upgrade complete!\", wait for the switch\n"
           "                     to restart, probing it about once a second (60 s at\n"
           "                     most), and check that it reports the file's date; else\n"
           "                     exit 8. WHAT: the seconds to wait (1 to 3600),\n"
           "                     probe-only (only that it answers again: a file without\n"
           "                     a date in an info record is refused otherwise), or both:\n"
           "                     --verify=probe-only,90. Always use it in scripts\n"
           "      --json         print one JSON object on stdout at the end (fields in\n"
           "                     kvm-upgrade-cli(1)); the log and all other text go to\n"
           "                     stderr\n"
           "  -q, --quiet        print only the verdict and errors\n"
           "  -v, --verbose      also say why each port that failed to open failed\n"
           "                     (no such device, permission denied, held by another\n"
           "                     program...), and show the file's name as the status\n"
           "      --log FILE     append a timestamped transcript of the run to FILE,\n"
           "                     with --verbose every byte sent and received too; it\n"
           "                     begins with the tool, the command line, the file, the\n"
           "                     port, the user and the host, and ends with the outcome\n"
           "                     and exit status. A transcript that could not be written\n"
           "                     whole is said at the end. FILE may not be the firmware\n"
           "                     file or a settings file\n"
           "      --map COMn=DEVICE\n"
           "                     use DEVICE as port COMn; may be repeated. Any --map\n"
           "                     replaces the detected ports entirely\n"
           "      --list-ports   print the port table (COMn, its device, where the entry\n"
           "                     came from) and exit\n"
           "  -h, --help         print this help and exit\n"
           "      --version      print the version and exit\n"
           "\n"
        + PortSettings::HelpText()
        + "\n"
           "check and upgrade write the log to stdout as it grows, and each new status\n"
           "line to stderr; the upgrade's progress is a bar on a terminal, else a line\n"
           "\"Progress: N %\" every 10 %. A failure says its cause in one line on stderr\n"
           "(\"kvm-upgrade-cli: ...\"). check ends with a line that compares the two\n"
           "dates. A file that may not be sent (CRC error, larger than 131072 bytes,\n"
           "missing) is refused before any port is opened; for one that cannot be read,\n"
           "the reason (a directory, permission denied, not a regular file) follows the\n"
           "warning on stderr.\n"
           "Ctrl-C during the transfer only warns, since a half-written switch may not\n"
           "start; a second Ctrl-C aborts it. At any other time Ctrl-C stops at once.\n"
           "SIGTERM and SIGHUP (a closed terminal, a dropped SSH session) count as\n"
           "Ctrl-C. Output never holds up the transfer: a terminal that stops reading\n"
           "only delays the exit, and output nobody reads any more (| head -1) is\n"
           "dropped.\n"
           "\n"
           "info prints the firmware information text, then one line for scripts:\n"
           "  model-index=N family=N date-known=0|1 valid=0|1\n"
           "model-index is the model index of the file's info record (0 when the file has\n"
           "none and the model and date come from its name); a record whose index has no\n"
           "model name shows the model as \"Model #N\". family is the family byte that an\n"
           "upgrade sends to the switch. date-known is 1 when the version date can be\n"
           "compared with the switch's. valid is 1 when the file may be sent.\n"
           "\n"
           "Exit status:\n"
           "  0    done: info found the file valid; check read the switch's version\n"
           "       (and, with --file, the file is newer); upgrade ended with\n"
           "       \"Upgrade complete!\"\n"
           "  1    failed for another reason: the confirmation was declined\n"
           "  2    a usage error, a file that may not be sent, or an upgrade that could\n"
           "       not be confirmed (no terminal and no --yes)\n"
           "  3    nothing to do: the file is not newer than the switch's firmware\n"
           "       (check --file, upgrade --if-newer), its date is not known, or it\n"
           "       has a field above 255, which no switch can report\n"
           "  4    the port cannot be opened: no such device, permission denied, no\n"
           "       serial port at all\n"
           "  5    the port is busy: another program holds it (in a scan, any busy\n"
           "       port: the switch may be behind it)\n"
           "  6    no switch answered on the port, or on any port of the scan\n"
           "  7    the upgrade failed once it had begun (the switch took its headers\n"
           "       or image data): the switch may not start; keep its power and cable\n"
           "       and run the upgrade again\n"
           "  8    the upgrade was sent but not confirmed: with --verify, the switch\n"
           "       came back with another date than the file's, or did not answer in\n"
           "       time; it may not start with the new firmware: run check, and the\n"
           "       upgrade again\n"
           "  130  interrupted by Ctrl-C (143 by SIGTERM, 129 by SIGHUP); once the\n"
           "       command has its verdict, its status stands\n";
}

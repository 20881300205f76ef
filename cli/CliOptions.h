#pragma once

#include <optional>
#include <string>
#include <vector>

#include "outcome/Judgement.h"
#include "serial/PortSettings.h"
#include "serial/PortTable.h"

struct LongOption;

// The command line of kvm-upgrade-cli:
//   kvm-upgrade-cli [options] info FILE
//   kvm-upgrade-cli [options] check [--port NAME] [--file FILE]
//   kvm-upgrade-cli [options] upgrade [--port NAME] [--yes] [--if-newer] [--verify[=WHAT]] FILE
// Options may stand anywhere; "--" ends them. Parse never prints and never
// exits: a bad command line gives Action::UsageError and the reason.
class CliOptions {
public:
    enum class Command { None, Info, Check, Upgrade };
    enum class Action { Run, Help, Version, ListPorts, UsageError };

    Action Parse(int argc, const char* const argv[]);

    Command GetCommand() const { return m_command; }
    // The firmware file, from the FILE argument or --file; empty if none.
    const std::string& File() const { return m_file; }
    // "AUTO" unless --port named one of COM1 to COM12, or, once
    // ApplyPortSettings has run, a kept setting did.
    const std::string& Port() const { return m_port; }
    bool Yes() const { return m_yes; }
    bool Verbose() const { return m_verbose; }
    // Only the verdict and errors on the terminal.
    bool Quiet() const { return m_quiet; }
    // One JSON object on stdout at the end; the human text goes to stderr.
    bool Json() const { return m_json; }
    // upgrade: read the switch's version first and send only a newer file.
    bool IfNewer() const { return m_ifNewer; }
    // upgrade --verify[=WHAT]: after "Upgrade complete!", wait for the switch
    // to restart and compare the date it reports with the file's.
    const VerifyRequest& Verify() const { return m_verify; }
    // A timestamped transcript of the run; empty when none.
    const std::string& LogFile() const { return m_logFile; }
    const std::vector<std::string>& Maps() const { return m_maps; }
    const std::string& Error() const { return m_error; }

    // Reads the kept settings (PortSettings: files, environment) beneath
    // --map and --port, and makes PortTable::Process() the table they give
    // and Port() the port. False, with Error(), for a bad entry: a usage
    // error like a bad --map.
    bool ApplyPortSettings();
    // What --list-ports prints, once the settings are applied.
    std::string PortListing() const { return m_settings.Listing(); }

    static std::string HelpText();

private:
    bool TakeOption(const LongOption& option, int argc, const char* const argv[], int& index);
    bool TakePositional(const std::string& arg);
    bool SetFile(const std::string& file);
    bool SetVerify(const std::optional<std::string>& what);
    void CheckCommand();
    void Fail(const std::string& error);

    Action m_action = Action::UsageError;
    Command m_command = Command::None;
    std::string m_file;
    std::string m_port = "AUTO";
    bool m_portGiven = false;
    bool m_yes = false;
    bool m_verbose = false;
    bool m_quiet = false;
    bool m_json = false;
    bool m_ifNewer = false;
    VerifyRequest m_verify;
    bool m_verifyJustGiven = false; // the word before was a bare --verify
    std::string m_logFile;
    bool m_help = false;
    bool m_version = false;
    bool m_listPorts = false;
    std::vector<std::string> m_maps;
    PortTable m_mapTable;
    PortSettings m_settings;
    std::string m_error;
};

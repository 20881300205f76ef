#include "serial/PortSettings.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "serial/SettingsFile.h"
#include "serial/SettingsLocations.h"
#include "serial/SystemPorts.h"

namespace {

// The file a variable names instead of the platform's: set but empty means
// no file at all, so that a test (or a user trying one out) is not mixed
// with the machine's own.
std::string FileFrom(const char* variable, const std::string& platformFile)
{
    const char* named = std::getenv(variable);
    return named != nullptr ? std::string(named) : platformFile;
}

} // namespace

std::vector<std::string> PortSettings::Files()
{
    std::vector<std::string> files;
    for (std::string path : {FileFrom("KVM_UPGRADE_SYSTEM_CONFIG", SettingsLocations::SystemFile()),
                             FileFrom("KVM_UPGRADE_USER_CONFIG", SettingsLocations::UserFile())}) {
        if (!path.empty())
            files.push_back(std::move(path));
    }
    return files;
}

bool PortSettings::Load(const std::vector<std::string>& commandLineMaps, const std::string& commandLinePort,
                        std::string& error)
{
    *this = PortSettings();
    PortSettings loaded;
    for (const std::string& path : Files()) {
        if (!loaded.ReadFile(path, error))
            return false;
    }
    if (const char* maps = std::getenv("KVM_UPGRADE_MAP")) {
        std::string_view rest(maps);
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find(kMapSeparator), rest.size());
            const std::string entry(SettingsFile::Trimmed(rest.substr(0, end)));
            rest.remove_prefix(std::min(end + 1, rest.size()));
            if (!entry.empty() && !loaded.TakeMap(entry, "KVM_UPGRADE_MAP: ", "from KVM_UPGRADE_MAP", error))
                return false;
        }
    }
    if (const char* port = std::getenv("KVM_UPGRADE_PORT"); port != nullptr && port[0] != '\0') {
        if (!loaded.TakePort(port, "KVM_UPGRADE_PORT=", "from KVM_UPGRADE_PORT", error))
            return false;
    }
    for (const std::string& mapping : commandLineMaps) {
        if (!loaded.TakeMap(mapping, "--map ", "from the command line", error))
            return false;
    }
    if (!commandLinePort.empty() && !loaded.TakePort(commandLinePort, "--port ", "from the command line", error))
        return false;
    loaded.m_table = loaded.m_anyMap ? loaded.m_mapped : PortTable::Detect();
    *this = std::move(loaded);
    error.clear();
    return true;
}

bool PortSettings::ReadFile(const std::string& path, std::string& error)
{
    SettingsFile file;
    if (!file.Read(path, error))
        return false;
    for (const SettingsFile::Setting& setting : file.Settings()) {
        const std::string line = std::to_string(setting.line);
        const std::string where = path + ":" + line + ": " + setting.key + " = ";
        const std::string source = "from " + path + ", line " + line;
        const bool ok = setting.key == "map" ? TakeMap(setting.value, where, source, error)
                                             : TakePort(setting.value, where, source, error);
        if (!ok)
            return false;
    }
    return true;
}

bool PortSettings::TakeMap(const std::string& mapping, const std::string& where, const std::string& source,
                           std::string& error)
{
    std::string reason;
    if (!m_mapped.AddMapping(mapping, source, reason)) {
        error = where + mapping + ": " + reason;
        return false;
    }
    m_anyMap = true;
    return true;
}

bool PortSettings::TakePort(const std::string& port, const std::string& where, const std::string& source,
                            std::string& error)
{
    if (port != "AUTO" && !PortTable::IsPortName(port)) {
        error = where + port + ": the port is AUTO or one of COM1 to COM12";
        return false;
    }
    m_port = port;
    m_portSource = source;
    return true;
}

std::string PortSettings::Listing() const
{
    std::string text = SystemPorts::Listing(m_table);
    if (!m_portSource.empty())
        text += "port " + m_port + " (" + m_portSource + ")\n";
    return text;
}

std::string PortSettings::HelpText()
{
    return "Kept settings: the port to use and COMn=DEVICE maps may be kept in files\n"
           "and in the environment rather than typed each time. The files hold one\n"
           "setting a line, \"port = COM1\" or \"map = COM1=DEVICE\" (# starts a comment).\n"
        + SettingsLocations::Described()
        + "The environment: KVM_UPGRADE_MAP=\"COM1=DEVICE;COM2=DEVICE\" and\n"
          "KVM_UPGRADE_PORT=COM1. For each COMn, and for the port, the command line\n"
          "wins over the environment, the environment over the user's file, and that\n"
          "over the system's; any map, wherever kept, replaces the detected ports.\n"
          "--list-ports says where each entry came from. A bad line is a usage error\n"
          "that names its file and line. KVM_UPGRADE_SYSTEM_CONFIG and\n"
          "KVM_UPGRADE_USER_CONFIG name other files instead (set but empty: none).\n";
}

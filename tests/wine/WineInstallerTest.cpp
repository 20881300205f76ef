// The Windows Installer package under Wine: installed per machine, the
// command line found by name from a console and upgrading the simulated
// switch, replaced by a newer package, then removed without a trace.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "tests/support/FirmwareTestFiles.h"
#include "tests/wine/WineHost.h"
#include "tools/SwitchSim.h"

namespace {

using namespace std::chrono_literals;
using F = FirmwareTestFiles;
using Values = std::map<std::string, std::string>;

constexpr int kComFrom = 60;
const char* const kUninstall = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char* const kEnvironment = "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment";
const char* const kInstallDir = "C:\\Program Files\\kvm-upgrade\\";

// Every key under key, with its values, as reg query /s lists them.
std::map<std::string, Values> RegistryTree(const std::string& key)
{
    std::map<std::string, Values> tree;
    std::istringstream lines(WineHost::Run("reg", {"query", key, "/s"}).out);
    const std::regex value(R"(^ {4}(.+?) {4}(REG_[A-Z_]+)(?: {4}(.*?))?\r?$)");
    std::string line;
    std::string current;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (line.rfind("HKEY_", 0) == 0)
            current = line.substr(0, line.find_last_not_of('\r') + 1);
        else if (std::regex_match(line, match, value))
            tree[current][match[1]] = match[3];
    }
    return tree;
}

// Our entries of Apps & features, by their keys: the product codes.
std::map<std::string, Values> OurUninstallEntries()
{
    std::map<std::string, Values> ours;
    for (const auto& [key, values] : RegistryTree(kUninstall)) {
        const auto name = values.find("DisplayName");
        if (name != values.end() && name->second == "kvm-upgrade")
            ours[key.substr(key.rfind('\\') + 1)] = values;
    }
    return ours;
}

std::string SystemPath()
{
    for (const auto& [key, values] : RegistryTree(kEnvironment)) {
        if (values.count("PATH") != 0)
            return values.at("PATH");
    }
    return "";
}

// PATH without its empty entries (Wine leaves a ";" where one was removed).
std::string WithoutEmptyEntries(std::string path)
{
    path = std::regex_replace(path, std::regex(";;+"), ";");
    return std::regex_replace(path, std::regex("^;|;$"), "");
}

void SetSystemPath(const std::string& path)
{
    const auto result = WineHost::Run("reg", {"add", kEnvironment, "/v", "PATH", "/t", "REG_EXPAND_SZ", "/d", path, "/f"});
    ASSERT_EQ(result.exitCode, 0) << WineHost::Trace(result);
}

int StartMenuShortcuts()
{
    namespace fs = std::filesystem;
    int count = 0;
    for (const char* root : {"/drive_c/users", "/drive_c/ProgramData"}) {
        for (const auto& entry : fs::recursive_directory_iterator(WineHost::DefaultPrefix() + root,
                                                                   fs::directory_options::skip_permission_denied))
            count += entry.path().filename() == "kvm-upgrade.lnk" ? 1 : 0;
    }
    return count;
}

std::filesystem::path InstallFolder()
{
    return WineHost::DefaultPrefix() + "/drive_c/Program Files/kvm-upgrade";
}

ChildProcess::Result Msiexec(const std::string& action, const std::string& package)
{
    return WineHost::Run("msiexec", {action, package, "/qn"});
}

TEST(WineInstaller, InstallsIsReplacedAndLeavesNothingBehind)
{
    WineHost::Prepare();
    // A run that was killed half-way left its installation: away with it,
    // and with the empty entries Wine's removal leaves in PATH, where Wine's
    // cmd stops looking.
    for (const auto& [productCode, values] : OurUninstallEntries())
        Msiexec("/x", productCode);
    ASSERT_TRUE(OurUninstallEntries().empty());
    const std::string pathBefore = WithoutEmptyEntries(SystemPath());
    ASSERT_FALSE(pathBefore.empty());
    SetSystemPath(pathBefore);

    // The newer package: the same one with the last number of the version
    // raised, which Windows Installer on its own would not count as newer.
    FirmwareTestFiles files;
    const std::string version = KVM_PROJECT_VERSION;
    const std::string newer = version.substr(0, version.rfind('.') + 1)
        + std::to_string(std::stoi(version.substr(version.rfind('.') + 1)) + 1);
    const std::string newerMsi = files.PathOf("newer.msi");
    std::filesystem::copy_file(KVM_WINDOWS_MSI, newerMsi);
    const auto edited = ChildProcess({KVM_MSIBUILD, newerMsi, "-q",
                                      "UPDATE Property SET Value = '" + newer + "' WHERE Property = 'ProductVersion'",
                                      "-q",
                                      "UPDATE Property SET Value = '{6D1A3F0E-5B7C-4E2A-9F1D-2C8B7A6E5D40}' "
                                      "WHERE Property = 'ProductCode'"})
                            .Wait();
    ASSERT_EQ(edited.exitCode, 0) << WineHost::Trace(edited);

    const auto installed = Msiexec("/i", WineHost::WindowsPath(KVM_WINDOWS_MSI));
    ASSERT_EQ(installed.exitCode, 0) << WineHost::Trace(installed);
    for (const char* file : {"kvm-upgrade.exe", "kvm-upgrade-cli.exe", "kvm-make-firmware.exe", "README.txt",
                             "LICENSE.txt"})
        EXPECT_TRUE(std::filesystem::is_regular_file(InstallFolder() / file)) << file;
    EXPECT_EQ(StartMenuShortcuts(), 1);
    auto entries = OurUninstallEntries();
    ASSERT_EQ(entries.size(), 1u);
    Values entry = entries.begin()->second;
    EXPECT_EQ(entry["DisplayVersion"], version);
    EXPECT_EQ(entry["Publisher"], "kvm-upgrade developers");
    EXPECT_NE(entry["Comments"].find("Apache License 2.0"), std::string::npos) << entry["Comments"];
    EXPECT_NE(SystemPath().find(kInstallDir), std::string::npos) << SystemPath();

    // A console finds the command line by name, on the PATH the package set.
    SwitchSim sim;
    ASSERT_TRUE(sim.Start());
    WineComLink link(sim.DevicePath(), kComFrom);
    const F::Bytes image = F::RecordedImage(4096);
    const auto upgraded = WineHost::Run(
        "cmd", {"/c", "kvm-upgrade-cli", "--map", "COM3=" + link.Device(), "upgrade", "--port", "COM3", "--yes",
                WineHost::WindowsPath(files.Write("fw.bin", image))});
    EXPECT_EQ(upgraded.exitCode, 0) << WineHost::Trace(upgraded);
    // Wine's cmd says nothing, and exits 0, for a command it cannot find.
    EXPECT_NE((upgraded.out + upgraded.err).find("Upgrade complete!"), std::string::npos) << WineHost::Trace(upgraded);
    ASSERT_TRUE(sim.WaitForEndOfImage(10s));
    EXPECT_TRUE(sim.Report().image == image) << "stored " << sim.Report().image.size() << " bytes";

    const auto replaced = Msiexec("/i", WineHost::WindowsPath(newerMsi));
    ASSERT_EQ(replaced.exitCode, 0) << WineHost::Trace(replaced);
    entries = OurUninstallEntries();
    ASSERT_EQ(entries.size(), 1u) << "the newer package installed beside the older one";
    EXPECT_EQ(entries.begin()->second["DisplayVersion"], newer);
    EXPECT_EQ(StartMenuShortcuts(), 1);

    const auto removed = Msiexec("/x", WineHost::WindowsPath(newerMsi));
    ASSERT_EQ(removed.exitCode, 0) << WineHost::Trace(removed);
    EXPECT_FALSE(std::filesystem::exists(InstallFolder()));
    EXPECT_EQ(StartMenuShortcuts(), 0);
    EXPECT_TRUE(OurUninstallEntries().empty());
    const std::string pathAfter = SystemPath();
    EXPECT_EQ(pathAfter.find("kvm-upgrade"), std::string::npos) << pathAfter;
    EXPECT_EQ(WithoutEmptyEntries(pathAfter), pathBefore);
    SetSystemPath(pathBefore);
}

} // namespace

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "tests/support/FirmwareTestFiles.h"

namespace {

// The listing without the rows of the devices this machine has that no
// COMn reaches ("-     /dev/ttyS0 ..." and the lines under them).
std::string WithoutUnreached(const std::string& listing)
{
    std::string kept;
    bool skipping = false;
    for (std::size_t start = 0; start < listing.size();) {
        const std::size_t end = std::min(listing.find('\n', start), listing.size() - 1) + 1;
        const std::string line = listing.substr(start, end - start);
        start = end;
        skipping = line.rfind("-     ", 0) == 0 || (skipping && line.rfind("      ", 0) == 0);
        if (!skipping)
            kept += line;
    }
    return kept;
}

// Each COMn and the port from the highest source that names them: the
// system's file, the user's, the environment, the command line; a bad entry
// is a usage error that says where it is.
TEST(CliSettings, SourcesAndTheirPrecedence)
{
    FirmwareTestFiles files;
    const auto text = [](const std::string& s) { return FirmwareTestFiles::Bytes(s.begin(), s.end()); };
    const std::string sys = files.Write("system.conf", text("# kept\nmap = COM1=/dev/s1\nmap=COM2=/dev/s2\n"
                                                            "port = COM1\n"));
    const std::string user = files.Write("user.conf", text("\xEF\xBB\xBF map = COM2=/dev/u2 \r\nport = COM2\r\n"));
    const std::string badLine = files.Write("bad.conf", text("map = COM3=/dev/u3\n\nportt = COM3\n"));
    const std::string junk = files.Write("junk.conf", {0x7F, 'E', 'L', 'F', 2, 1, 1, 0, 0});
    const std::string badMap = files.Write("map.conf", text("map = COM13=/dev/u13\n"));
    const std::string s1 = "COM1  /dev/s1\n      from " + sys + ", line 2\n";
    const std::string u2 = "COM2  /dev/u2\n      from " + user + ", line 1\n";
    const struct {
        const char* what;
        std::string user;     // the system's file is always sys
        const char* envMap;   // "": none
        const char* envPort;
        std::vector<std::string> args;
        int exitCode;
        std::string out;      // the listing, less the machine's own unreached devices
        std::string err;      // in stderr
    } cases[] = {
        {"the system's file; no user file", files.PathOf("none.conf"), "", "", {}, 0,
         s1 + "COM2  /dev/s2\n      from " + sys + ", line 3\nport COM1 (from " + sys + ", line 4)\n", ""},
        {"the user's file over it", user, "", "", {}, 0,
         s1 + u2 + "port COM2 (from " + user + ", line 2)\n", ""},
        {"the environment over both", user, " COM2=/dev/e2 ;;COM4=/dev/e4", "COM4", {}, 0,
         s1 + "COM2  /dev/e2\n      from KVM_UPGRADE_MAP\nCOM4  /dev/e4\n      from KVM_UPGRADE_MAP\n"
             "port COM4 (from KVM_UPGRADE_PORT)\n", ""},
        {"the command line over all", user, "COM4=/dev/e4", "COM4", {"--map", "COM4=/dev/c4", "--port", "AUTO"}, 0,
         s1 + u2 + "COM4  /dev/c4\n      from the command line\nport AUTO (from the command line)\n", ""},
        {"a bad line", badLine, "", "", {}, 2, "", badLine + ":3: unknown setting \"portt\""},
        {"a bad map", badMap, "", "", {}, 2, "", badMap + ":1: map = COM13=/dev/u13: \"COM13\" is no port"},
        {"binary junk", junk, "", "", {}, 2, "", junk + ":1: holds the control byte 0x7f"},
        {"a bad variable", user, "COM2", "", {}, 2, "", "KVM_UPGRADE_MAP: COM2: expected COMn=DEVICE"},
        {"a directory", files.Folder().string(), "", "", {}, 2, "", "is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        setenv("KVM_UPGRADE_SYSTEM_CONFIG", sys.c_str(), 1);
        setenv("KVM_UPGRADE_USER_CONFIG", c.user.c_str(), 1);
        setenv("KVM_UPGRADE_MAP", c.envMap, 1);
        setenv("KVM_UPGRADE_PORT", c.envPort, 1);
        std::vector<std::string> args = c.args;
        args.push_back("--list-ports");
        const CliRunner::Result result = CliRunner::Run(args);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(WithoutUnreached(result.out), c.out);
        EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
    for (const char* variable : {"KVM_UPGRADE_SYSTEM_CONFIG", "KVM_UPGRADE_USER_CONFIG", "KVM_UPGRADE_MAP",
                                 "KVM_UPGRADE_PORT"})
        setenv(variable, "", 1); // none, as CliChild leaves them for the other tests
}

} // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliOptions.h"

namespace {

using Action = CliOptions::Action;
using Command = CliOptions::Command;


Action Parse(CliOptions& options, const std::vector<std::string>& args)
{
    std::vector<const char*> argv{"kvm-upgrade-cli"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    return options.Parse(static_cast<int>(argv.size()), argv.data());
}

std::string Joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& arg : args)
        text += " " + arg;
    return text;
}

TEST(CliOptions, ParsesTheCommandsAndTheirOptions)
{
    const struct {
        std::vector<std::string> args;
        Command command;
        std::string file;
        std::string port;
        bool yes;
        bool verbose;
    } cases[] = {
        {{"info", "a.bin"}, Command::Info, "a.bin", "AUTO", false, false},
        {{"info", "--file", "a.bin"}, Command::Info, "a.bin", "AUTO", false, false},
        {{"info", "--file=dir/a.bin"}, Command::Info, "dir/a.bin", "AUTO", false, false},
        {{"-v", "info", "a.bin"}, Command::Info, "a.bin", "AUTO", false, true},
        {{"info", "--", "-1-2-3.bin"}, Command::Info, "-1-2-3.bin", "AUTO", false, false},
        {{"--", "info", "--help"}, Command::Info, "--help", "AUTO", false, false},
        {{"check"}, Command::Check, "", "AUTO", false, false},
        {{"check", "--port", "COM12"}, Command::Check, "", "COM12", false, false},
        {{"check", "-p", "COM3", "-f", "x.bin"}, Command::Check, "x.bin", "COM3", false, false},
        {{"upgrade", "--port=COM10", "--yes", "fw.bin"}, Command::Upgrade, "fw.bin", "COM10", true, false},
        {{"upgrade", "fw.bin", "-y", "--verbose"}, Command::Upgrade, "fw.bin", "AUTO", true, true},
        {{"upgrade", "--port", "AUTO", "fw.bin"}, Command::Upgrade, "fw.bin", "AUTO", false, false},
        {{"--map", "COM3=/dev/ttyS0", "--map=COM1=/dev/ttyUSB0", "upgrade", "fw.bin"},
         Command::Upgrade, "fw.bin", "AUTO", false, false},
    };
    for (const auto& c : cases) {
        CliOptions options;
        EXPECT_EQ(Parse(options, c.args), Action::Run) << Joined(c.args) << ": " << options.Error();
        EXPECT_EQ(options.GetCommand(), c.command) << Joined(c.args);
        EXPECT_EQ(options.File(), c.file) << Joined(c.args);
        EXPECT_EQ(options.Port(), c.port) << Joined(c.args);
        EXPECT_EQ(options.Yes(), c.yes) << Joined(c.args);
        EXPECT_EQ(options.Verbose(), c.verbose) << Joined(c.args);
        EXPECT_TRUE(options.Error().empty()) << Joined(c.args);
    }
}

// Every value option reads "--opt=value" as "--opt value".
TEST(CliOptions, TakesEachValueOptionWithEquals)
{
    const struct {
        std::vector<std::string> spaced;
        std::vector<std::string> joined;
    } cases[] = {
        {{"check", "--port", "COM2"}, {"check", "--port=COM2"}},
        {{"check", "--file", "a=b.bin"}, {"check", "--file=a=b.bin"}},
        {{"--map", "COM1=/dev/one", "--list-ports"}, {"--map=COM1=/dev/one", "--list-ports"}},
        {{"check", "--port", "COM13"}, {"check", "--port=COM13"}},
    };
    for (const auto& c : cases) {
        CliOptions spaced;
        CliOptions joined;
        EXPECT_EQ(Parse(joined, c.joined), Parse(spaced, c.spaced)) << Joined(c.joined);
        EXPECT_EQ(joined.Port(), spaced.Port()) << Joined(c.joined);
        EXPECT_EQ(joined.File(), spaced.File()) << Joined(c.joined);
        EXPECT_EQ(joined.Maps(), spaced.Maps()) << Joined(c.joined);
        EXPECT_EQ(joined.Error(), spaced.Error()) << Joined(c.joined);
    }
}

TEST(CliOptions, HelpVersionAndListPortsStandAlone)
{
    const struct {
        std::vector<std::string> args;
        Action action;
    } cases[] = {
        {{"--help"}, Action::Help},
        {{"-h"}, Action::Help},
        {{"upgrade", "--bogus", "--help"}, Action::Help},
        {{"--version"}, Action::Version},
        {{"--version", "info"}, Action::Version},
        {{"--list-ports"}, Action::ListPorts},
        {{"--map", "COM2=/dev/pts/7", "--list-ports"}, Action::ListPorts},
    };
    for (const auto& c : cases) {
        CliOptions options;
        EXPECT_EQ(Parse(options, c.args), c.action) << Joined(c.args) << ": " << options.Error();
    }
}

TEST(CliOptions, RefusesBadCommandLines)
{
    const struct {
        std::vector<std::string> args;
        std::string error; // a part of the reason
    } cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command frobnicate"},
        {{"--frobnicate", "info", "a"}, "unknown option --frobnicate"},
        {{"info"}, "info needs a FILE"},
        {{"info", "a", "b"}, "only one FILE"},
        {{"info", "a", "--file", "b"}, "only one FILE"},
        {{"info", ""}, "empty"},
        {{"info", "--port", "COM1", "a"}, "--port does not apply"},
        {{"info", "--yes", "a"}, "--yes does not apply"},
        {{"info", "a", "--yes=1"}, "takes no value"},
        {{"check", "x.bin"}, "--file"},
        {{"check", "--yes"}, "--yes does not apply"},
        {{"upgrade"}, "upgrade needs a FILE"},
        {{"upgrade", "fw.bin", "--port"}, "needs a value"},
        {{"upgrade", "--port", "COM13", "fw.bin"}, "COM1 to COM12"},
        {{"upgrade", "--port", "COM0", "fw.bin"}, "COM1 to COM12"},
        {{"upgrade", "--port", "COM01", "fw.bin"}, "COM1 to COM12"},
        {{"upgrade", "--port", "com1", "fw.bin"}, "COM1 to COM12"},
        {{"upgrade", "--port", "auto", "fw.bin"}, "COM1 to COM12"},
        {{"--map", "COM13=/dev/ttyS0", "--list-ports"}, "COM13"},
        {{"--map", "COM3=", "--list-ports"}, "--map"},
        {{"--map", "COM3", "info", "a"}, "--map"},
        {{"--list-ports", "--map"}, "needs a value"},
        {{"check", "--verify"}, "--verify applies to upgrade only"},
        {{"upgrade", "--verify=0", "fw.bin"}, "1 to 3600"},
        {{"upgrade", "--verify=3601", "fw.bin"}, "1 to 3600"},
        {{"upgrade", "--verify=", "fw.bin"}, "1 to 3600"},
        {{"upgrade", "--verify=60s", "fw.bin"}, "1 to 3600"},
        {{"upgrade", "--verify=probe-only,probe-only", "fw.bin"}, "1 to 3600"},
        {{"upgrade", "--verify=30,40", "fw.bin"}, "1 to 3600"},
        {{"upgrade", "--verify=probe-only,", "fw.bin"}, "1 to 3600"},
        {{"upgrade", "--verify", "30", "fw.bin"}, "--verify=30"},
    };
    for (const auto& c : cases) {
        CliOptions options;
        EXPECT_EQ(Parse(options, c.args), Action::UsageError) << Joined(c.args);
        EXPECT_NE(options.Error().find(c.error), std::string::npos)
            << Joined(c.args) << ": \"" << options.Error() << "\"";
    }
}

TEST(CliOptions, TakesWhatVerifyAsks)
{
    const struct {
        std::vector<std::string> args;
        bool asked;
        bool probeOnly;
        int seconds;
    } cases[] = {
        {{"upgrade", "fw.bin"}, false, false, 60},
        {{"upgrade", "--verify", "fw.bin"}, true, false, 60},
        {{"upgrade", "--verify=90", "fw.bin"}, true, false, 90},
        {{"upgrade", "--verify=probe-only", "fw.bin"}, true, true, 60},
        {{"upgrade", "--verify=5,probe-only", "fw.bin"}, true, true, 5},
        {{"upgrade", "--verify=3600", "--verify", "fw.bin"}, true, false, 60},
    };
    for (const auto& c : cases) {
        CliOptions options;
        ASSERT_EQ(Parse(options, c.args), Action::Run) << Joined(c.args) << ": " << options.Error();
        EXPECT_EQ(options.Verify().asked, c.asked) << Joined(c.args);
        EXPECT_EQ(options.Verify().probeOnly, c.probeOnly) << Joined(c.args);
        EXPECT_EQ(options.Verify().limit.count(), c.seconds) << Joined(c.args);
    }
}

TEST(CliOptions, ParsingAgainStartsAfresh)
{
    CliOptions options;
    Parse(options, {"--map", "COM3=/dev/ttyS0", "upgrade", "--yes", "--port", "COM2", "fw.bin"});
    ASSERT_EQ(options.Maps().size(), 1u);
    EXPECT_EQ(Parse(options, {"info", "b.bin"}), Action::Run);
    EXPECT_EQ(options.Port(), "AUTO");
    EXPECT_FALSE(options.Yes());
    EXPECT_TRUE(options.Maps().empty());
    EXPECT_EQ(options.File(), "b.bin");
}

} // namespace

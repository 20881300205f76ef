#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "CliChild.h"
#include "CliRunner.h"
#include "tests/kvm/TestSupport.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"

namespace {

using F = FirmwareTestFiles;

const std::string kLongHint = "\n\nPress Check KVM to compare version date.";

TEST(CliRun, InfoPrintsTheInformationTextAndTheScriptLine)
{
    FirmwareTestFiles files;
    const struct {
        std::string name;
        F::Bytes content;
        std::string out;
        int exitCode;
    } cases[] = {
        {"r315-07-11-30.bin", F::WithCrc(F::Filler(64)),
         "Firmware infomation :\nModel : Corva\nVersion : 07-11-30" + kLongHint +
             "\nmodel-index=0 family=1 date-known=1 valid=1\n",
         0},
        {"image.bin", F::WithCrc(F::Join({F::Filler(64), F::RawRecord({2, 7, 12, 25, 0, 210})})),
         "Firmware infomation :\nModel : PZN442\nVersion : 7-12-25" + kLongHint +
             "\nmodel-index=2 family=2 date-known=1 valid=1\n",
         0},
        {"qvr.bin", F::WithCrc(F::InfoRecord(10, 1, 2, 3)),
         "Firmware infomation :\nModel : Model #10\nVersion : 1-2-3" + kLongHint +
             "\nmodel-index=10 family=1 date-known=1 valid=1\n",
         0},
        {"firmware.bin", F::WithCrc(F::Filler(64)),
         "Firmware infomation :\nModel : firmware.bin\nVersion : Unable to recognize date."
         "\nmodel-index=0 family=1 date-known=0 valid=1\n",
         0},
        // Their CRC is 0, and they are still no firmware.
        {"r315-07-11-30.bin", {},
         "Firmware infomation :\nModel : CRC error.\nVersion :  File is empty."
         "\nmodel-index=0 family=1 date-known=0 valid=0\n",
         2},
        {"hx5tra-7-5-14.bin", F::Bytes(512, 0),
         "Firmware infomation :\nModel : CRC error.\nVersion :  File holds only zero bytes."
         "\nmodel-index=0 family=1 date-known=0 valid=0\n",
         2},
        {"hx5tra-7-5-14.bin", F::Filler(64),
         "Firmware infomation :\nModel : CRC error.\nVersion :  You may not continue upgrade\n\twith this file."
         "\nmodel-index=0 family=1 date-known=0 valid=0\n",
         2},
        {"big-1-2-3.bin", F::WithCrc(F::Filler(131072)),
         "Firmware infomation :\nModel : CRC error.\nVersion :  File is larger than 131072 bytes."
         "\nmodel-index=0 family=1 date-known=0 valid=0\n",
         2},
    };
    for (const auto& c : cases) {
        const CliRunner::Result result = CliRunner::Run({"info", files.Write(c.name, c.content)});
        EXPECT_EQ(result.out, c.out) << c.name;
        EXPECT_EQ(result.exitCode, c.exitCode) << c.name;
        EXPECT_EQ(result.err, "") << c.name;
    }
}

TEST(CliRun, InfoOnAMissingFileWarnsOnTheErrorStream)
{
    FirmwareTestFiles files;
    const CliRunner::Result result = CliRunner::Run({"info", "--file", files.PathOf("r315-1-2-3.bin")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "Warning: File not exists!\nkvm-upgrade-cli: " +
                              files.PathOf("r315-1-2-3.bin") + ": no such file\n");
    EXPECT_EQ(result.out, "Firmware infomation :\nModel : CRC error.\nVersion : "
                          "\nmodel-index=0 family=1 date-known=0 valid=0\n");
}

// "File not exists!" is what the loader says of anything it cannot read; the
// command line adds why, for every command that takes a file. Nothing that
// is not a regular file is read from: a FIFO without a writer returns at once.
TEST(CliRun, AFileThatCannotBeReadSaysWhy)
{
    using namespace std::chrono_literals;
    FirmwareTestFiles files;
    // Open to everyone, so that only the file's own mode keeps a user out.
    ASSERT_EQ(::chmod(files.Folder().c_str(), 0755), 0);
    const std::string folder = files.PathOf("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    const std::string locked = files.Write("locked-1-2-3.bin", F::WithCrc({}));
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    const std::string fifo = files.PathOf("fifo-1-2-3.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

    const std::string kNotRegular = "not a regular file (a pipe, a device or a socket cannot be sent)";
    // Root reads any file: that row runs as nobody.
    const uid_t lockedOut = ::geteuid() == 0 ? 65534 : 0;
    const struct {
        std::string path;
        std::string reason;
        uid_t user;
    } cases[] = {
        {folder, "is a directory", 0},
        {locked, "permission denied", lockedOut},
        {fifo, kNotRegular, 0},
        {"/dev/null", kNotRegular, 0},
        {files.PathOf("missing-1-2-3.bin"), "no such file", 0},
    };
    const std::vector<std::string> commands[] = {{"info"}, {"check", "--file"}, {"upgrade", "--yes"}};
    for (const auto& c : cases) {
        if (c.user > 0 && ::access("/usr/bin/setpriv", X_OK) != 0) {
            ADD_FAILURE() << "no setpriv to run as another user: " << c.path;
            continue;
        }
        for (const auto& command : commands) {
            std::vector<std::string> args = command;
            args.push_back(c.path);
            CliChild child(args, {.user = c.user});
            const CliRunner::Result result = child.Wait(30s);
            SCOPED_TRACE(command[0] + " " + c.path + "\nstdout:\n" + result.out + "\nstderr:\n" +
                         result.err);
            EXPECT_EQ(result.exitCode, 2);
            EXPECT_NE(result.err.find("Warning: File not exists!\nkvm-upgrade-cli: " + c.path + ": " +
                                      c.reason + "\n"),
                      std::string::npos);
        }
    }
}

// Control bytes in a file's, a device's or the switch's name are shown as
// \xNN: an escape sequence must not retitle the terminal, a line break must
// not split the line. That holds for the C1 controls too (CSI, OSC, ST), which
// a terminal takes in their UTF-8 form, and for bytes of no UTF-8 character,
// which a terminal in a Latin-1 locale takes as C1. The line ends of the
// output itself stay.
TEST(CliRun, NamesAreShownWithoutTheirControlBytes)
{
    FirmwareTestFiles files;
    const std::string titled = files.Write("a\x1b]0;owned\x07-1-2-3.bin", F::WithCrc({}));
    const std::string c1Titled = files.Write("b\xc2\x9d" "0;owned\xc2\x9c-1-2-3.bin", F::WithCrc({}));
    const std::string broken = files.PathOf("new\nline-1-2-3.bin");
    const std::string brokenShown = files.PathOf("new\\x0aline-1-2-3.bin");
    const struct {
        std::vector<std::string> args;
        std::string err; // found in stderr
        std::string out; // found in stdout
        std::string switchModel = ""; // when given, COM1 is a switch with this model text
    } cases[] = {
        {{"-v", "info", titled}, "\na\\x1b]0;owned\\x07-1-2-3.bin\n", ""},
        {{"-v", "info", c1Titled}, "\nb\\xc2\\x9d0;owned\\xc2\\x9c-1-2-3.bin\n", ""},
        {{"info", broken}, "kvm-upgrade-cli: " + brokenShown + ": no such file\n", ""},
        {{"upgrade", "--yes", broken}, "kvm-upgrade-cli: " + brokenShown + " is no valid firmware file", ""},
        {{"--map", "COM1=/dev/x\x1b[2J", "--list-ports"}, "", "COM1  /dev/x\\x1b[2J\n"},
        {{"--map", "COM1=/dev/x\x9b" "2J\xe9t\xc3\xa9", "--list-ports"}, "", "COM1  /dev/x\\x9b2J\\xe9t\xc3\xa9\n"},
        {{"check", "--port", "COM1"}, "COM1: switch firmware 07-12-25 (PZ\\xc2\\x9b2J\xc3\xa9\\xff).", "",
         "PZ\xc2\x9b" "2J\xc3\xa9\xff"},
    };
    const auto isControl = [](const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
            if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F || (byte == 0xC2 && next < 0xA0))
                return true;
        }
        return false;
    };
    for (const auto& c : cases) {
        std::unique_ptr<SwitchSim> sim;
        std::vector<std::string> args = c.args;
        if (!c.switchModel.empty()) {
            SwitchSimConfig config;
            config.model = c.switchModel;
            sim = StartSim(config);
            args.insert(args.begin(), {"--map", "COM1=" + sim->DevicePath()});
        }
        const CliRunner::Result result = CliRunner::Run(args);
        SCOPED_TRACE(args[1] + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_NE(("\n" + result.err).find(c.err), std::string::npos);
        EXPECT_NE(result.out.find(c.out), std::string::npos);
        EXPECT_FALSE(isControl(result.err));
        EXPECT_FALSE(isControl(result.out));
    }
}

TEST(CliRun, VerboseInfoShowsTheFileNameAsTheStatus)
{
    FirmwareTestFiles files;
    const CliRunner::Result result =
        CliRunner::Run({"-v", "info", files.Write("r315-07-11-30.bin", F::WithCrc(F::Filler(8)))});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "r315-07-11-30.bin\n");
}

TEST(CliRun, UsageErrorsExitWithTwo)
{
    const std::vector<std::string> cases[] = {
        {},
        {"info"},
        {"frobnicate"},
        {"upgrade", "--port", "COM13", "fw.bin"},
        {"check", "--frobnicate"},
        {"--map", "COM3", "--list-ports"},
        {"check", "--yes"},
        {"check", "fw.bin"},
        {"check", "--port"},
        {"upgrade"},
        {"upgrade", "--yes", "a.bin", "b.bin"},
        {"upgrade", "--port", "com1", "fw.bin"},
        {"check", "--quiet", "--verbose"},
        {"check", "--if-newer"},
        {"check", "--log"},
    };
    for (const auto& args : cases) {
        const CliRunner::Result result = CliRunner::Run(args);
        std::string joined;
        for (const std::string& arg : args)
            joined += " " + arg;
        EXPECT_EQ(result.exitCode, 2) << joined;
        EXPECT_EQ(result.out, "") << joined;
        EXPECT_EQ(result.err.rfind("kvm-upgrade-cli: ", 0), 0u) << joined << ": " << result.err;
        EXPECT_NE(result.err.find("--help"), std::string::npos) << joined;
    }
}

TEST(CliRun, VersionAndHelp)
{
    const CliRunner::Result version = CliRunner::Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "1.0.0.4\n");

    const CliRunner::Result help = CliRunner::Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("Usage: kvm-upgrade-cli", 0), 0u);
    for (const char* part : {"info FILE", "check [--port NAME] [--file FILE]",
                             "upgrade [--port NAME] [--yes] [--if-newer] [--verify[=WHAT]] FILE", "--map COMn=DEVICE", "--list-ports",
                             "model-index=N family=N date-known=0|1 valid=0|1", "Model #N",
                             "-v, --verbose", "permission denied", "Exit status", "130", "Ctrl-C",
                             "Progress: N %"})
        EXPECT_NE(help.out.find(part), std::string::npos) << part;
}

TEST(CliRun, ListPortsShowsOnlyTheMappedPorts)
{
    const CliRunner::Result result = CliRunner::Run(
        {"--map", "COM3=/dev/kvm-test-three", "--map=COM1=/dev/kvm-test-one", "--list-ports"});
    EXPECT_EQ(result.exitCode, 0);
    const std::string mapped = "COM1  /dev/kvm-test-one\n      from the command line\n"
                               "COM3  /dev/kvm-test-three\n      from the command line\n";
    EXPECT_EQ(result.out.rfind(mapped, 0), 0u) << result.out;
    // Then only the devices this machine has that no COMn reaches.
    EXPECT_EQ(result.out.find("\nCOM", mapped.size() - 1), std::string::npos) << result.out;
}

} // namespace

// The kvm-switch-sim program: its options, its first line and its clean stop.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/tools/HostLine.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::string> Args(std::vector<std::string> args)
{
    args.insert(args.begin(), KVM_SWITCH_SIM_PATH);
    return args;
}

TEST(SwitchSimProgram, RefusesBadOptionsWithExitCode2)
{
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"--date", "7-12"},
        {"--date", "7-12-256"},
        {"--reply-code", "1FF"},
        {"--reject-block", "-1"},
        {"--answer-probe-until", "one"},
        {"--answer-probe-again-from"},
        {"--noise"},
        {"--silent=yes"},
        {"--babble-after-go-ahead", "100"},
        {"--babble-after-go-ahead"},
        {"--hang-up-after-last-ack=yes"},
        {"--adapter-hold-random"},
        {"--adapter-flush-bytes", "8"},
        {"--adapter-hold", "16", "--adapter-flush-bytes", "0"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0]);
        ChildProcess program(Args(args));
        EXPECT_NE(program.ReadErrLine().find("kvm-switch-sim:"), std::string::npos);
        EXPECT_EQ(program.Wait().exitCode, 2);
    }
}

// "--opt=value" is "--opt value": the same table of ports, the same refusal.
TEST(SwitchSimProgram, TakesValuesAfterEquals)
{
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string firstLine; // of stdout on success, of stderr on failure
    } cases[] = {
        {{"--map=COM1=/dev/one", "--list-ports"}, 0, "COM1  /dev/one"},
        {{"--map", "COM1=/dev/one", "--list-ports"}, 0, "COM1  /dev/one"},
        {{"--noise=x"}, 2, "kvm-switch-sim: bad number for --noise: x (see --help)"},
        {{"--noise", "x"}, 2, "kvm-switch-sim: bad number for --noise: x (see --help)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        ChildProcess program(Args(c.args));
        EXPECT_EQ(c.exitCode == 0 ? program.ReadOutLine() : program.ReadErrLine(), c.firstLine);
        EXPECT_EQ(program.Wait().exitCode, c.exitCode);
    }
}

TEST(SwitchSimProgram, PrintsTheDeviceFirstAndTheImageAtItsEnd)
{
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("sim-program-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::path link = dir / "ttyKVM";
    fs::path image = dir / "image.bin";
    ChildProcess program(Args({"--once", "--reply-code", "0xFA", "--link", link.string(),
                               "--image-out", image.string()}));

    std::string first = program.ReadOutLine();
    ASSERT_EQ(first.rfind("device: /dev/pts/", 0), 0u) << first;
    EXPECT_EQ(program.ReadOutLine(), "link: " + link.string());

    HostLine line(link.string());
    ASSERT_TRUE(line.Send({0x01}));
    std::vector<std::uint8_t> version = line.ReadExactly(13); // FA 00 00 07 0C 19 "PZN442" 00
    ASSERT_EQ(version.size(), 13u);
    EXPECT_EQ(version[0], 0xFA);
    ASSERT_TRUE(line.Send({0x02, 0x01, 0x00}));
    ASSERT_TRUE(line.Send({0x02, 0x01, 0x00}));
    ASSERT_TRUE(line.Send({0x01}));
    ASSERT_EQ(line.ReadExactly(1), std::vector<std::uint8_t>{0xF0});
    ASSERT_TRUE(line.Send({0x02, 0x01, 0x00}));
    ASSERT_EQ(line.ReadExactly(1), std::vector<std::uint8_t>{0xF0});
    ASSERT_TRUE(line.Send({0x03, 0x00, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39}));
    ASSERT_EQ(line.ReadExactly(1), std::vector<std::uint8_t>{0xF0});
    ASSERT_TRUE(line.Send({0x05}));

    // CRC-16/XMODEM of "123456789" is 0x31C3.
    std::string end = program.ReadOutLine();
    EXPECT_EQ(end.rfind("end of image: frames 7 blocks 1 bytes 9 crc16 0x31C3", 0), 0u) << end;
    EXPECT_EQ(program.Wait().exitCode, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "link removed at the end";
    EXPECT_EQ(fs::file_size(image), 9u);
    fs::remove_all(dir);
}

// The window of answered probes reaches the switch: the first probe and the
// third on are answered, the second is not.
TEST(SwitchSimProgram, AnswersProbesInTheWindowGiven)
{
    ChildProcess program(Args({"--answer-probe-until", "1", "--answer-probe-again-from=3"}));
    const std::string first = program.ReadOutLine();
    ASSERT_EQ(first.rfind("device: ", 0), 0u) << first;
    HostLine line(first.substr(8));
    ASSERT_TRUE(line.IsOpen());

    const std::size_t versionSize = 13; // F2 00 00 07 0C 19 "PZN442" 00
    ASSERT_TRUE(line.Send({0x01}));
    EXPECT_EQ(line.ReadExactly(versionSize).size(), versionSize);
    ASSERT_TRUE(line.Send({0x01}));
    ASSERT_TRUE(line.Send({0x01}));
    EXPECT_EQ(line.ReadExactly(versionSize).size(), versionSize);
    // A reply to the second probe would have left one more behind.
    EXPECT_TRUE(line.ReadUntilSilence(100ms).empty());

    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait().exitCode, 0);
}

// A transfer that never ends still tells how far it got: the last line,
// written by the time the program has stopped, holds the blocks stored.
TEST(SwitchSimProgram, ShowsTheBlocksStoredOfAnImageThatNeverEnds)
{
    ChildProcess program(Args({"--show-blocks"}));
    const std::string first = program.ReadOutLine();
    ASSERT_EQ(first.rfind("device: ", 0), 0u) << first;
    HostLine line(first.substr(8));
    for (const std::vector<std::uint8_t>& frame :
         {std::vector<std::uint8_t>{0x02, 0x01, 0x00}, {0x02, 0x01, 0x00}, {0x02, 0x01, 0x00}})
        ASSERT_TRUE(line.Send(frame));
    ASSERT_EQ(line.ReadExactly(1), std::vector<std::uint8_t>{0xF0}); // the go-ahead
    for (std::uint8_t sequence = 0; sequence < 3; ++sequence) {
        ASSERT_TRUE(line.Send({0x03, sequence, 0x41, 0x42, 0x43}));
        ASSERT_EQ(line.ReadExactly(1), std::vector<std::uint8_t>{0xF0});
    }
    program.Signal(SIGTERM);
    const ChildProcess::Result result = program.Wait();
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.ends_with("\nblocks stored 3 bytes 9\n")) << result.out;
}

TEST(SwitchSimProgram, StopsCleanlyOnSigterm)
{
    namespace fs = std::filesystem;
    fs::path link = fs::temp_directory_path() / ("sim-term-" + std::to_string(getpid()));
    ChildProcess program(Args({"--link", link.string()}));
    ASSERT_EQ(program.ReadOutLine().rfind("device: ", 0), 0u);
    ASSERT_EQ(program.ReadOutLine(), "link: " + link.string());
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait().exitCode, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

} // namespace

// check and upgrade end to end: the built kvm-upgrade-cli as a child process,
// the simulated switch in this process on a pseudo-terminal mapped as a COM
// port.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CliChild.h"
#include "CliRunner.h"
#include "StoppedTerminal.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"

namespace {

using F = FirmwareTestFiles;
using Bytes = F::Bytes;
using namespace std::chrono_literals;

const std::string kUpgradeLogEnd = "Connecting to KVM................[   OK   ]\n"
                                   "Upgrading in progress............[   OK   ]\n";

std::unique_ptr<SwitchSim> StartSim(SwitchSimConfig config = {})
{
    auto sim = std::make_unique<SwitchSim>(std::move(config));
    std::string error;
    if (!sim->Start(&error))
        ADD_FAILURE() << "the simulated switch did not start: " << error;
    return sim;
}

Bytes Firmware(std::size_t size, unsigned seed = 1)
{
    return F::RecordedImage(size, seed);
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The line is still marked for one user only (TIOCEXCL): anyone but root
// who opens it next is told "device busy".
bool LineHeldExclusive(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return true;
    int exclusive = 0;
    const bool known = ::ioctl(fd, TIOCGEXCL, &exclusive) == 0;
    ::close(fd);
    return !known || exclusive != 0;
}

// Everything the switch received was a well-formed frame: no log text, no
// stray byte. A frame is its payload and one checksum byte.
bool OnlyFramesReceived(const SwitchSimReport& report)
{
    std::size_t bytes = 0;
    for (const Bytes& frame : report.frames)
        bytes += frame.size() + 1;
    return report.badFrames == 0 && bytes == report.rawReceived.size();
}

TEST(CliUpgrade, SendsTheFileByteForByte)
{
    const struct {
        std::string port;
        std::string mapAs; // the sim's port; AUTO scans the unmapped ports before it
    } cases[] = {
        {"COM1", "COM1"},
        {"AUTO", "COM3"},
    };
    FirmwareTestFiles files;
    const Bytes image = Firmware(4096);
    const std::string path = files.Write("fw.bin", image);
    for (const auto& c : cases) {
        auto sim = StartSim();
        const CliRunner::Result result = CliRunner::Run(
            {"--map", c.mapAs + "=" + sim->DevicePath(), "upgrade", "--port", c.port, "--yes", path});
        SCOPED_TRACE(c.port + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, 0);
        ASSERT_TRUE(sim->WaitForEndOfImage(5s));
        EXPECT_EQ(sim->Report().image, image);
        EXPECT_TRUE(EndsWith(result.out, kUpgradeLogEnd));
        EXPECT_NE(result.err.find("\nUpgrade complete!\n"), std::string::npos);
        // The confirmation is shown once, and not waited for.
        EXPECT_EQ(result.err.find("Confirm: During firmware upgrade, video, keyboard and mouse\n"
                                  "will be locked up before KVM reset.\n(--yes given: going ahead)\n"),
                  result.err.rfind("Confirm: "));

        // stderr is a pipe: a plain line for each 10 % step, no bar redrawn.
        EXPECT_EQ(result.err.find('\r'), std::string::npos);
        std::vector<int> steps;
        for (const std::string& line : Lines(result.err)) {
            if (line.rfind("Progress: ", 0) == 0)
                steps.push_back(std::stoi(line.substr(10)) / 10);
        }
        ASSERT_EQ(steps.size(), 10u);
        for (std::size_t i = 0; i < steps.size(); ++i)
            EXPECT_EQ(steps[i], static_cast<int>(i) + 1);
    }
}

// Nothing reaches the switch from a refused upgrade; a check run afterwards
// must find the line exactly as it left it: its two probes are all it saw.
TEST(CliUpgrade, RefusesBeforeAnyPortIsTouched)
{
    FirmwareTestFiles files;
    const Bytes good = Firmware(1024);
    Bytes damaged = good;
    damaged[100] ^= 0x01;
    const struct {
        std::string name;
        std::string path;
        bool yes;
        std::string reason;
    } cases[] = {
        {"a CRC error", files.Write("bad-7-12-25.bin", damaged), true, "Model : CRC error."},
        {"a file too large", files.Write("big.bin", F::WithCrc(Firmware(131073))), true,
         "File is larger than 131072 bytes."},
        {"a missing file", files.PathOf("none-7-12-25.bin"), true, "Warning: File not exists!"},
        {"no terminal and no --yes", files.Write("fw.bin", good), false, "give --yes to go ahead"},
    };
    auto sim = StartSim();
    const std::string map = "COM1=" + sim->DevicePath();
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--map", map, "upgrade", "--port", "COM1", c.path};
        if (c.yes)
            args.push_back("--yes");
        const CliRunner::Result result = CliRunner::Run(args);
        SCOPED_TRACE(c.name + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(c.reason), std::string::npos);
        EXPECT_EQ(result.out.find("Checking COM1"), std::string::npos);
    }

    const CliRunner::Result check = CliRunner::Run({"--map", map, "check", "--port", "COM1"});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    const SwitchSimReport report = sim->Report();
    EXPECT_EQ(report.frames, (std::vector<Bytes>{{0x01}, {0x01}}));
    EXPECT_EQ(report.badFrames, 0);
}

TEST(CliCheck, ComparesTheSwitchWithTheFile)
{
    const std::string firmwareSide = "Firmware : \t07-12-25 \nModel : \tPZN442\n\n";
    // Scripts read the comparison from the exit status: 0 only when an
    // upgrade would bring something new.
    const struct {
        std::uint8_t date[3];
        std::string verdict;
        int exitCode;
        std::string summary;
    } cases[] = {
        {{7, 12, 25}, "KVM : \t\t07-12-25 \nModel : \tPZN442\n\nThe KVM firmware is up to date.\n", 3,
         "the same date."},
        {{9, 1, 25},
         "KVM : \t\t09-01-25 \nModel : \tPZN442\n"
         "-----------------------------------------------------\n"
         "A newer version of KVM firmware is available.\nPress Upgrade to start upgrade.\n",
         0, "the file is newer."},
        {{6, 1, 26},
         "KVM : \t\t06-01-26 \nModel : \tPZN442\n"
         "-----------------------------------------------------\n"
         "KVM version is newer than firmware.\nDo you still want to upgrade?\n",
         3, "the switch's firmware is newer."},
    };
    FirmwareTestFiles files;
    const std::string path = files.Write("fw.bin", Firmware(512));
    for (const auto& c : cases) {
        SwitchSimConfig config;
        std::copy(std::begin(c.date), std::end(c.date), config.date);
        auto sim = StartSim(config);
        const CliRunner::Result result =
            CliRunner::Run({"--map", "COM1=" + sim->DevicePath(), "check", "--file", path});
        SCOPED_TRACE("stdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_TRUE(EndsWith(result.out, firmwareSide + c.verdict));
        EXPECT_NE(result.err.find("\nKVM version read from COM1\n"), std::string::npos);
        EXPECT_TRUE(EndsWith(result.err, ", file 7-12-25: " + c.summary + "\n"));
    }
}

TEST(CliCheck, FailsWhereNoSwitchAnswers)
{
    const struct {
        std::string port;
        std::string logText;
    } cases[] = {
        {"COM1", "Checking COM1 ...................[ Passed ]\nNo KVM response."},
        {"AUTO", "There is no KVM detected on COM ports."},
    };
    for (const auto& c : cases) {
        SwitchSimConfig silent;
        silent.silent = true;
        auto sim = StartSim(silent);
        const CliRunner::Result result =
            CliRunner::Run({"--map", "COM1=" + sim->DevicePath(), "check", "--port", c.port});
        SCOPED_TRACE(c.port + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, 6);
        EXPECT_NE(result.out.find(c.logText), std::string::npos);
        EXPECT_TRUE(EndsWith(result.out, "\n"));
    }
}

TEST(CliCheck, VerboseSaysWhyEachPortFailedToOpen)
{
    FirmwareTestFiles files;
    const std::string plainFile = files.Write("not-a-tty", {});
    const std::string locked = files.Write("locked", {});
    ::chmod(locked.c_str(), 0);
    auto sim = StartSim();
    // The switch's line held by someone else, as another program would.
    PortTable table;
    table.Map("COM1", sim->DevicePath());
    CSerialPort holder(&table);
    ASSERT_EQ(holder.Open("COM1", 115200, 1000), 1);

    const std::vector<std::string> maps = {
        "--map", "COM1=" + files.PathOf("missing"), "--map", "COM2=" + plainFile,
        "--map", "COM3=" + sim->DevicePath(), "--map", "COM4=" + locked,
    };
    std::vector<std::string> reasons = {
        "COM1 (" + files.PathOf("missing") + "): no such device",
        "COM2 (" + plainFile + "): not a serial line",
        "COM3 (" + sim->DevicePath() + "): device busy (held by cli_tests, pid " + std::to_string(::getpid()) + ")",
        "COM5: no device mapped (see --list-ports, --map COM5=DEVICE)",
        "COM12: no device mapped",
    };
    if (::geteuid() != 0) // root opens the file all the same
        reasons.push_back("COM4 (" + locked + "): permission denied (is the user in group dialout?)");

    std::vector<std::string> args = maps;
    args.insert(args.end(), {"-v", "check"});
    const CliRunner::Result verbose = CliRunner::Run(args);
    SCOPED_TRACE("stdout:\n" + verbose.out + "\nstderr:\n" + verbose.err);
    EXPECT_EQ(verbose.exitCode, 5); // the busy port is the likeliest cause
    for (const std::string& reason : reasons)
        EXPECT_NE(verbose.err.find(reason), std::string::npos) << reason;

    args = maps;
    args.insert(args.end(), {"check", "--port", "COM7", "--verbose"});
    const CliRunner::Result named = CliRunner::Run(args);
    EXPECT_EQ(named.exitCode, 4);
    EXPECT_NE(named.err.find("COM7: no device mapped"), std::string::npos) << named.err;

    args = maps;
    args.push_back("check");
    const CliRunner::Result quiet = CliRunner::Run(args);
    // Without --verbose, one line: the likeliest cause.
    EXPECT_EQ(quiet.exitCode, 5);
    EXPECT_EQ(quiet.err.find("no such device"), std::string::npos) << quiet.err;
    EXPECT_NE(quiet.err.find("kvm-upgrade-cli: " + reasons[2] + " (and 3 more ports could not be opened)\n"),
              std::string::npos)
        << quiet.err;
    EXPECT_TRUE(sim->Report().frames.empty());
}

// A pulled cable and a silent switch fail alike; --verbose says which it was,
// once, and the log stays as it is.
TEST(CliUpgrade, VerboseSaysWhyTheLineFailed)
{
    const struct {
        std::string what;
        std::function<void(SwitchSimConfig&)> fault;
        std::string reason; // empty: no reason of the line's to give
        int exitCode;
    } cases[] = {
        {"hang-up", [](SwitchSimConfig& c) { c.hangupAfterBlock = 1; }, "the line hung up (device unplugged?)", 7},
        {"silent", [](SwitchSimConfig& c) { c.silent = true; }, "", 6},
    };
    FirmwareTestFiles files;
    const std::string path = files.Write("fw.bin", Firmware(4096));
    for (const auto& c : cases) {
        SwitchSimConfig config;
        c.fault(config);
        auto sim = StartSim(config);
        const CliRunner::Result result = CliRunner::Run(
            {"--map", "COM1=" + sim->DevicePath(), "upgrade", "--port", "COM1", "--yes", "--verbose", path});
        SCOPED_TRACE(c.what + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, c.exitCode);
        if (c.reason.empty()) {
            EXPECT_EQ(result.err.find("hung up"), std::string::npos);
        } else {
            const std::string reason = "; COM1 (" + sim->DevicePath() + "): " + c.reason + ".";
            EXPECT_NE(result.err.find(reason), std::string::npos);
            EXPECT_EQ(result.err.find(reason), result.err.rfind(reason));
        }
    }
}

// Where stdout and stderr are one file (2>&1), a status line never lands in
// the middle of a log entry, and a reason follows the entry it explains.
TEST(CliCheck, OneFileForBothStreamsKeepsTheLinesWhole)
{
    auto sim = StartSim();
    FirmwareTestFiles files;
    const std::string log = files.PathOf("log");
    const std::string command = std::string("'") + KVM_CLI_PATH + "' -v --map COM1=" +
        files.PathOf("missing") + " --map COM2=" + sim->DevicePath() + " check >'" + log + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(log);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("Opening COM1 ....................[ Failed ]\nCOM1 (" +
                              files.PathOf("missing") + "): no such device (unplugged, or another name since it was plugged in again: see --list-ports)\n"
                              "Opening COM2 ....................[   OK   ]\n"),
              std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("\nChecking KVM version....[   OK   ]\n"), std::string::npos) << text.str();
}

// The go-ahead comes late, as after a slow flash erase: the worker is sending
// (the second model header is out) and waits for it while the test signals.
// The window for the signals is the delay; a run that is aborted does not
// wait it out, so the second test can afford a longer, safer one.
SwitchSimConfig SlowErase(std::chrono::milliseconds delay)
{
    SwitchSimConfig config;
    config.goAheadDelay = delay;
    return config;
}

constexpr std::size_t kFramesUntilSecondModelHeader = 6; // probe, re-search, 2 headers, ready probe, header

// A dropped SSH session or a closed terminal window (SIGHUP) is an
// interrupt like Ctrl-C: it must not cut the transfer short either.
TEST(CliInterrupt, OneSignalDuringTheUpgradeOnlyWarns)
{
    FirmwareTestFiles files;
    const Bytes image = Firmware(2048);
    const std::string path = files.Write("fw.bin", image);
    for (const int signo : {SIGINT, SIGHUP}) {
        auto sim = StartSim(SlowErase(1500ms));
        CliChild child({"--map", "COM1=" + sim->DevicePath(), "upgrade", "--port", "COM1", "--yes", path});
        ASSERT_TRUE(sim->WaitForFrames(kFramesUntilSecondModelHeader, 30s));
        child.Signal(signo);
        EXPECT_TRUE(child.WaitForErr("press Ctrl-C again to abort", 30s)) << child.ErrSoFar();
        const CliRunner::Result result = child.Wait();
        SCOPED_TRACE(std::string(::strsignal(signo)) + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_NE(result.err.find("can leave the switch unusable"), std::string::npos);
        ASSERT_TRUE(sim->WaitForEndOfImage(5s));
        EXPECT_EQ(sim->Report().image, image);
        EXPECT_TRUE(EndsWith(result.out, kUpgradeLogEnd));
    }
}

TEST(CliInterrupt, TwoCtrlCsAbortTheUpgrade)
{
    FirmwareTestFiles files;
    const std::string path = files.Write("fw.bin", Firmware(2048));
    auto sim = StartSim(SlowErase(4000ms));
    CliChild child({"--map", "COM1=" + sim->DevicePath(), "upgrade", "--port", "COM1", "--yes", path});
    ASSERT_TRUE(sim->WaitForFrames(kFramesUntilSecondModelHeader, 30s));
    child.Signal(SIGINT);
    ASSERT_TRUE(child.WaitForErr("press Ctrl-C again to abort", 30s)) << child.ErrSoFar();
    child.Signal(SIGINT);
    const CliRunner::Result result = child.Wait();
    SCOPED_TRACE("stdout:\n" + result.out + "\nstderr:\n" + result.err);
    EXPECT_EQ(result.exitCode, 130);
    EXPECT_NE(result.err.find("Upgrade aborted"), std::string::npos);
    EXPECT_FALSE(sim->Report().endOfImage);
    // The log's unfinished entry ends its line.
    EXPECT_TRUE(EndsWith(result.out, "Connecting to KVM................\n"));
    // The next run may open the line again.
    EXPECT_FALSE(LineHeldExclusive(sim->DevicePath()));
}

// Outside the transfer Ctrl-C, SIGTERM or SIGHUP end the run at once: here a
// scan of twelve silent ports, which would otherwise go on for seconds. The
// line is left as the next run needs it.
TEST(CliInterrupt, SignalOutsideTheTransferExitsAtOnce)
{
    const struct {
        int signo;
        int exitCode;
    } cases[] = {
        {SIGINT, 130},
        {SIGTERM, 143},
        {SIGHUP, 129},
    };
    for (const auto& c : cases) {
        SwitchSimConfig silent;
        silent.silent = true;
        auto sim = StartSim(silent);
        std::vector<std::string> args;
        for (int number = 1; number <= 12; ++number)
            args.insert(args.end(), {"--map", "COM" + std::to_string(number) + "=" + sim->DevicePath()});
        args.push_back("check");
        CliChild child(args);
        ASSERT_TRUE(sim->WaitForFrames(1, 30s));
        child.Signal(c.signo);
        const CliRunner::Result result = child.Wait();
        SCOPED_TRACE(std::string(::strsignal(c.signo)) + "\nstdout:\n" + result.out + "\nstderr:\n" +
                     result.err);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_TRUE(EndsWith(result.err, "Interrupted.\n"));
        EXPECT_EQ(result.out.find("There is no KVM detected"), std::string::npos);
        EXPECT_TRUE(EndsWith(result.out, "\n"));
        EXPECT_FALSE(LineHeldExclusive(sim->DevicePath()));
    }
}

// Where the output goes nowhere the upgrade still runs to its end, and not a
// byte of the log reaches the switch: a serial port opened while descriptor
// 1 was closed would have become stdout.
TEST(CliOutput, OutputThatGoesNowhereLeavesTheUpgradeWhole)
{
    const struct {
        std::string name;
        CliChild::Setup::Out out;
    } cases[] = {
        {"stdout closed", CliChild::Setup::Out::Closed},
        {"stdout's reader gone", CliChild::Setup::Out::ReaderGone},
    };
    FirmwareTestFiles files;
    const Bytes image = Firmware(4096);
    const std::string path = files.Write("fw.bin", image);
    for (const auto& c : cases) {
        auto sim = StartSim();
        CliChild child({"--map", "COM1=" + sim->DevicePath(), "upgrade", "--port", "COM1", "--yes", path},
                       {.out = c.out});
        const CliRunner::Result result = child.Wait();
        SCOPED_TRACE(c.name + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, 0);
        ASSERT_TRUE(sim->WaitForEndOfImage(5s));
        const SwitchSimReport report = sim->Report();
        EXPECT_EQ(report.image, image);
        EXPECT_TRUE(OnlyFramesReceived(report));
        EXPECT_NE(result.err.find("\nUpgrade complete!\n"), std::string::npos);
    }
}

// A terminal that takes nothing (Ctrl-S, a stalled SSH session) holds up
// neither the transfer nor Ctrl-C. Once all is sent the run waits to hand
// its last lines over; Ctrl-C ends that wait.
TEST(CliOutput, AStoppedTerminalNeverStallsTheUpgrade)
{
    FirmwareTestFiles files;
    const Bytes image = Firmware(8192);
    const std::string path = files.Write("fw.bin", image);
    auto sim = StartSim(SlowErase(1500ms));
    StoppedTerminal terminal;
    CliChild child({"--map", "COM1=" + sim->DevicePath(), "upgrade", "--port", "COM1", "--yes", path},
                   {.terminal = terminal.Slave()});
    ASSERT_TRUE(sim->WaitForFrames(kFramesUntilSecondModelHeader, 30s));
    child.Signal(SIGINT); // only warns: the transfer goes on
    ASSERT_TRUE(sim->WaitForEndOfImage(30s));
    EXPECT_EQ(sim->Report().image, image);

    const auto sent = std::chrono::steady_clock::now();
    child.Signal(SIGINT);
    const CliRunner::Result result = child.Wait(30s);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - sent);
    // 130 when the signal came before the run had its verdict; after it,
    // the verdict's status, which the stored image bears out.
    EXPECT_TRUE(result.exitCode == 130 || result.exitCode == 0) << result.exitCode;
    EXPECT_LT(took, 2s);
    RecordProperty("interrupt_to_exit_ms", static_cast<int>(took.count()));
    EXPECT_FALSE(LineHeldExclusive(sim->DevicePath()));
}

} // namespace

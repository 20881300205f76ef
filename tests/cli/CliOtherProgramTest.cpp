// A terminal program left running on the switch's port (minicom, screen)
// takes neither flock nor the terminal's exclusive flag; it must still keep
// the utility off the line, root or not, with its name and pid, before a
// single byte is sent: its reader would steal the switch's replies and its
// writer put bytes into the frames.

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CliRunner.h"
#include "serial/Deadline.h"
#include "serial/DeviceHolderFinder.h"
#include "tools/SwitchSim.h"

namespace {

using namespace std::chrono_literals;

bool Installed(const std::string& program)
{
    for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
        if (::access((std::string(dir) + program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

// The holder as the utility will see it, once the program has the device
// open; there is no event for that, so /proc is looked at until it shows.
std::optional<DeviceHolderFinder::Holder> WaitForHolder(const std::string& device, const std::string& name)
{
    const Deadline limit = Deadline::In(10s);
    while (!limit.Expired()) {
        const auto holder = DeviceHolderFinder().Find(device, static_cast<long>(::getpid()));
        if (holder && holder->name == name)
            return holder;
        std::this_thread::sleep_for(10ms);
    }
    return std::nullopt;
}

} // namespace

TEST(CliOtherProgram, ATerminalProgramOnThePortKeepsTheUpgradeOff)
{
    const struct {
        const char* program;
        std::vector<std::string> runs; // under screen -D -m, which gives it a terminal
    } rows[] = {
        {"minicom", {"minicom", "-o", "-D"}},
        {"screen", {}}, // screen itself on the port
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.program);
        if (!Installed(row.program) || !Installed("screen")) {
            std::printf("%s is not installed: row skipped\n", row.program);
            continue;
        }
        auto sim = std::make_unique<SwitchSim>();
        ASSERT_TRUE(sim->Start());
        const std::string device = sim->DevicePath();
        std::vector<std::string> args = {"/usr/bin/env", "TERM=vt100", "screen", "-D", "-m", "-S",
                                         "kvm-test-" + std::to_string(::getpid())};
        args.insert(args.end(), row.runs.begin(), row.runs.end());
        args.push_back(device);
        if (row.runs.empty())
            args.push_back("115200");
        ChildProcess other(args, {ChildProcess::Stream::Null, ChildProcess::Stream::Null});
        const auto holder = WaitForHolder(device, row.program);
        ASSERT_TRUE(holder) << row.program << " never opened " << device;

        for (const char* port : {"COM1", "AUTO"}) {
            const CliRunner::Result result = CliRunner::Run(
                {"--map", "COM1=" + device, "check", "--port", port});
            SCOPED_TRACE(std::string(port) + "\nstderr:\n" + result.err);
            EXPECT_EQ(result.exitCode, 5);
            EXPECT_NE(result.err.find("device busy (held by " + std::string(row.program) + ", pid "
                                      + std::to_string(holder->pid) + ")"),
                      std::string::npos);
        }
        EXPECT_TRUE(sim->Report().rawReceived.empty()) << "not a byte reached the switch";
        other.Signal(SIGTERM);
    }
}

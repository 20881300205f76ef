// Measures kvm-upgrade-cli.exe under Wine upgrading a 32768-byte image (128
// blocks) through Wine's COM port to the simulated switch, against the
// protocol's floor, and splits the wall time into the program's own run
// (the "seconds" of its --json object) and the rest: Wine starting and
// ending the program. That rest differs by far with the state of the
// prefix: with Wine's services up (kept so by a program left running, as the
// tests' fixture does and as Windows' services always are), one upgrade
// after another with nothing kept running (once the last program of a prefix
// has ended, Wine may stop its services and start them again for the next),
// and with no Wine server at all. Runs in a Wine prefix of its own (made on first use, which
// takes a minute), so that it never meets a test run. Prints figures; never
// fails.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/UpgradeFloor.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tests/wine/WineHost.h"
#include "tools/SwitchSim.h"

namespace {

using Clock = std::chrono::steady_clock;
using F = FirmwareTestFiles;

constexpr std::uint32_t kImageBytes = 32768;
constexpr int kBlocks = kImageBytes / 256;
constexpr int kRuns = 5;

std::string Prefix()
{
    return std::string(KVM_WINDOWS_BUILD_DIR) + "/wineprefix-bench";
}

std::string Cli()
{
    return WineHost::Program("cli/kvm-upgrade-cli.exe");
}

// Times in ms; -1 when the run failed.
struct Run {
    double wallMs = -1;
    double ownMs = -1; // the program's own account, where it gives one
};

Run Timed(const std::vector<std::string>& args)
{
    ChildProcess::Setup setup;
    setup.out = ChildProcess::Stream::File;
    setup.err = ChildProcess::Stream::Null;
    const auto start = Clock::now();
    const ChildProcess::Result result = ChildProcess(args, setup).Wait(std::chrono::minutes(5));
    Run run;
    if (result.exitCode != 0)
        return run;
    run.wallMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const std::size_t at = result.out.find("\"seconds\":");
    if (at != std::string::npos)
        run.ownMs = 1000.0 * std::atof(result.out.c_str() + at + 10);
    return run;
}

void EndServer()
{
    Timed({"/bin/sh", "-c", "wineserver -k; wineserver -w; exit 0"});
}

// A server that stays, with Wine's services started and, with keep, kept up.
bool StartServer(bool keep)
{
    std::vector<std::string> args{"/bin/sh", std::string(KVM_SOURCE_DIR) + "/tests/wine/start-wine-server.sh",
                                  KVM_WINE, Prefix()};
    if (keep)
        args.push_back(WineHost::Program("tests/windows/wine_keeper.exe"));
    return Timed(args).wallMs >= 0;
}

// One upgrade through a fresh simulated switch; failed too when the switch
// did not store the image.
Run Upgrade(const std::string& file, const F::Bytes& image, bool lineTiming)
{
    SwitchSimConfig config;
    config.lineTiming = lineTiming;
    SwitchSim sim(config);
    if (!sim.Start())
        return Run{};
    WineComLink link(sim.DevicePath(), 40);
    const Run run = Timed(WineHost::Command(Cli(), {"upgrade", "--yes", "--json", "--port", "COM3", "--map",
                                                    "COM3=" + link.Device(), WineHost::WindowsPath(file)}));
    return sim.WaitForEndOfImage(std::chrono::seconds(5)) && sim.Report().image == image ? run : Run{};
}

std::vector<Run> Upgrades(int count, const std::string& file, const F::Bytes& image, bool lineTiming)
{
    std::vector<Run> runs;
    for (int i = 0; i < count; ++i)
        runs.push_back(Upgrade(file, image, lineTiming));
    return runs;
}

// The median of one field; -1 when any run failed.
double Median(const std::vector<Run>& runs, double Run::*field)
{
    std::vector<double> values;
    for (const Run& run : runs)
        values.push_back(run.*field);
    std::sort(values.begin(), values.end());
    return values.empty() || values.front() < 0 ? -1 : values[values.size() / 2];
}

void Row(const char* what, const std::vector<Run>& runs, double floorMs)
{
    const double wall = Median(runs, &Run::wallMs);
    const double own = Median(runs, &Run::ownMs);
    if (wall < 0 || own < 0) {
        std::printf("  %-26s failed\n", what);
        return;
    }
    std::printf("  %-26s wall %5.0f ms = %.2f x floor; own run %5.0f ms = %.2f x floor (%+.1f ms a block); "
                "Wine's start and end %4.0f ms\n",
                what, wall, wall / floorMs, own, own / floorMs, (own - floorMs) / kBlocks, wall - own);
}

} // namespace

int main()
{
    WineHost::Prepare(Prefix());
    FirmwareTestFiles files;
    const F::Bytes image = F::RecordedImage(kImageBytes);
    const std::string file = files.Write("bench.bin", image);
    const int versionReplyBytes = 6 + static_cast<int>(SwitchSimConfig{}.model.size()) + 1;
    const double floorMs = UpgradeFloor::Ms(kImageBytes, versionReplyBytes, 0);
    const double timedFloorMs = UpgradeFloor::Ms(kImageBytes, versionReplyBytes);

    if (!StartServer(false)) { // makes the prefix on first use
        std::fprintf(stderr, "cannot ready the Wine prefix %s\n", Prefix().c_str());
        return 0;
    }
    EndServer();
    const std::vector<Run> cold = Upgrades(1, file, image, false);
    EndServer();
    StartServer(false);
    const std::vector<Run> oneAfterAnother = Upgrades(kRuns, file, image, false);
    EndServer();
    StartServer(true);
    const std::vector<Run> keptUp = Upgrades(kRuns, file, image, false);
    const std::vector<Run> timed = Upgrades(1, file, image, true);
    EndServer();

    std::printf("kvm-upgrade-cli.exe under Wine, upgrade of %u bytes (%d blocks), medians of %d runs where not "
                "said\n",
                kImageBytes, kBlocks, kRuns);
    std::printf("protocol floor %.0f ms (no line timing):\n", floorMs);
    Row("Wine's services kept up", keptUp, floorMs);
    std::printf("    each run, wall:");
    for (const Run& run : keptUp)
        std::printf(" %.0f", run.wallMs);
    std::printf(" ms\n");
    Row("one after another", oneAfterAnother, floorMs);
    std::printf("    each run, wall:");
    for (const Run& run : oneAfterAnother)
        std::printf(" %.0f", run.wallMs);
    std::printf(" ms\n");
    Row("no Wine server (1 run)", cold, floorMs);
    std::printf("protocol floor %.0f ms at 115200 baud 8N2:\n", timedFloorMs);
    Row("services kept up (1 run)", timed, timedFloorMs);
    return 0;
}

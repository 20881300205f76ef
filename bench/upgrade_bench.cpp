// Measures an upgrade of a 131072-byte image through kvm-switch-sim with the
// line timing of 115200 baud 8N2, the same through a USB adapter that holds
// every reply for its latency timer, and a scan of twelve silent ports,
// against the time the protocol itself needs on that line. Prints figures; it
// never fails on a slow or noisy machine.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/UpgradeFloor.h"
#include "firmware/Crc16.h"
#include "tests/support/ChildProcess.h"
#include "tools/SwitchSim.h"
#ifdef KVM_WINDOWS_BUILD_DIR
#include "tests/wine/WineHost.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

using UpgradeFloor::kByteMs;
using UpgradeFloor::kDrainMs;

struct ChildResult {
    bool ok = false;
    int exitCode = -1;
    double wallMs = 0;
    double cpuMs = 0;
    long peakKiB = 0;
};

ChildResult RunChild(const std::vector<std::string>& args)
{
    ChildResult result;
    ChildProcess::Setup setup;
    setup.out = ChildProcess::Stream::Null;
    setup.err = ChildProcess::Stream::Null;
    const auto start = Clock::now();
    ChildProcess child(args, setup);
    // Far beyond the slowest run: only a stuck child waits it out.
    const ChildProcess::Result done = child.Wait(std::chrono::minutes(10));
    result.wallMs = Ms(Clock::now() - start).count();
    result.cpuMs = std::chrono::duration<double, std::milli>(done.cpuTime).count();
    result.peakKiB = done.peakRssKiB;
    result.ok = done.exitCode >= 0;
    result.exitCode = done.exitCode;
    return result;
}

void Print(const char* what, const ChildResult& r, double floorMs, const char* floorName = "protocol floor")
{
    std::printf("%s\n", what);
    std::printf("  exit code        %d\n", r.exitCode);
    std::printf("  wall time        %.0f ms\n", r.wallMs);
    std::printf("  %-16s %.0f ms\n", floorName, floorMs);
    std::printf("  wall / floor     %.3f   (target <= 1.05)\n", r.wallMs / floorMs);
    std::printf("  CPU time         %.0f ms = %.2f %% of wall   (target < 2 %%)\n", r.cpuMs,
                100.0 * r.cpuMs / r.wallMs);
    std::printf("  peak memory      %.1f MiB   (target < 16 MiB)\n", r.peakKiB / 1024.0);
}

} // namespace

int main()
{
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("kvm-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::string file = (dir / "bench-1-2-3.bin").string();

    const std::uint32_t size = 131072;
    std::vector<std::uint8_t> image(size);
    for (std::uint32_t i = 0; i < size - 2; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    std::uint16_t crc = Crc16(image.data(), size - 2);
    image[size - 2] = static_cast<std::uint8_t>(crc >> 8);
    image[size - 1] = static_cast<std::uint8_t>(crc);
    if (std::FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(image.data(), 1, image.size(), f);
        std::fclose(f);
    }

    // The upgrade, through a switch with real line timing; then through a USB
    // adapter whose latency timer is 1 ms (a tuned FTDI) and 16 ms (its
    // default), which puts each reply that much later.
    SwitchSimConfig config;
    config.lineTiming = true;
    std::string error;
    const int versionReplyBytes = 6 + static_cast<int>(config.model.size()) + 1;
    const double floorMs = UpgradeFloor::Ms(size, versionReplyBytes);
    for (const int holdMs : {0, 1, 16}) {
        SwitchSimConfig held = config;
        held.adapterHold = std::chrono::milliseconds(holdMs);
        SwitchSim sim(held);
        if (!sim.Start(&error)) {
            std::fprintf(stderr, "simulated switch: %s\n", error.c_str());
            return 1;
        }
        ChildResult upgrade = RunChild({KVM_CLI_PATH, "upgrade", "--yes", "--port", "COM1", "--map",
                                        "COM1=" + sim.DevicePath(), file});
        SwitchSimReport report = sim.Report();
        sim.Stop();
        const std::string what = "Upgrade of 131072 bytes (512 blocks), 115200 baud 8N2"
            + (holdMs == 0 ? std::string() : ", adapter hold " + std::to_string(holdMs) + " ms");
        // Through the adapter the floor is the line's with every reply later
        // by the hold; the target is measured against that.
        if (holdMs == 0) {
            Print(what.c_str(), upgrade, floorMs);
        } else {
            Print(what.c_str(), upgrade, floorMs + UpgradeFloor::Replies(size) * holdMs, "floor + holds");
            std::printf("  protocol floor   %.0f ms   (no adapter): wall / that %.3f\n", floorMs,
                        upgrade.wallMs / floorMs);
        }
        std::printf("  image received   %s\n", report.image == image ? "identical" : "DIFFERENT");
        if (upgrade.exitCode != 0)
            std::printf("  the upgrade failed with %d of 512 blocks stored: its times are no upgrade's\n",
                        report.blocksStored);
    }

#ifdef KVM_WINDOWS_BUILD_DIR
    // The same upgrade by the Windows program under Wine, through Wine's COM
    // port to the same kind of line. Wine's own costs (its server, the
    // process start) are in the wall time; its server's CPU and memory are not
    // in the figures, which are the wine process's.
    {
        WineHost::Prepare();
        SwitchSim wineSim(config);
        if (!wineSim.Start(&error)) {
            std::fprintf(stderr, "simulated switch: %s\n", error.c_str());
            return 1;
        }
        WineComLink link(wineSim.DevicePath(), 40);
        ChildResult wine = RunChild(WineHost::Command(
            WineHost::Program("cli/kvm-upgrade-cli.exe"),
            {"upgrade", "--yes", "--port", "COM3", "--map", "COM3=" + link.Device(), WineHost::WindowsPath(file)}));
        SwitchSimReport wineReport = wineSim.Report();
        wineSim.Stop();
        Print("The same upgrade by kvm-upgrade-cli.exe under Wine", wine, UpgradeFloor::Ms(size, versionReplyBytes));
        std::printf("  image received   %s\n", wineReport.image == image ? "identical" : "DIFFERENT");
    }
#endif

    // A scan of twelve ports that open but never answer.
    std::vector<std::unique_ptr<SwitchSim>> silent;
    std::vector<std::string> args = {KVM_CLI_PATH, "check", "--port", "AUTO"};
    for (int n = 1; n <= 12; ++n) {
        SwitchSimConfig quiet;
        quiet.silent = true;
        silent.push_back(std::make_unique<SwitchSim>(quiet));
        if (!silent.back()->Start(&error)) {
            std::fprintf(stderr, "simulated switch: %s\n", error.c_str());
            return 1;
        }
        args.push_back("--map");
        args.push_back("COM" + std::to_string(n) + "=" + silent.back()->DevicePath());
    }
    ChildResult scan = RunChild(args);
    // The first port gets four probes, the others one each; every probe waits
    // 200 ms for its first byte. The log is emptied once, after seven entries,
    // with its 800 ms pause.
    double scanFloor = 4 * (kDrainMs + 2 * kByteMs + 200.0) + 11 * (kDrainMs + 2 * kByteMs + 200.0) + 800.0;
    Print("Scan of twelve silent ports", scan, scanFloor);

    fs::remove_all(dir);
    return 0;
}

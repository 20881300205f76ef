// kvm-switch-sim: plays the KVM switch at the far end of the upgrade cable on
// a pseudo-terminal, so that the utility can be run without the hardware.
#include <pthread.h>

#include <algorithm>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <string>
#include <string_view>

#include "options/LongOption.h"
#include "serial/PortTable.h"
#include "serial/StandardStreams.h"
#include "tools/SwitchSim.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kUsage =
    "Usage: kvm-switch-sim [options]\n"
    "Plays the KVM switch on a pseudo-terminal; the first line printed is its device path.\n"
    "The files kvm-make-firmware writes are for it only, never for a real switch.\n"
    "\n"
    "Options:\n"
    "  --reply-code HEX          reply code to a probe or version request (default F2)\n"
    "  --date A-B-C              the switch's firmware date fields (default 7-12-25)\n"
    "  --model TEXT              the switch's model text (default PZN442)\n"
    "  --line-timing             115200 baud 8N2 timing both ways\n"
    "  --flash-delay-us N        pause before each block's ack\n"
    "  --adapter-hold MS         a USB-serial adapter at the host's end: what the switch\n"
    "                            sends reaches the host once the oldest byte held has\n"
    "                            waited MS ms (its latency timer; 0: no adapter, the\n"
    "                            default) ...\n"
    "  --adapter-flush-bytes N   ... or once N bytes are held (default 62) ...\n"
    "  --adapter-hold-random     ... with a timer that ticks at its own phase: each burst\n"
    "                            waits 0 to MS ms, drawn from --seed\n"
    "  --seed N                  seed of --adapter-hold-random (default 1)\n"
    "  --silent                  never answer\n"
    "  --answer-probe-from N     answer probes from the N-th on\n"
    "  --answer-probe-until N    answer only probes up to the N-th ...\n"
    "  --answer-probe-again-from N  ... and again from the N-th on\n"
    "  --no-ready-reply          no F0 to the ready probe of the handshake\n"
    "  --no-go-ahead             no go-ahead after the second model header\n"
    "  --go-ahead-delay-ms N     extra wait before the go-ahead (a slow flash erase)\n"
    "  --reject-block K          reject block K (0-based) ...\n"
    "  --reject-count N          ... N times (default 1) ...\n"
    "  --reject-code HEX         ... with this code (default F5)\n"
    "  --silent-from-block K     no reply to block frames from block K on\n"
    "  --ignore-block K          miss block K's frame once: no reply, nothing stored\n"
    "  --reply-length N          pad every reply to N bytes\n"
    "  --noise N                 N noise bytes before every reply\n"
    "  --hangup-after-block K    close the line after storing block K\n"
    "  --babble                  write noise without pause\n"
    "  --babble-after-go-ahead BYTE  once the go-ahead F0 is out, write BYTE (hex) without\n"
    "                            pause for good (at the line's rate with --line-timing,\n"
    "                            else 256 bytes a millisecond)\n"
    "  --hang-up-after-last-ack  close the line once the host has read the F0 of the last\n"
    "                            block: the first stored block of fewer than 256 data\n"
    "                            bytes (an image whose size is not a multiple of 256 ends\n"
    "                            with one; the switch cannot know the image's length)\n"
    "  --restart-ms MS           after the end-of-image frame the switch restarts: it\n"
    "                            hears nothing for MS ms (default 3000), then answers\n"
    "                            with the model and date of the image it stored (of its\n"
    "                            info record; the old ones when it has none)\n"
    "  --restart MODE            new (the default), old-date (back, but the new image\n"
    "                            did not take) or never (never answers again)\n"
    "  --image-out FILE          write the received image there at its end\n"
    "  --link PATH               make PATH a symbolic link to the device\n"
    "  --once                    exit after the first end-of-image frame\n"
    "  --show-blocks             print how many blocks of the image are stored whenever\n"
    "                            that changes (a watcher learns how far a transfer got\n"
    "                            even when it never ends)\n"
    "  --map COMn=DEVICE         (every program of the project takes it) replaces the\n"
    "                            table of port names; here it only feeds --list-ports\n"
    "  --list-ports              print the table of port names in use and exit\n"
    "  --version                 print the version and exit\n"
    "  --help                    print this text and exit\n";

enum class Parse { Run, Help, Version, ListPorts, Bad };

bool ToInt(std::string_view text, int& value, int base = 10)
{
    if (base == 16 && (text.starts_with("0x") || text.starts_with("0X")))
        text.remove_prefix(2);
    if (text.empty())
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

bool ToByte(std::string_view text, std::uint8_t& value, int base)
{
    int v = 0;
    if (!ToInt(text, v, base) || v > 0xFF)
        return false;
    value = static_cast<std::uint8_t>(v);
    return true;
}

bool ToDate(std::string_view text, std::uint8_t (&date)[3])
{
    for (int i = 0; i < 3; ++i) {
        std::size_t dash = text.find('-');
        if ((i < 2) != (dash != std::string_view::npos))
            return false;
        std::string_view field = text.substr(0, dash);
        if (!ToByte(field, date[i], 10))
            return false;
        text.remove_prefix(i < 2 ? dash + 1 : text.size());
    }
    return true;
}

struct ShowOptions {
    bool once = false;
    bool blocks = false;
};

Parse ParseArgs(int argc, char** argv, SwitchSimConfig& config, ShowOptions& show,
                std::string& error)
{
    bool rejectCountGiven = false;
    bool flushBytesGiven = false;
    bool listPorts = false;
    bool mapped = false;
    PortTable mappedTable;
    for (int i = 1; i < argc; ++i) {
        const LongOption split = LongOption::Split(argv[i]);
        const std::string& option = split.name;
        const bool hasValue = split.value.has_value();
        std::string value = split.value.value_or("");
        auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= argc) {
                error = option + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto flag = [&](bool& target) -> bool {
            if (hasValue) {
                error = option + " takes no value";
                return false;
            }
            target = true;
            return true;
        };
        auto number = [&](int& target) -> bool {
            if (!takeValue())
                return false;
            if (!ToInt(value, target)) {
                error = "bad number for " + option + ": " + value;
                return false;
            }
            return true;
        };
        auto hexByte = [&](std::uint8_t& target) -> bool {
            if (!takeValue())
                return false;
            if (!ToByte(value, target, 16)) {
                error = "bad hex byte for " + option + ": " + value;
                return false;
            }
            return true;
        };
        auto text = [&](std::string& target) -> bool {
            if (!takeValue())
                return false;
            target = value;
            return true;
        };

        bool ok = true;
        if (option == "--help" || option == "-h") {
            return Parse::Help;
        } else if (option == "--version") {
            return Parse::Version;
        } else if (option == "--reply-code") {
            ok = hexByte(config.probeReply);
        } else if (option == "--date") {
            ok = takeValue();
            if (ok && !ToDate(value, config.date)) {
                error = "bad date (A-B-C, each 0 to 255): " + value;
                ok = false;
            }
        } else if (option == "--model") {
            ok = text(config.model);
        } else if (option == "--line-timing") {
            ok = flag(config.lineTiming);
        } else if (option == "--flash-delay-us") {
            int us = 0;
            ok = number(us);
            config.flashWriteDelay = std::chrono::microseconds(us);
        } else if (option == "--adapter-hold") {
            int ms = 0;
            ok = number(ms);
            config.adapterHold = std::chrono::milliseconds(ms);
        } else if (option == "--adapter-flush-bytes") {
            int n = 0;
            ok = number(n);
            if (ok && n == 0) {
                error = "bad number for " + option + ": 0 (at least 1)";
                ok = false;
            }
            config.adapterFlushBytes = static_cast<std::size_t>(n);
            flushBytesGiven = true;
        } else if (option == "--adapter-hold-random") {
            ok = flag(config.adapterHoldRandom);
        } else if (option == "--seed") {
            int seed = 0;
            ok = number(seed);
            config.seed = static_cast<std::uint32_t>(seed);
        } else if (option == "--silent") {
            ok = flag(config.silent);
        } else if (option == "--answer-probe-from") {
            ok = number(config.answerProbeFrom);
        } else if (option == "--answer-probe-until") {
            ok = number(config.answerProbeUntil);
        } else if (option == "--answer-probe-again-from") {
            ok = number(config.answerProbeAgainFrom);
        } else if (option == "--no-ready-reply") {
            ok = flag(config.noReadyReply);
        } else if (option == "--no-go-ahead") {
            ok = flag(config.noGoAhead);
        } else if (option == "--go-ahead-delay-ms") {
            int ms = 0;
            ok = number(ms);
            config.goAheadDelay = std::chrono::milliseconds(ms);
        } else if (option == "--reject-block") {
            ok = number(config.rejectBlock);
        } else if (option == "--reject-count") {
            ok = number(config.rejectCount);
            rejectCountGiven = true;
        } else if (option == "--reject-code") {
            ok = hexByte(config.rejectCode);
        } else if (option == "--silent-from-block") {
            ok = number(config.silentFromBlock);
        } else if (option == "--ignore-block") {
            ok = number(config.ignoreBlock);
        } else if (option == "--reply-length") {
            ok = number(config.replyLength);
        } else if (option == "--noise") {
            ok = number(config.noiseBytes);
        } else if (option == "--hangup-after-block") {
            ok = number(config.hangupAfterBlock);
        } else if (option == "--babble") {
            ok = flag(config.babble);
        } else if (option == "--babble-after-go-ahead") {
            std::uint8_t byte = 0;
            ok = hexByte(byte);
            config.babbleAfterGoAhead = byte;
        } else if (option == "--hang-up-after-last-ack") {
            ok = flag(config.hangUpAfterLastAck);
        } else if (option == "--restart-ms") {
            int ms = 0;
            ok = number(ms);
            config.restartDelay = std::chrono::milliseconds(ms);
        } else if (option == "--restart") {
            ok = takeValue();
            using Restart = SwitchSimConfig::Restart;
            if (ok && value == "new") {
                config.restart = Restart::WithStoredImage;
            } else if (ok && value == "old-date") {
                config.restart = Restart::WithOldFirmware;
            } else if (ok && value == "never") {
                config.restart = Restart::Never;
            } else if (ok) {
                error = "bad --restart (new, old-date or never): " + value;
                ok = false;
            }
        } else if (option == "--image-out") {
            ok = text(config.imageOut);
        } else if (option == "--link") {
            ok = text(config.linkPath);
        } else if (option == "--once") {
            ok = flag(show.once);
        } else if (option == "--show-blocks") {
            ok = flag(show.blocks);
        } else if (option == "--map") {
            ok = takeValue() && mappedTable.AddMapping(value, error);
            mapped = true;
        } else if (option == "--list-ports") {
            ok = flag(listPorts);
        } else {
            error = "unknown option: " + option;
            ok = false;
        }
        if (!ok)
            return Parse::Bad;
    }
    if (config.rejectBlock >= 0 && !rejectCountGiven)
        config.rejectCount = 1;
    if (config.adapterHold.count() == 0 && (config.adapterHoldRandom || flushBytesGiven)) {
        error = std::string(config.adapterHoldRandom ? "--adapter-hold-random" : "--adapter-flush-bytes")
            + " needs --adapter-hold MS of 1 or more";
        return Parse::Bad;
    }
    if (listPorts) {
        PortTable::Process() = mapped ? mappedTable : PortTable::Detect();
        return Parse::ListPorts;
    }
    return Parse::Run;
}

} // namespace

int main(int argc, char** argv)
{
    ReopenClosedStandardStreams();
    SwitchSimConfig config;
    // A switch takes a few seconds to restart after its upgrade.
    config.restartDelay = 3000ms;
    ShowOptions show;
    std::string error;
    switch (ParseArgs(argc, argv, config, show, error)) {
    case Parse::Help:
        std::fputs(kUsage, stdout);
        return 0;
    case Parse::Version:
        std::puts(KVM_VERSION);
        return 0;
    case Parse::ListPorts:
        std::fputs(PortTable::Process().Listing().c_str(), stdout);
        return 0;
    case Parse::Bad:
        std::fprintf(stderr, "kvm-switch-sim: %s (see --help)\n", error.c_str());
        return 2;
    case Parse::Run:
        break;
    }

    // Blocked before the switch's thread starts, so that only sigtimedwait
    // below sees them and the stop is always a clean one.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    SwitchSim sim(config);
    if (!sim.Start(&error)) {
        std::fprintf(stderr, "kvm-switch-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("device: %s\n", sim.DevicePath().c_str());
    if (!config.linkPath.empty())
        std::printf("link: %s\n", config.linkPath.c_str());
    std::fflush(stdout);

    int imagesShown = 0;
    bool hangUpShown = false;
    bool babbleShown = false;
    // Read under the switch's lock, where a block is counted, without copying
    // its whole report for every block.
    int blocksShown = 0;
    int blocksStored = 0;
    std::size_t bytesStored = 0;
    auto showBlocks = [&] {
        if (!show.blocks || blocksStored == blocksShown)
            return;
        blocksShown = blocksStored;
        std::printf("blocks stored %d bytes %zu\n", blocksStored, bytesStored);
    };
    for (;;) {
        bool otherNews = false;
        if (sim.WaitForReport(
                [&](const SwitchSimReport& r) {
                    blocksStored = r.blocksStored;
                    bytesStored = r.image.size();
                    otherNews = r.endOfImageCount > imagesShown || r.hungUp != hangUpShown
                                || r.babbling != babbleShown;
                    return otherNews || (show.blocks && blocksStored != blocksShown);
                },
                50ms)) {
            showBlocks();
            if (otherNews) {
                SwitchSimReport report = sim.Report();
                if (report.babbling && !babbleShown) {
                    std::printf("babbling 0x%02X after the go-ahead\n",
                                static_cast<unsigned>(config.babbleAfterGoAhead.value_or(0)));
                    babbleShown = true;
                }
                if (report.hungUp && !hangUpShown) {
                    std::printf("line closed after block %d\n", report.blocksStored - 1);
                    hangUpShown = true;
                }
                if (report.endOfImageCount > imagesShown) {
                    imagesShown = report.endOfImageCount;
                    std::printf("end of image: frames %zu blocks %d bytes %zu crc16 0x%04X "
                                "resends %d bad frames %d\n",
                                report.frames.size(), report.blocksStored, report.image.size(),
                                static_cast<unsigned>(report.imageCrc),
                                report.transferBlockFrames - report.blocksStored,
                                report.badFrames);
                }
            }
            std::fflush(stdout);
            if (show.once && imagesShown > 0)
                break;
        }
        timespec now{0, 0};
        if (sigtimedwait(&stopSignals, nullptr, &now) > 0)
            break;
    }
    sim.Stop();
    // A block stored after the last look is still shown: the last line holds.
    const SwitchSimReport last = sim.Report();
    blocksStored = last.blocksStored;
    bytesStored = last.image.size();
    showBlocks();
    std::fflush(stdout);
    return 0;
}

// What scripts decide on: the exit status by cause, the one JSON object of
// --json, upgrade --if-newer, --quiet and the --log transcript. Every run is
// the built kvm-upgrade-cli against the simulated switch on a pseudo-terminal,
// and every claim of data sent is held against what the switch stored.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "CliChild.h"
#include "CliRunner.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "tests/kvm/TestSupport.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"

namespace {

using F = FirmwareTestFiles;
using Bytes = F::Bytes;
using namespace std::chrono_literals;

// stdout under --json is the object and nothing else.
nlohmann::json OnlyObject(const CliRunner::Result& result)
{
    const nlohmann::json json = nlohmann::json::parse(result.out, nullptr, false);
    EXPECT_FALSE(json.is_discarded()) << "stdout is not one JSON object:\n" << result.out;
    EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
    return json;
}

// The preloaded disk of StalledDisk.cpp under the programs this test
// starts, with its settings in the environment, for the object's life.
class PreloadedDisk {
public:
    explicit PreloadedDisk(std::vector<std::pair<std::string, std::string>> settings)
        : m_settings(std::move(settings))
    {
        for (const auto& [name, value] : m_settings)
            ::setenv(name.c_str(), value.c_str(), 1);
        ::setenv("LD_PRELOAD", KVM_STALLED_DISK_PATH, 1);
        // A sanitized build's runtime then no longer comes first.
        const char* asan = std::getenv("ASAN_OPTIONS");
        m_asan = asan != nullptr ? std::optional<std::string>(asan) : std::nullopt;
        ::setenv("ASAN_OPTIONS", (m_asan ? *m_asan + ":" : std::string()).append("verify_asan_link_order=0").c_str(), 1);
    }
    ~PreloadedDisk()
    {
        for (const auto& [name, value] : m_settings)
            ::unsetenv(name.c_str());
        ::unsetenv("LD_PRELOAD");
        if (m_asan)
            ::setenv("ASAN_OPTIONS", m_asan->c_str(), 1);
        else
            ::unsetenv("ASAN_OPTIONS");
    }
    PreloadedDisk(const PreloadedDisk&) = delete;
    PreloadedDisk& operator=(const PreloadedDisk&) = delete;

private:
    std::vector<std::pair<std::string, std::string>> m_settings;
    std::optional<std::string> m_asan;
};

TEST(CliDecision, ExitStatusAndJsonSayTheCause)
{
    const struct {
        std::string name;
        std::string command;                        // check or upgrade
        std::function<void(SwitchSimConfig&)> sim;  // the switch's behaviour
        bool hold = false;                          // another opener holds the line
        bool missing = false;                       // COM1 is mapped to nothing there
        int exitCode;
        std::string outcome;
        std::string cause; // a part of the one-line cause; empty: none
    } cases[] = {
        {"done", "upgrade", [](SwitchSimConfig&) {}, false, false, 0, "done", ""},
        {"rejections within the budget", "upgrade",
         [](SwitchSimConfig& c) { c.rejectBlock = 3, c.rejectCount = 4; }, false, false, 0, "done", ""},
        {"no device", "check", [](SwitchSimConfig&) {}, false, true, 4, "port-unavailable", "no such device"},
        {"busy", "upgrade", [](SwitchSimConfig&) {}, true, false, 5, "port-busy", "device busy"},
        {"silent", "check", [](SwitchSimConfig& c) { c.silent = true; }, false, false, 6, "no-switch",
         "no switch answered the probe"},
        // No image data, but the headers may have started the erase.
        {"no go-ahead", "upgrade", [](SwitchSimConfig& c) { c.noGoAhead = true; }, false, false, 7,
         "transfer-failed", "did not give the go-ahead"},
        {"hang-up mid-image", "upgrade", [](SwitchSimConfig& c) { c.hangupAfterBlock = 5; }, false, false, 7,
         "transfer-failed", "run the upgrade again"},
        {"refused too often", "upgrade", [](SwitchSimConfig& c) { c.rejectBlock = 2, c.rejectCount = 9; }, false,
         false, 7, "transfer-failed", "refused block 3 too often"},
    };
    FirmwareTestFiles files;
    const Bytes image = F::RecordedImage(4096, 3);
    const std::string path = files.Write("fw-7-12-25.bin", image);
    for (const auto& c : cases) {
        SwitchSimConfig config;
        c.sim(config);
        auto sim = StartSim(config);
        PortTable table;
        table.Map("COM1", sim->DevicePath());
        CSerialPort holder(&table);
        if (c.hold) {
            ASSERT_EQ(holder.Open("COM1", 115200, 1000), 1);
        }
        const std::string device = c.missing ? files.PathOf("gone") : sim->DevicePath();
        std::vector<std::string> args = {"--json", "--map", "COM1=" + device, c.command, "--port", "COM1"};
        if (c.command == "upgrade")
            args.insert(args.end(), {"--yes", path});
        const CliRunner::Result result = CliRunner::Run(args);
        SCOPED_TRACE(c.name + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);

        EXPECT_EQ(result.exitCode, c.exitCode);
        const nlohmann::json json = OnlyObject(result);
        EXPECT_EQ(json.value("command", ""), c.command);
        EXPECT_EQ(json.value("exit_code", -1), result.exitCode);
        EXPECT_EQ(json.value("outcome", ""), c.outcome);
        EXPECT_EQ(json["port"], (nlohmann::json{{"name", "COM1"}, {"device", device}}));
        if (c.cause.empty()) {
            EXPECT_TRUE(json["cause"].is_null());
        } else {
            EXPECT_NE(json.value("cause", "").find(c.cause), std::string::npos);
            // The same cause on stderr, without --verbose.
            EXPECT_NE(result.err.find("kvm-upgrade-cli: "), std::string::npos);
            EXPECT_NE(result.err.find(c.cause), std::string::npos);
        }
        // Each check here finds no switch on its named port, opened or not,
        // and its log says the same for both; an upgrade stops before it.
        EXPECT_EQ(result.err.find("try Auto scan mode") != std::string::npos, c.command == "check");

        // What the object says was acknowledged, the switch stored.
        const SwitchSimReport report = sim->Report();
        const auto bytesSent = json.value("bytes_sent", 0u);
        ASSERT_LE(bytesSent, report.image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + bytesSent, report.image.begin()));
        EXPECT_EQ(json.value("blocks_sent", 0u), (bytesSent + 255) / 256);
        if (c.exitCode == 0 && c.command == "upgrade") {
            ASSERT_TRUE(sim->WaitForEndOfImage(5s));
            EXPECT_EQ(sim->Report().image, image);
            EXPECT_EQ(bytesSent, image.size());
            EXPECT_EQ(json.value("rejections", -1), config.rejectCount);
            EXPECT_EQ(json["file"].value("size", 0u), image.size());
            EXPECT_EQ(json["file"].value("valid", false), true);
            EXPECT_TRUE(std::regex_match(json["file"].value("crc16", ""), std::regex("0x[0-9A-F]{4}")));
        }
        if (c.exitCode == 4 || c.exitCode == 5) {
            EXPECT_TRUE(report.rawReceived.empty());
        }
    }
}

TEST(CliDecision, ARefusedFileSaysWhyInTheObject)
{
    FirmwareTestFiles files;
    Bytes damaged = F::RecordedImage(1024, 9);
    damaged[10] ^= 0x40;
    const struct {
        std::string path;
        std::string cause;
    } cases[] = {
        {files.Write("empty.bin", {}), "File is empty."},
        {files.Write("damaged.bin", damaged), "CRC error."},
        {files.PathOf("missing.bin"), "no such file"},
    };
    for (const auto& c : cases) {
        const CliRunner::Result result = CliRunner::Run({"info", "--json", c.path});
        EXPECT_EQ(result.exitCode, 2);
        const nlohmann::json json = OnlyObject(result);
        EXPECT_EQ(json.value("outcome", ""), "refused");
        EXPECT_EQ(json.value("cause", "").rfind(c.path + " is no valid firmware file: ", 0), 0u) << json.dump();
        EXPECT_NE(json.value("cause", "").find(c.cause), std::string::npos) << json.dump();
    }
}

TEST(CliDecision, IfNewerSendsOnlyANewerFile)
{
    FirmwareTestFiles files;
    const Bytes image = F::RecordedImage(2048, 5);
    const std::string dated = files.Write("fw.bin", image);
    // No info record, no date in the name: nothing to compare.
    const std::string undated = files.WriteImage("nodate.bin", 2048);
    const struct {
        std::uint8_t switchDate[3];
        std::string path;
        int exitCode;
        std::string comparison;
        std::string fileVersion;
        std::string said; // a part of what stderr says at the end
    } cases[] = {
        {{9, 1, 25}, dated, 0, "file-newer", "7-12-25", "the file is newer."},
        {{7, 12, 25}, dated, 3, "same", "7-12-25", "Nothing was sent: the file is not newer"},
        {{6, 1, 26}, dated, 3, "switch-newer", "7-12-25", "Nothing was sent: the file is not newer"},
        {{6, 1, 26}, undated, 3, "unknown", "",
         "file of unknown date: the file's date is not known, so the two cannot be compared.\n"
         "Nothing was sent: the file's date is not known"},
    };
    for (const auto& c : cases) {
        SwitchSimConfig config;
        std::copy(std::begin(c.switchDate), std::end(c.switchDate), config.date);
        auto sim = StartSim(config);
        const CliRunner::Result result = CliRunner::Run(
            {"--map", "COM1=" + sim->DevicePath(), "--json", "upgrade", "--if-newer", "--yes", c.path});
        SCOPED_TRACE(c.comparison + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, c.exitCode);
        const nlohmann::json json = OnlyObject(result);
        EXPECT_EQ(json.value("comparison", ""), c.comparison);
        EXPECT_EQ(json["switch"].value("model", ""), "PZN442");
        EXPECT_EQ(json["file"].value("version", "?"), c.fileVersion);
        EXPECT_NE(result.err.find(c.said), std::string::npos);
        if (c.exitCode == 0) {
            ASSERT_TRUE(sim->WaitForEndOfImage(5s));
            EXPECT_EQ(sim->Report().image, image);
        } else {
            // The probe and the version request, nothing more.
            EXPECT_EQ(sim->Report().frames, (std::vector<Bytes>{{0x01}, {0x01}}));
        }
    }
}

TEST(CliDecision, QuietShowsTheVerdictAndTheLogKeepsEverything)
{
    FirmwareTestFiles files;
    const Bytes image = F::RecordedImage(1024, 7);
    const std::string path = files.Write("fw.bin", image);
    const std::string log = files.PathOf("run.log");
    auto sim = StartSim();
    const CliRunner::Result result = CliRunner::Run(
        {"--map", "COM1=" + sim->DevicePath(), "upgrade", "-q", "--yes", "--log", log, path});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Upgrade complete!\n");
    ASSERT_TRUE(sim->WaitForEndOfImage(5s));
    EXPECT_EQ(sim->Report().image, image);

    std::ifstream in(log);
    std::stringstream text;
    text << in.rdbuf();
    const std::string transcript = text.str();
    const std::regex stamped(
        R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (begin|out|err|stat|prog|note|exit|tx|rx) .*)");
    std::istringstream lines(transcript);
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count)
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
    EXPECT_GT(count, 5);
    for (const char* part : {" out  Upgrading in progress", " stat Upgrade complete!", " prog 100 %", " exit 0"})
        EXPECT_NE(transcript.find(part), std::string::npos) << part << "\n" << transcript;
    // Each run opens with who ran what on which file and port, and closes
    // with how it ended.
    const std::string first = transcript.substr(0, transcript.find('\n'));
    for (const std::string& part : std::vector<std::string>{" begin tool=\"kvm-upgrade-cli ", " command=\"", " file=" + path, " size=1024",
                                   " crc16=0x", " model=PZN442", " date=7-12-25", " port=AUTO", " user="})
        EXPECT_NE(first.find(part), std::string::npos) << part << "\n" << first;
    EXPECT_NE(transcript.find(" exit 0 outcome=done size=1024 crc16=0x"), std::string::npos);
    EXPECT_NE(transcript.find(" port=COM1 device=" + sim->DevicePath() + " seconds="), std::string::npos);
    // Frames only with --verbose.
    EXPECT_EQ(transcript.find(" tx "), std::string::npos);

    auto again = StartSim();
    const std::string verboseLog = files.PathOf("verbose.log");
    ASSERT_EQ(CliRunner::Run({"--map", "COM1=" + again->DevicePath(), "upgrade", "-v", "--yes", "--log",
                              verboseLog, path})
                  .exitCode,
              0);
    std::ifstream verboseIn(verboseLog);
    std::stringstream verboseText;
    verboseText << verboseIn.rdbuf();
    // The first block's frame: command, sequence 0, then the image.
    char firstBlock[32];
    std::snprintf(firstBlock, sizeof firstBlock, " tx   03 00 %02x %02x", image[0], image[1]);
    EXPECT_NE(verboseText.str().find(firstBlock), std::string::npos) << verboseText.str();
    EXPECT_NE(verboseText.str().find(" rx   f"), std::string::npos);

    // A transcript goes to a file on disk: a FIFO nobody reads would block
    // the run before it starts.
    const std::string fifo = files.PathOf("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The firmware file, under its name or another, never takes a transcript.
    ASSERT_EQ(::link(path.c_str(), files.PathOf("linked.bin").c_str()), 0);
    for (const std::string& where : {path, files.PathOf("linked.bin"), files.PathOf("./fw.bin")}) {
        const CliRunner::Result refused = CliRunner::Run({"check", "--file", path, "--log", where});
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_NE(refused.err.find("is the firmware file"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(FirmwareTestFiles::ReadBytes(path), image);
    // Nor a firmware file that does not exist yet, nor the settings file
    // every later run reads.
    const std::string settings = files.Write("user.conf", {'p', 'o', 'r', 't', '=', 'C', 'O', 'M', '1', '\n'});
    ::setenv("KVM_UPGRADE_USER_CONFIG", settings.c_str(), 1);
    for (const auto& [args, reason] :
         {std::pair{std::vector<std::string>{"info", "--log", files.PathOf("new.bin"), files.PathOf("./new.bin")}, "is the firmware file"},
          {{"check", "--log", settings}, "is a settings file"}}) {
        const CliRunner::Result refused = CliRunner::Run(args);
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
    }
    ::unsetenv("KVM_UPGRADE_USER_CONFIG");
    EXPECT_EQ(FirmwareTestFiles::ReadBytes(settings).size(), 10u);
    // A run cut short mid-line leaves the next run's first line whole.
    const std::string cut = files.Write("cut.log", {'7', 'e', ' ', '3', '6'});
    ASSERT_EQ(CliRunner::Run({"info", "--log", cut, path}).exitCode, 0);
    std::ifstream cutIn(cut);
    std::string cutLine;
    std::getline(cutIn, cutLine);
    std::getline(cutIn, cutLine);
    EXPECT_TRUE(std::regex_match(cutLine, stamped)) << cutLine;
    for (const auto& [where, reason] : {std::pair{fifo, "not a regular file"},
                                        {files.PathOf("."), "is a directory"},
                                        {std::string("/dev/stdout"), "is where the JSON object goes"}}) {
        const CliRunner::Result refused = CliRunner::Run({"check", "--json", "--log", where});
        EXPECT_EQ(refused.exitCode, 2);
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
    }
}

// Two interrupts abort a running upgrade. The object printed then says what
// the switch had acknowledged so far, which it stored, and never less.
TEST(CliDecision, AnAbortedUpgradeSaysWhatTheSwitchAcknowledged)
{
    const struct {
        std::string name;
        std::function<void(SwitchSimConfig&)> sim;
        int blocksStored; // signalled once the switch stored this many blocks; 0: in the handshake
        bool ifNewer;     // signalled during --if-newer's version read, which one signal ends
    } cases[] = {
        // The second model header is out; the go-ahead is slow to come.
        {"in the handshake", [](SwitchSimConfig& c) { c.goAheadDelay = 4000ms; }, 0, false},
        {"mid-image", [](SwitchSimConfig& c) { c.flashWriteDelay = 20000us; }, 4, false},
        // The switch answered the probe, not (yet) the version request.
        {"in the version read", [](SwitchSimConfig& c) { c.answerProbeUntil = 1; }, 0, true},
    };
    FirmwareTestFiles files;
    const Bytes image = F::RecordedImage(65536, 9);
    const std::string path = files.Write("fw.bin", image);
    for (const auto& c : cases) {
        SwitchSimConfig config;
        c.sim(config);
        auto sim = StartSim(config);
        std::vector<std::string> args = {"--json", "--map", "COM1=" + sim->DevicePath(), "upgrade", "--port", "COM1", "--yes"};
        if (c.ifNewer)
            args.push_back("--if-newer");
        args.push_back(path);
        CliChild child(args);
        ASSERT_TRUE(sim->WaitForReport(
            [&c](const SwitchSimReport& r) {
                return c.blocksStored > 0 ? r.blocksStored >= c.blocksStored
                                          : r.frames.size() >= (c.ifNewer ? 2u : 6u);
            },
            30s));
        child.Signal(SIGTERM);
        if (!c.ifNewer) {
            ASSERT_TRUE(child.WaitForErr("press Ctrl-C again to abort", 30s)) << child.ErrSoFar();
            child.Signal(SIGTERM);
        }
        const CliRunner::Result result = child.Wait();
        SCOPED_TRACE(c.name + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, 143);
        const nlohmann::json json = OnlyObject(result);
        EXPECT_EQ(json.value("outcome", ""), "interrupted");
        EXPECT_EQ(json.value("exit_code", -1), 143);
        // What was known before the interrupt is kept: the port the switch
        // answered on, the file, how long the run had taken.
        EXPECT_EQ(json["port"], (nlohmann::json{{"name", "COM1"}, {"device", sim->DevicePath()}}));
        EXPECT_EQ(json["file"].value("size", 0u), image.size());
        EXPECT_GT(json.value("seconds", 0.0), 0.0);

        const SwitchSimReport report = sim->Report();
        const auto bytesSent = json.value("bytes_sent", 0u);
        ASSERT_LE(bytesSent, report.image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + bytesSent, report.image.begin()));
        EXPECT_EQ(json.value("blocks_sent", 0u), (bytesSent + 255) / 256);
        // A block is sent only once the one before it was acknowledged.
        EXPECT_GE(bytesSent, report.blocksStored > 0 ? (report.blocksStored - 1) * 256u : 0u);
        EXPECT_FALSE(report.endOfImage);
    }
}

// The verdict is given, but the transcript's disk has stalled (a hung network
// mount) and the run waits for it: Ctrl-C, the way out, must not lose the
// verdict. The object and the exit status are those of the run, which the
// switch's image bears out.
TEST(CliDecision, AnInterruptWhileTheTranscriptStallsKeepsTheVerdict)
{
    const struct {
        std::string name;
        std::function<void(SwitchSimConfig&)> sim;
        int exitCode;
        std::string outcome;
    } cases[] = {
        {"done", [](SwitchSimConfig&) {}, 0, "done"},
        {"failed mid-image", [](SwitchSimConfig& c) { c.silentFromBlock = 2; }, 7, "transfer-failed"},
    };
    FirmwareTestFiles files;
    const Bytes image = F::RecordedImage(1024, 5);
    const std::string path = files.Write("fw.bin", image);
    const std::string notify = files.PathOf("stalled");
    const std::string release = files.PathOf("release");
    ASSERT_EQ(::mkfifo(notify.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(release.c_str(), 0600), 0);
    const PreloadedDisk disk({{"KVM_STALL_NOTIFY", notify}, {"KVM_STALL_RELEASE", release}});
    for (const auto& c : cases) {
        // Held open both ways here, so that neither end's open waits.
        const int notifyFd = ::open(notify.c_str(), O_RDWR | O_CLOEXEC);
        const int releaseFd = ::open(release.c_str(), O_RDWR | O_CLOEXEC);
        SwitchSimConfig config;
        c.sim(config);
        auto sim = StartSim(config);
        CliChild child({"--json", "--log", files.PathOf(c.name + ".log"), "--map", "COM1=" + sim->DevicePath(),
                        "upgrade", "--port", "COM1", "--yes", path});
        pollfd stalled{notifyFd, POLLIN, 0};
        ASSERT_EQ(::poll(&stalled, 1, 60000), 1) << c.name;
        child.Signal(SIGINT);
        const CliRunner::Result result = child.Wait(30s);
        ::close(releaseFd);
        ::close(notifyFd);
        SCOPED_TRACE(c.name + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err);
        EXPECT_EQ(result.exitCode, c.exitCode);
        const nlohmann::json json = OnlyObject(result);
        ASSERT_TRUE(json.is_object());
        EXPECT_EQ(json.value("outcome", ""), c.outcome);
        EXPECT_EQ(json.value("exit_code", -1), c.exitCode);
        const SwitchSimReport report = sim->Report();
        EXPECT_EQ(report.endOfImage && report.image == image, c.exitCode == 0);
        const auto bytesSent = json.value("bytes_sent", 0u);
        ASSERT_LE(bytesSent, report.image.size());
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + bytesSent, report.image.begin()));
    }
}

// A full disk under the transcript: said at the end and in the object, and
// the upgrade's verdict stands.
TEST(CliDecision, AFullDiskLeavesTheVerdictAndSaysTheTranscriptIsIncomplete)
{
    FirmwareTestFiles files;
    const Bytes image = F::RecordedImage(1024, 6);
    const std::string path = files.Write("fw.bin", image);
    auto sim = StartSim();
    const PreloadedDisk disk({{std::string("KVM_DISK_FULL"), std::string("1")}});
    const CliRunner::Result result = CliRunner::Run({"--json", "--log", files.PathOf("run.log"), "--map",
                                                     "COM1=" + sim->DevicePath(), "upgrade", "--yes", path});
    SCOPED_TRACE("stderr:\n" + result.err);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(sim->Report().image, image);
    const nlohmann::json json = OnlyObject(result);
    EXPECT_EQ(json["log"].value("complete", true), false);
    EXPECT_EQ(json["log"].value("error", ""), std::strerror(ENOSPC));
    EXPECT_NE(result.err.find("the transcript is incomplete: " + std::string(std::strerror(ENOSPC))),
              std::string::npos);
}

} // namespace

#include "tools/SwitchSim.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "firmware/Crc16.h"
#include "tests/tools/HostLine.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Upper bound for anything the switch does at once; only a stuck switch waits it out.
constexpr auto kWait = 5000ms;
// 115200 baud 8N2.
constexpr auto kByteTime = std::chrono::nanoseconds(95486);

constexpr std::uint8_t kAck = 0xF0;
const Bytes kModelHeader = {0x02, 0x01, 0x00};
const Bytes kFamilyHeader = {0x02, 0x02, 0x00};
const Bytes kProbe = {0x01};

Bytes VersionReply(const SwitchSimConfig& config)
{
    Bytes reply = {config.probeReply, 0x00, 0x00, config.date[0], config.date[1], config.date[2]};
    reply.insert(reply.end(), config.model.begin(), config.model.end());
    reply.push_back(0x00);
    return reply;
}

Bytes Block(std::uint8_t sequence, std::size_t length, std::uint8_t seed = 0)
{
    Bytes payload = {0x03, sequence};
    for (std::size_t i = 0; i < length; ++i)
        payload.push_back(static_cast<std::uint8_t>(seed + i * 7 + (i >> 3)));
    return payload;
}

Bytes DataOf(const Bytes& blockPayload)
{
    return Bytes(blockPayload.begin() + 2, blockPayload.end());
}

std::unique_ptr<SwitchSim> StartSim(const SwitchSimConfig& config = {})
{
    auto sim = std::make_unique<SwitchSim>(config);
    std::string error;
    EXPECT_TRUE(sim->Start(&error)) << error;
    return sim;
}

// The utility's handshake; the switch answers the ready probe and the second
// model header with F0.
void Handshake(HostLine& line)
{
    ASSERT_TRUE(line.Send(kModelHeader));
    ASSERT_TRUE(line.Send(kFamilyHeader));
    ASSERT_TRUE(line.Send(kProbe));
    ASSERT_EQ(line.ReadExactly(1), Bytes{kAck}) << "ready probe";
    ASSERT_TRUE(line.Send(kModelHeader));
    ASSERT_EQ(line.ReadExactly(1), Bytes{kAck}) << "go-ahead";
}

// The switch answers in order, so a version reply read first proves that
// nothing was sent for whatever the host sent before the probe.
void ExpectNothingPendingBeforeProbe(HostLine& line, const SwitchSimConfig& config)
{
    ASSERT_TRUE(line.Send(kProbe));
    Bytes expected = VersionReply(config);
    EXPECT_EQ(line.ReadExactly(expected.size()), expected);
}

bool ReportHas(const SwitchSim& sim, bool (*condition)(const SwitchSimReport&))
{
    return sim.WaitForReport(condition, kWait);
}

TEST(SwitchSimProbe, AnswersWithTheVersionReply)
{
    struct Case {
        std::uint8_t code;
        std::uint8_t date[3];
        std::string model;
    };
    const Case cases[] = {
        {0xF2, {7, 12, 25}, "PZN442"},
        {0xFA, {9, 1, 25}, "CS1734"},
        {0xF3, {0, 255, 3}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        SwitchSimConfig config;
        config.probeReply = c.code;
        std::copy(std::begin(c.date), std::end(c.date), config.date);
        config.model = c.model;
        auto sim = StartSim(config);
        HostLine line(sim->DevicePath());
        ASSERT_TRUE(line.IsOpen());

        ASSERT_TRUE(line.Send(kProbe));
        Bytes expected = {c.code, 0x00, 0x00, c.date[0], c.date[1], c.date[2]};
        expected.insert(expected.end(), c.model.begin(), c.model.end());
        expected.push_back(0x00);
        EXPECT_EQ(line.ReadExactly(expected.size()), expected);

        SwitchSimReport report = sim->Report();
        EXPECT_EQ(report.probes, 1);
        EXPECT_EQ(report.frames, std::vector<Bytes>{kProbe});
        EXPECT_EQ(report.rawReceived, (Bytes{0x01, 0xFF}));
    }
}

TEST(SwitchSimTransfer, StoresTheImageAndWritesItAtTheEnd)
{
    std::string imagePath =
        (std::filesystem::temp_directory_path() / ("sim-image-" + std::to_string(getpid()))).string();
    SwitchSimConfig config;
    config.imageOut = imagePath;
    auto sim = StartSim(config);
    HostLine line(sim->DevicePath());
    Handshake(line);

    const Bytes blocks[] = {Block(0, 256, 1), Block(1, 256, 2), Block(2, 10, 3)};
    Bytes image;
    for (const Bytes& block : blocks) {
        ASSERT_TRUE(line.Send(block));
        EXPECT_EQ(line.ReadExactly(1), Bytes{kAck});
        Bytes data = DataOf(block);
        image.insert(image.end(), data.begin(), data.end());
    }
    ASSERT_TRUE(line.Send({0x05}));
    ASSERT_TRUE(sim->WaitForEndOfImage(kWait));

    SwitchSimReport report = sim->Report();
    EXPECT_EQ(report.blocksStored, 3);
    EXPECT_EQ(report.blockFrames, 3);
    EXPECT_EQ(report.storedSequences, (Bytes{0, 1, 2}));
    EXPECT_EQ(report.image, image);
    EXPECT_EQ(report.imageCrc, Crc16(image.data(), static_cast<std::uint32_t>(image.size())));
    EXPECT_EQ(report.endOfImageCount, 1);
    EXPECT_EQ(report.badFrames, 0);
    std::vector<Bytes> frames = {kModelHeader, kFamilyHeader, kProbe, kModelHeader,
                                 blocks[0],    blocks[1],     blocks[2], {0x05}};
    EXPECT_EQ(report.frames, frames);

    std::ifstream file(imagePath, std::ios::binary);
    Bytes written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, image);
    std::remove(imagePath.c_str());
}

TEST(SwitchSimTransfer, ChecksSequenceNumbers)
{
    struct Send {
        std::uint8_t sequence;
        std::uint8_t reply;
    };
    struct Case {
        const char* name;
        std::vector<Send> sends;
        Bytes stored;
    };
    const Case cases[] = {
        {"in order", {{0, 0xF0}, {1, 0xF0}, {2, 0xF0}}, {0, 1, 2}},
        {"late ack: the same block again is acked, not stored twice",
         {{0, 0xF0}, {0, 0xF0}, {1, 0xF0}, {1, 0xF0}},
         {0, 1}},
        {"a sequence ahead is rejected", {{0, 0xF0}, {2, 0xF5}, {1, 0xF0}}, {0, 1}},
        {"an older block is rejected", {{0, 0xF0}, {1, 0xF0}, {2, 0xF0}, {0, 0xF5}}, {0, 1, 2}},
        {"nothing stored yet: 255 is no resend", {{255, 0xF5}, {0, 0xF0}}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto sim = StartSim();
        HostLine line(sim->DevicePath());
        Handshake(line);
        for (const Send& send : c.sends) {
            ASSERT_TRUE(line.Send(Block(send.sequence, 256, send.sequence)));
            EXPECT_EQ(line.ReadExactly(1), Bytes{send.reply}) << int(send.sequence);
        }
        SwitchSimReport report = sim->Report();
        EXPECT_EQ(report.storedSequences, c.stored);
        EXPECT_EQ(report.blockFrames, static_cast<int>(c.sends.size()));
        EXPECT_EQ(report.image.size(), c.stored.size() * 256);
    }
}

TEST(SwitchSimTransfer, SequenceNumbersWrapAfter255)
{
    auto sim = StartSim();
    HostLine line(sim->DevicePath());
    Handshake(line);
    for (int i = 0; i < 258; ++i) {
        ASSERT_TRUE(line.Send(Block(static_cast<std::uint8_t>(i), 256)));
        ASSERT_EQ(line.ReadExactly(1), Bytes{kAck}) << i;
    }
    // 257 after the wrap: a resend of 1 is acked again.
    ASSERT_TRUE(line.Send(Block(1, 256)));
    EXPECT_EQ(line.ReadExactly(1), Bytes{kAck});
    SwitchSimReport report = sim->Report();
    ASSERT_EQ(report.blocksStored, 258);
    EXPECT_EQ(report.storedSequences[255], 255);
    EXPECT_EQ(report.storedSequences[256], 0);
    EXPECT_EQ(report.storedSequences[257], 1);
    EXPECT_EQ(report.image.size(), 258u * 256u);
}

TEST(SwitchSimTransfer, RefusesBlocksBeyondTheFlash)
{
    auto sim = StartSim();
    HostLine line(sim->DevicePath());
    Handshake(line);
    for (int i = 0; i < 512; ++i) {
        ASSERT_TRUE(line.Send(Block(static_cast<std::uint8_t>(i), 256)));
        ASSERT_EQ(line.ReadExactly(1), Bytes{kAck}) << i;
    }
    ASSERT_TRUE(line.Send(Block(0, 1)));
    EXPECT_EQ(line.ReadExactly(1), Bytes{0xF5});
    EXPECT_EQ(sim->Report().image.size(), 131072u);
}

TEST(SwitchSimTransfer, AFrameSplitAcrossManyWritesIsOneFrame)
{
    auto sim = StartSim();
    HostLine line(sim->DevicePath());
    Handshake(line);
    Bytes frame = Block(0, 256, 9);
    frame.push_back(HostLine::Checksum(frame));
    for (std::size_t at = 0; at < frame.size(); at += 100) {
        Bytes piece(frame.begin() + at, frame.begin() + std::min(frame.size(), at + 100));
        ASSERT_TRUE(line.WriteAll(piece));
    }
    EXPECT_EQ(line.ReadExactly(1), Bytes{kAck});
    EXPECT_EQ(sim->Report().blocksStored, 1);
}

TEST(SwitchSimTransfer, ANewHandshakeStartsANewImage)
{
    auto sim = StartSim();
    HostLine line(sim->DevicePath());
    Handshake(line);
    ASSERT_TRUE(line.Send(Block(0, 256, 1)));
    ASSERT_EQ(line.ReadExactly(1), Bytes{kAck});
    ASSERT_TRUE(line.Send({0x05}));
    ASSERT_TRUE(sim->WaitForEndOfImage(kWait));

    // The next run begins with the probe of the port, as the utility does.
    ExpectNothingPendingBeforeProbe(line, SwitchSimConfig{});
    Handshake(line);
    EXPECT_FALSE(sim->Report().endOfImage);
    Bytes second = Block(0, 20, 5);
    ASSERT_TRUE(line.Send(second));
    ASSERT_EQ(line.ReadExactly(1), Bytes{kAck});
    ASSERT_TRUE(line.Send({0x05}));
    ASSERT_TRUE(sim->WaitForEndOfImageCount(2, kWait));
    SwitchSimReport report = sim->Report();
    EXPECT_EQ(report.image, DataOf(second));
    EXPECT_EQ(report.storedSequences, Bytes{0});
}

TEST(SwitchSimFrames, BadFramesGetNoReplyAndAreCounted)
{
    Bytes badBlock = Block(0, 40);
    badBlock.push_back(static_cast<std::uint8_t>(HostLine::Checksum(badBlock) + 1));
    Bytes longBlock = Block(0, 257);
    longBlock.push_back(HostLine::Checksum(longBlock));
    struct Case {
        const char* name;
        Bytes wire;
    };
    const Case cases[] = {
        {"probe with a wrong checksum", {0x01, 0xFE}},
        {"header with a wrong checksum", {0x02, 0x01, 0x00, 0x00}},
        {"block with a wrong checksum", badBlock},
        {"block with more than 256 data bytes", longBlock},
        {"block cut short", {0x03, 0x00}},
        {"unknown command", {0x77, 0x89}},
        {"a lone checksum byte", {0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto sim = StartSim();
        HostLine line(sim->DevicePath());
        Handshake(line);
        ASSERT_TRUE(line.WriteAll(c.wire));
        ASSERT_TRUE(ReportHas(*sim, [](const SwitchSimReport& r) { return r.badFrames == 1; }));
        ExpectNothingPendingBeforeProbe(line, SwitchSimConfig{});
        SwitchSimReport report = sim->Report();
        EXPECT_EQ(report.badFrames, 1);
        EXPECT_EQ(report.blocksStored, 0);
        EXPECT_EQ(report.frames.size(), 5u) << "handshake and the last probe only";
    }
}

TEST(SwitchSimFaults, RejectsABlockAsOftenAsTold)
{
    SwitchSimConfig config;
    config.rejectBlock = 1;
    config.rejectCount = 2;
    config.rejectCode = 0xF7;
    auto sim = StartSim(config);
    HostLine line(sim->DevicePath());
    Handshake(line);
    const std::pair<std::uint8_t, std::uint8_t> exchange[] = {
        {0, 0xF0}, {1, 0xF7}, {1, 0xF7}, {1, 0xF0}, {2, 0xF0}};
    for (auto [sequence, reply] : exchange) {
        ASSERT_TRUE(line.Send(Block(sequence, 256)));
        EXPECT_EQ(line.ReadExactly(1), Bytes{reply}) << int(sequence);
    }
    SwitchSimReport report = sim->Report();
    EXPECT_EQ(report.storedSequences, (Bytes{0, 1, 2}));
    EXPECT_EQ(report.blockFrames, 5);
}

TEST(SwitchSimFaults, FallsSilentFromABlock)
{
    SwitchSimConfig config;
    config.silentFromBlock = 1;
    auto sim = StartSim(config);
    HostLine line(sim->DevicePath());
    Handshake(line);
    ASSERT_TRUE(line.Send(Block(0, 256)));
    ASSERT_EQ(line.ReadExactly(1), Bytes{kAck});
    ASSERT_TRUE(line.Send(Block(1, 256)));
    ASSERT_TRUE(line.Send(Block(1, 256)));
    ASSERT_TRUE(ReportHas(*sim, [](const SwitchSimReport& r) { return r.blockFrames == 3; }));
    ExpectNothingPendingBeforeProbe(line, config);
    EXPECT_EQ(sim->Report().blocksStored, 1);
}

TEST(SwitchSimFaults, AnswersProbesOnlyFromTheNth)
{
    SwitchSimConfig config;
    config.answerProbeFrom = 3;
    auto sim = StartSim(config);
    HostLine line(sim->DevicePath());
    ASSERT_TRUE(line.Send(kProbe));
    ASSERT_TRUE(line.Send(kProbe));
    ASSERT_TRUE(ReportHas(*sim, [](const SwitchSimReport& r) { return r.probes == 2; }));
    ExpectNothingPendingBeforeProbe(line, config);
    EXPECT_EQ(sim->Report().probes, 3);
}

// A switch that answers the probe and then drops out, for good or for a
// while. The ready probe of a handshake in between is not counted.
TEST(SwitchSimFaults, AnswersProbesOnlyInsideTheWindow)
{
    enum Step { Answered, Unanswered, HandshakeStep };
    struct Case {
        const char* name;
        int from;
        int until;
        int againFrom;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"only the first", 1, 1, 0, {Answered, Unanswered, Unanswered, Unanswered}},
        {"a gap of one", 1, 1, 3, {Answered, Unanswered, Answered, Answered}},
        {"from the second to the third", 2, 3, 0, {Unanswered, Answered, Answered, Unanswered}},
        {"the ready probe is not counted", 1, 1, 3, {Answered, HandshakeStep, Unanswered, Answered}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        config.answerProbeFrom = c.from;
        config.answerProbeUntil = c.until;
        config.answerProbeAgainFrom = c.againFrom;
        auto sim = StartSim(config);
        HostLine line(sim->DevicePath());
        const Bytes version = VersionReply(config);
        int frames = 0;
        for (Step step : c.steps) {
            if (step == HandshakeStep) {
                Handshake(line);
                frames += 4;
                continue;
            }
            ASSERT_TRUE(line.Send(kProbe));
            ++frames;
            if (step == Answered) {
                EXPECT_EQ(line.ReadExactly(version.size()), version);
            }
        }
        // The switch answers in order: any reply too many is on the line by now.
        ASSERT_TRUE(sim->WaitForFrames(static_cast<std::size_t>(frames), kWait));
        EXPECT_TRUE(line.ReadUntilSilence(100ms).empty());
    }
}

TEST(SwitchSimFaults, ShapesEveryReply)
{
    struct Case {
        const char* name;
        int replyLength;
        int noiseBytes;
    };
    const Case cases[] = {
        {"padded to 300 bytes", 300, 0},
        {"noise before the reply", 0, 5},
        {"both", 20, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        config.replyLength = c.replyLength;
        config.noiseBytes = c.noiseBytes;
        auto sim = StartSim(config);
        HostLine line(sim->DevicePath());

        auto shaped = [&](const Bytes& reply) {
            Bytes out(static_cast<std::size_t>(c.noiseBytes), 0x55);
            out.insert(out.end(), reply.begin(), reply.end());
            if (c.replyLength > 0 && reply.size() < static_cast<std::size_t>(c.replyLength))
                out.resize(out.size() + c.replyLength - reply.size(), 0x00);
            return out;
        };
        ASSERT_TRUE(line.Send(kProbe));
        Bytes version = shaped(VersionReply(config));
        EXPECT_EQ(line.ReadExactly(version.size()), version);

        // The acks of the handshake are shaped too.
        ASSERT_TRUE(line.Send(kModelHeader));
        ASSERT_TRUE(line.Send(kFamilyHeader));
        ASSERT_TRUE(line.Send(kProbe));
        Bytes ack = shaped({kAck});
        EXPECT_EQ(line.ReadExactly(ack.size()), ack);
    }
}

TEST(SwitchSimFaults, HandshakeWithoutReadyReplyOrGoAhead)
{
    struct Case {
        const char* name;
        bool noReadyReply;
        bool noGoAhead;
    };
    const Case cases[] = {
        {"no ready reply", true, false},
        {"no go-ahead", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        config.noReadyReply = c.noReadyReply;
        config.noGoAhead = c.noGoAhead;
        auto sim = StartSim(config);
        HostLine line(sim->DevicePath());
        ASSERT_TRUE(line.Send(kModelHeader));
        ASSERT_TRUE(line.Send(kFamilyHeader));
        ASSERT_TRUE(line.Send(kProbe));
        ASSERT_TRUE(line.Send(kProbe));
        ASSERT_TRUE(line.Send(kModelHeader));
        ASSERT_TRUE(sim->WaitForFrames(5, kWait));
        // After the handshake a probe is a probe again.
        Bytes expected = c.noReadyReply ? Bytes{kAck} : Bytes{kAck, kAck};
        Bytes version = VersionReply(config);
        ASSERT_TRUE(line.Send(kProbe));
        expected.insert(expected.end(), version.begin(), version.end());
        EXPECT_EQ(line.ReadExactly(expected.size()), expected);
    }
}

TEST(SwitchSimFaults, ASilentSwitchSendsNothing)
{
    SwitchSimConfig config;
    config.silent = true;
    auto sim = StartSim(config);
    HostLine line(sim->DevicePath());
    ASSERT_TRUE(line.Send(kProbe));
    ASSERT_TRUE(sim->WaitForFrames(1, kWait));
    EXPECT_TRUE(line.ReadExactly(1, 300ms).empty());
    EXPECT_EQ(sim->Report().probes, 1);
}

TEST(SwitchSimFaults, HangsUpAfterTheBlock)
{
    SwitchSimConfig config;
    config.hangupAfterBlock = 1;
    auto sim = StartSim(config);
    std::string path = sim->DevicePath();
    HostLine line(path);
    Handshake(line);
    ASSERT_TRUE(line.Send(Block(0, 256)));
    ASSERT_EQ(line.ReadExactly(1), Bytes{kAck});
    ASSERT_TRUE(line.Send(Block(1, 256)));
    ASSERT_TRUE(ReportHas(*sim, [](const SwitchSimReport& r) { return r.hungUp; }));

    pollfd p{line.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    std::uint8_t byte = 0;
    EXPECT_LE(::read(line.Fd(), &byte, 1), 0) << "no ack after the block that hangs up";
    struct stat st {};
    EXPECT_NE(::stat(path.c_str(), &st), 0) << "the device is gone";
    EXPECT_EQ(sim->Report().blocksStored, 2);
}

TEST(SwitchSimTiming, LineTimingTakesTheWireTime)
{
    struct Case {
        const char* name;
        std::chrono::microseconds flashWriteDelay;
    };
    const Case cases[] = {{"line only", 0us}, {"with flash write", 30000us}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        config.lineTiming = true;
        config.flashWriteDelay = c.flashWriteDelay;
        auto sim = StartSim(config);
        HostLine line(sim->DevicePath());
        Handshake(line);

        auto start = Clock::now();
        ASSERT_TRUE(line.Send(Block(0, 256)));
        ASSERT_EQ(line.ReadExactly(1), Bytes{kAck});
        // 259 bytes to the switch and one back, at the least.
        EXPECT_GE(Clock::now() - start, 260 * kByteTime + c.flashWriteDelay);
    }

    // A reply of 300 bytes is paced too: the probe's two bytes there and 300
    // back take 302 byte times at the least.
    SwitchSimConfig config;
    config.lineTiming = true;
    config.replyLength = 300;
    auto sim = StartSim(config);
    HostLine line(sim->DevicePath());
    auto start = Clock::now();
    ASSERT_TRUE(line.Send(kProbe));
    ASSERT_EQ(line.ReadExactly(300).size(), 300u);
    EXPECT_GE(Clock::now() - start, 302 * kByteTime);
}

TEST(SwitchSimTiming, TheGoAheadWaitsForTheFlashErase)
{
    SwitchSimConfig config;
    config.goAheadDelay = 60ms;
    auto sim = StartSim(config);
    HostLine line(sim->DevicePath());
    ASSERT_TRUE(line.Send(kModelHeader));
    ASSERT_TRUE(line.Send(kFamilyHeader));
    ASSERT_TRUE(line.Send(kProbe));
    ASSERT_EQ(line.ReadExactly(1), Bytes{kAck});
    auto start = Clock::now();
    ASSERT_TRUE(line.Send(kModelHeader));
    ASSERT_EQ(line.ReadExactly(1), Bytes{kAck});
    EXPECT_GE(Clock::now() - start, 60ms);
}

TEST(SwitchSimFaults, ABabblingSwitchNeverFallsSilent)
{
    SwitchSimConfig config;
    config.babble = true;
    auto sim = StartSim(config);
    HostLine line(sim->DevicePath());
    ASSERT_TRUE(line.Send(kProbe));
    ASSERT_TRUE(ReportHas(*sim, [](const SwitchSimReport& r) { return r.probes == 1; }));

    // Collect for a while; no gap of 20 ms may show, and the version reply is
    // in there, whole, among the noise.
    Bytes seen;
    auto until = Clock::now() + 200ms;
    while (Clock::now() < until) {
        Bytes got = line.ReadExactly(64, 20ms);
        ASSERT_FALSE(got.empty()) << "a silence of 20 ms after " << seen.size() << " bytes";
        seen.insert(seen.end(), got.begin(), got.end());
    }
    Bytes version = VersionReply(config);
    EXPECT_NE(std::search(seen.begin(), seen.end(), version.begin(), version.end()), seen.end());
}

TEST(SwitchSimFaults, BabblesForGoodOnceTheGoAheadIsOut)
{
    struct Case {
        const char* name;
        std::uint8_t byte;
        bool lineTiming;
    };
    const Case cases[] = {
        {"a stray go-ahead code", kAck, false},
        {"noise at the line's rate", 0x55, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        config.babbleAfterGoAhead = c.byte;
        config.lineTiming = c.lineTiming;
        auto sim = StartSim(config);
        HostLine line(sim->DevicePath());
        ASSERT_TRUE(line.Send(kModelHeader));
        ASSERT_TRUE(line.Send(kFamilyHeader));
        ASSERT_TRUE(line.Send(kProbe));
        ASSERT_EQ(line.ReadExactly(1), Bytes{kAck}) << "ready probe, no babble before the go-ahead";
        EXPECT_FALSE(sim->Report().babbling);

        const auto start = Clock::now();
        ASSERT_TRUE(line.Send(kModelHeader));
        ASSERT_EQ(line.ReadExactly(1), Bytes{kAck}) << "go-ahead";
        // A block is still acknowledged: its F0 goes out whole amid the babble.
        const bool ackVisible = c.byte != kAck;
        if (ackVisible) {
            ASSERT_TRUE(line.Send(Block(0, 256)));
        }
        Bytes seen;
        while (Clock::now() - start < 200ms) {
            Bytes got = line.ReadExactly(64, 20ms);
            ASSERT_FALSE(got.empty()) << "a silence of 20 ms after " << seen.size() << " bytes";
            seen.insert(seen.end(), got.begin(), got.end());
        }
        const auto elapsed = Clock::now() - start;
        const auto babbled = std::count(seen.begin(), seen.end(), c.byte);
        EXPECT_EQ(static_cast<std::size_t>(babbled) + (ackVisible ? 1 : 0), seen.size());
        if (ackVisible) {
            EXPECT_EQ(std::count(seen.begin(), seen.end(), kAck), 1);
            EXPECT_EQ(sim->Report().blocksStored, 1);
        }
        if (c.lineTiming) {
            // The go-ahead and each byte after it take a byte time on the line.
            EXPECT_LE(seen.size() + 1, static_cast<std::size_t>(elapsed / kByteTime) + 1);
        }
        EXPECT_TRUE(sim->Report().babbling);
    }
}

TEST(SwitchSimFaults, HangsUpOnceTheLastAckIsRead)
{
    struct Case {
        const char* name;
        std::vector<std::size_t> blocks; // data bytes of each block sent
        bool hangsUp;                    // after the last block's ack
        std::chrono::milliseconds adapterHold{0};
    };
    const Case cases[] = {
        {"short last block", {256, 256, 10}, true},
        {"the same through an adapter that holds the ack", {256, 10}, true, 20ms},
        {"one short block", {1}, true},
        {"full blocks only: no block is known to be the last", {256, 256}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        config.hangUpAfterLastAck = true;
        config.adapterHold = c.adapterHold;
        auto sim = StartSim(config);
        HostLine line(sim->DevicePath());
        Handshake(line);
        for (std::size_t i = 0; i < c.blocks.size(); ++i) {
            ASSERT_TRUE(line.Send(Block(static_cast<std::uint8_t>(i), c.blocks[i])));
            ASSERT_EQ(line.ReadExactly(1), Bytes{kAck}) << "block " << i << ": the ack reaches the host";
        }
        EXPECT_EQ(sim->Report().blocksStored, static_cast<int>(c.blocks.size()));
        if (!c.hangsUp) {
            ExpectNothingPendingBeforeProbe(line, config);
            EXPECT_FALSE(sim->Report().hungUp);
            continue;
        }
        ASSERT_TRUE(ReportHas(*sim, [](const SwitchSimReport& r) { return r.hungUp; }));
        const std::uint8_t endOfImage[] = {0x05, 0xFB};
        errno = 0;
        EXPECT_EQ(::write(line.Fd(), endOfImage, sizeof endOfImage), -1);
        EXPECT_EQ(errno, EIO) << "the host's next write finds the line gone";
    }
}

TEST(SwitchSimLink, MakesReplacesAndRemovesTheLink)
{
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("sim-link-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::path link = dir / "ttyKVM";
    fs::create_symlink("/nonexistent", link); // a stale link from an earlier run

    SwitchSimConfig config;
    config.linkPath = link.string();
    {
        auto sim = StartSim(config);
        EXPECT_EQ(fs::read_symlink(link).string(), sim->DevicePath());
        HostLine line(link.string());
        ASSERT_TRUE(line.Send(kProbe));
        EXPECT_EQ(line.ReadExactly(1), Bytes{0xF2});
        sim->Stop();
        EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
    }

    // A regular file is never replaced.
    { std::ofstream(link.string()) << "keep"; }
    SwitchSim sim(config);
    std::string error;
    EXPECT_FALSE(sim.Start(&error));
    EXPECT_NE(error.find(link.string()), std::string::npos) << error;
    EXPECT_TRUE(fs::is_regular_file(link));
    fs::remove_all(dir);
}

} // namespace

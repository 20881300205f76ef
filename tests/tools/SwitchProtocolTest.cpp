// The switch's protocol without a line: every moment is made up by the test,
// so silences of seconds cost nothing and nothing here waits.
#include "tools/SwitchProtocol.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "firmware/Crc16.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = SwitchProtocol::Clock;

const Clock::time_point kStart = Clock::time_point{} + 1000s;

const Bytes kProbe = {0x01};
const Bytes kModelHeader = {0x02, 0x01, 0x00};
const Bytes kFamilyHeader = {0x02, 0x02, 0x00};
const Bytes kEndOfImage = {0x05};
const Bytes kVersion = {0xF2, 0x00, 0x00, 7, 12, 25, 'P', 'Z', 'N', '4', '4', '2', 0x00};

Bytes Wire(Bytes payload)
{
    unsigned sum = 0;
    for (std::uint8_t b : payload)
        sum += b;
    payload.push_back(static_cast<std::uint8_t>(-sum));
    return payload;
}

Bytes Block(std::uint8_t sequence, std::size_t length = 256)
{
    Bytes payload = {0x03, sequence};
    for (std::size_t i = 0; i < length; ++i)
        payload.push_back(static_cast<std::uint8_t>(sequence + i * 7));
    return payload;
}

Bytes Concatenated(const std::vector<SwitchProtocol::Reply>& replies)
{
    Bytes out;
    for (const auto& reply : replies)
        out.insert(out.end(), reply.bytes.begin(), reply.bytes.end());
    return out;
}

// A host that writes whole frames and leaves a silence after each.
class Host {
public:
    explicit Host(const SwitchSimConfig& config = {}) : m_protocol(config) {}

    // The frame goes in at the current moment; then `silence` passes.
    SwitchProtocol::Output Send(const Bytes& payload, Clock::duration silence = 50ms)
    {
        const Bytes wire = Wire(payload);
        m_sentAt = m_now;
        m_protocol.Receive(wire.data(), wire.size(), m_now);
        m_now += silence;
        m_protocol.Tick(m_now);
        return m_protocol.TakeOutput();
    }
    Bytes Answer(const Bytes& payload) { return Concatenated(Send(payload).replies); }
    void Handshake()
    {
        Send(kModelHeader);
        Send(kFamilyHeader);
        EXPECT_EQ(Answer(kProbe), Bytes{0xF0}) << "ready probe";
        EXPECT_EQ(Answer(kModelHeader), Bytes{0xF0}) << "go-ahead";
    }

    Clock::time_point SentAt() const { return m_sentAt; }
    SwitchProtocol& Protocol() { return m_protocol; }
    const SwitchSimReport& Report() const { return m_protocol.Report(); }

private:
    SwitchProtocol m_protocol;
    Clock::time_point m_now = kStart;
    Clock::time_point m_sentAt = kStart;
};

TEST(SwitchProtocolProbe, AnswersAsConfigured)
{
    Bytes padded = kVersion;
    padded.resize(20, 0x00);
    Bytes noisy = {0x55, 0x55};
    noisy.insert(noisy.end(), kVersion.begin(), kVersion.end());
    const struct {
        const char* name;
        std::function<void(SwitchSimConfig&)> set;
        Bytes reply;
    } cases[] = {
        {"the version reply", [](SwitchSimConfig&) {}, kVersion},
        {"another code and no model", [](SwitchSimConfig& c) { c.probeReply = 0xFA; c.model.clear(); },
         {0xFA, 0x00, 0x00, 7, 12, 25, 0x00}},
        {"padded", [](SwitchSimConfig& c) { c.replyLength = 20; }, padded},
        {"noise first", [](SwitchSimConfig& c) { c.noiseBytes = 2; }, noisy},
        {"silent", [](SwitchSimConfig& c) { c.silent = true; }, {}},
        {"answered from the second probe only", [](SwitchSimConfig& c) { c.answerProbeFrom = 2; }, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        c.set(config);
        Host host(config);
        const SwitchProtocol::Output output = host.Send(kProbe);
        EXPECT_EQ(Concatenated(output.replies), c.reply);
        if (!output.replies.empty()) {
            EXPECT_EQ(output.replies[0].due, host.SentAt()) << "at once";
        }
        EXPECT_EQ(host.Report().probes, 1);
        EXPECT_EQ(host.Report().frames, std::vector<Bytes>{kProbe});
    }
}

TEST(SwitchProtocolHandshake, GivesTheGoAheadAfterTheSecondModelHeader)
{
    const struct {
        const char* name;
        std::function<void(SwitchSimConfig&)> set;
        Bytes readyReply;
        std::optional<Clock::duration> goAheadAfter; // none: no go-ahead
        bool babble;
    } cases[] = {
        {"as the switch does", [](SwitchSimConfig&) {}, {0xF0}, 2ms, false},
        {"slow erase", [](SwitchSimConfig& c) { c.goAheadDelay = 60ms; }, {0xF0}, 62ms, false},
        {"no ready reply", [](SwitchSimConfig& c) { c.noReadyReply = true; }, {}, 2ms, false},
        {"no go-ahead", [](SwitchSimConfig& c) { c.noGoAhead = true; }, {0xF0}, std::nullopt, false},
        {"babbles once the go-ahead is out", [](SwitchSimConfig& c) { c.babbleAfterGoAhead = 0x55; },
         {0xF0}, 2ms, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        c.set(config);
        Host host(config);
        EXPECT_TRUE(host.Send(kModelHeader).replies.empty());
        EXPECT_TRUE(host.Send(kFamilyHeader).replies.empty());
        EXPECT_EQ(host.Answer(kProbe), c.readyReply);
        const SwitchProtocol::Output goAhead = host.Send(kModelHeader);
        EXPECT_EQ(goAhead.babbleOnceWritten, c.babble);
        if (!c.goAheadAfter) {
            EXPECT_TRUE(goAhead.replies.empty());
            continue;
        }
        ASSERT_EQ(goAhead.replies.size(), 1u);
        EXPECT_EQ(goAhead.replies[0].bytes, Bytes{0xF0});
        EXPECT_EQ(goAhead.replies[0].due, host.SentAt() + *c.goAheadAfter);
        // After the handshake a probe is a probe again.
        EXPECT_EQ(host.Answer(kProbe), kVersion);
    }
}

// A host that went away half-way: its handshake is forgotten after 5 s of
// silence, so that the next run's probe is a probe again.
TEST(SwitchProtocolHandshake, AHalfHandshakeIsForgottenAfterFiveSeconds)
{
    const struct {
        Clock::duration silence;
        Bytes probeReply;
    } cases[] = {
        {4900ms, {0xF0}},
        {5100ms, kVersion},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::chrono::duration_cast<std::chrono::milliseconds>(c.silence).count());
        Host host;
        host.Send(kModelHeader);
        host.Send(kFamilyHeader, c.silence);
        EXPECT_EQ(host.Answer(kProbe), c.probeReply);
    }
}

TEST(SwitchProtocolBlocks, AcksRejectsAndResends)
{
    struct Exchange {
        std::uint8_t sequence;
        Bytes reply;
    };
    const struct {
        const char* name;
        std::function<void(SwitchSimConfig&)> set;
        std::vector<Exchange> exchanges;
        Bytes stored;
    } cases[] = {
        {"in order", [](SwitchSimConfig&) {}, {{0, {0xF0}}, {1, {0xF0}}}, {0, 1}},
        {"a resend is acked, stored once", [](SwitchSimConfig&) {}, {{0, {0xF0}}, {0, {0xF0}}}, {0}},
        {"a sequence ahead is rejected", [](SwitchSimConfig&) {}, {{0, {0xF0}}, {2, {0xF5}}}, {0}},
        {"nothing stored: 255 is no resend", [](SwitchSimConfig&) {}, {{255, {0xF5}}}, {}},
        {"rejected as often as told",
         [](SwitchSimConfig& c) { c.rejectBlock = 1; c.rejectCount = 2; c.rejectCode = 0xF7; },
         {{0, {0xF0}}, {1, {0xF7}}, {1, {0xF7}}, {1, {0xF0}}},
         {0, 1}},
        {"silent from a block", [](SwitchSimConfig& c) { c.silentFromBlock = 1; },
         {{0, {0xF0}}, {1, {}}, {1, {}}},
         {0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        c.set(config);
        Host host(config);
        host.Handshake();
        for (const Exchange& exchange : c.exchanges) {
            const SwitchProtocol::Output output = host.Send(Block(exchange.sequence));
            EXPECT_EQ(Concatenated(output.replies), exchange.reply) << int(exchange.sequence);
            if (!output.replies.empty()) {
                EXPECT_EQ(output.replies[0].due, host.SentAt());
            }
        }
        EXPECT_EQ(host.Report().storedSequences, c.stored);
        EXPECT_EQ(host.Report().blockFrames, static_cast<int>(c.exchanges.size()));
        EXPECT_EQ(host.Report().image.size(), c.stored.size() * 256);
    }
}

TEST(SwitchProtocolBlocks, TheEndOfImageSealsTheImage)
{
    Host host;
    host.Handshake();
    EXPECT_EQ(host.Answer(Block(0)), Bytes{0xF0});
    EXPECT_EQ(host.Answer(Block(1, 10)), Bytes{0xF0});
    EXPECT_TRUE(host.Send(kEndOfImage).replies.empty());
    const SwitchSimReport& report = host.Report();
    const Bytes first = Block(0);
    const Bytes last = Block(1, 10);
    Bytes image(first.begin() + 2, first.end());
    image.insert(image.end(), last.begin() + 2, last.end());
    EXPECT_EQ(report.image, image);
    EXPECT_TRUE(report.endOfImage);
    EXPECT_EQ(report.endOfImageCount, 1);
    EXPECT_EQ(report.imageCrc, Crc16(image.data(), static_cast<std::uint32_t>(image.size())));
}

// A frame ends by its length, or by the silence after it: 5 ms for a block
// whose sum is 0 and for a frame already known bad, 20 ms for one that is
// still short of its length.
TEST(SwitchProtocolFrames, EndByLengthOrBySilence)
{
    Bytes badBlock = Wire(Block(0, 40));
    badBlock.back() += 1;
    const struct {
        const char* name;
        Bytes wire;
        std::optional<Clock::duration> silence; // none: ends with its last byte
        bool good;
    } cases[] = {
        {"probe", Wire(kProbe), std::nullopt, true},
        {"full block", Wire(Block(0)), std::nullopt, true},
        {"short block", Wire(Block(0, 10)), 5ms, true},
        {"probe with a wrong checksum", {0x01, 0xFE}, 5ms, false},
        {"block with a wrong checksum", badBlock, 20ms, false},
        {"unknown command", {0x77, 0x89}, 5ms, false},
        {"header cut short", {0x02, 0x01}, 20ms, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchProtocol protocol;
        protocol.Receive(c.wire.data(), c.wire.size(), kStart);
        const std::size_t goodFrames = c.good ? 1 : 0;
        if (!c.silence) {
            EXPECT_EQ(protocol.Deadline(), Clock::time_point::max());
            EXPECT_EQ(protocol.Report().frames.size(), goodFrames);
            continue;
        }
        EXPECT_EQ(protocol.Deadline(), kStart + *c.silence);
        EXPECT_FALSE(protocol.Tick(kStart + *c.silence - 1us));
        EXPECT_TRUE(protocol.Report().frames.empty());
        EXPECT_TRUE(protocol.Tick(kStart + *c.silence));
        EXPECT_EQ(protocol.Report().frames.size(), goodFrames);
        EXPECT_EQ(protocol.Report().badFrames, c.good ? 0 : 1);
        EXPECT_EQ(protocol.Deadline(), Clock::time_point::max());
        if (!c.good) {
            EXPECT_TRUE(protocol.TakeOutput().replies.empty()) << "no reply to a bad frame";
        }
    }
}

TEST(SwitchProtocolFaults, AsksTheLineToHangUp)
{
    const struct {
        const char* name;
        std::function<void(SwitchSimConfig&)> set;
        std::size_t blockLength;
        Bytes reply;
        bool hangUpNow;
        bool hangUpOnceRead;
    } cases[] = {
        {"after the block, without its ack", [](SwitchSimConfig& c) { c.hangupAfterBlock = 0; }, 256,
         {}, true, false},
        {"once the last block's ack is read", [](SwitchSimConfig& c) { c.hangUpAfterLastAck = true; },
         10, {0xF0}, false, true},
        {"a full block is not known to be the last",
         [](SwitchSimConfig& c) { c.hangUpAfterLastAck = true; }, 256, {0xF0}, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        c.set(config);
        Host host(config);
        host.Handshake();
        const SwitchProtocol::Output output = host.Send(Block(0, c.blockLength));
        EXPECT_EQ(Concatenated(output.replies), c.reply);
        EXPECT_EQ(output.hangUpNow, c.hangUpNow);
        EXPECT_EQ(output.hangUpOnceRead, c.hangUpOnceRead);
        EXPECT_EQ(host.Report().blocksStored, 1);
    }
}

// Under line timing each byte the host writes takes a byte time to arrive:
// a full block's ack is due once its 259 bytes have crossed the line, and
// after the flash write.
TEST(SwitchProtocolTiming, RepliesAreDueAfterTheFrameHasArrived)
{
    const struct {
        const char* name;
        std::chrono::microseconds flashWriteDelay;
    } cases[] = {{"line only", 0us}, {"with flash write", 30000us}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SwitchSimConfig config;
        config.lineTiming = true;
        config.flashWriteDelay = c.flashWriteDelay;
        Host host(config);
        host.Handshake();
        const SwitchProtocol::Output output = host.Send(Block(0));
        ASSERT_EQ(output.replies.size(), 1u);
        EXPECT_EQ(output.replies[0].due,
                  host.SentAt() + 259 * SwitchProtocol::kByteTime + c.flashWriteDelay);
    }
}

} // namespace

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <thread>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "PtyFarEnd.h"
#include "serial/CSerialPort.h"
#include "serial/FrameExchange.h"
#include "serial/PortTable.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

class FrameExchangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_table.Map("COM1", m_far.DevicePath());
        ASSERT_EQ(m_port.Open("COM1", 115200, 1000), 1) << m_port.LastOpenError().Describe();
    }

    void Send(const Bytes& payload)
    {
        ASSERT_EQ(SendFrame(&m_port, payload.data(), static_cast<int>(payload.size())), 1);
    }

    PtyFarEnd m_far;
    PortTable m_table;
    CSerialPort m_port{&m_table};
    std::uint8_t m_reply[kReplyBufferSize] = {};
};

TEST_F(FrameExchangeTest, FrameIsPayloadThenChecksum)
{
    struct Case {
        Bytes payload;
        Bytes wire;
    };
    const Case cases[] = {
        {{0x01}, {0x01, 0xFF}},
        {{0x02, 0x01, 0x00}, {0x02, 0x01, 0x00, 0xFD}},
        {{0x05}, {0x05, 0xFB}},
        {{0x80, 0x80}, {0x80, 0x80, 0x00}},  // sum wraps to 0
        {{0x03, 0x07, 0xFF, 0xFF}, {0x03, 0x07, 0xFF, 0xFF, 0xF8}},
        {{}, {0x00}},                          // no payload: only the checksum 0
    };
    for (const Case& c : cases) {
        Send(c.payload);
        EXPECT_EQ(m_far.Receive(c.wire.size(), 2s), c.wire);
    }

    Bytes block = {0x03, 0x00};
    for (int i = 0; i < 256; ++i)
        block.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    Send(block);
    const Bytes wire = m_far.Receive(block.size() + 1, 2s);
    ASSERT_EQ(wire.size(), block.size() + 1);
    std::uint8_t sum = 0;
    for (std::uint8_t b : wire)
        sum = static_cast<std::uint8_t>(sum + b);
    EXPECT_EQ(sum, 0) << "the frame's 8-bit sum is 0";
    EXPECT_TRUE(std::equal(block.begin(), block.end(), wire.begin()));
}

TEST_F(FrameExchangeTest, StaleInputIsDrainedAndKeptOutOfTheReply)
{
    m_far.Send({0xF2, 0x55, 0x00, 0xAA});
    ASSERT_TRUE(m_far.WaitQueuedAtHost(4, 2s));

    Send({0x01});
    EXPECT_EQ(m_far.QueuedAtHost(), 0u);
    EXPECT_EQ(m_far.Receive(2, 2s), (Bytes{0x01, 0xFF})) << "stale bytes never reach the checksum";

    m_far.Send({0xF0});
    EXPECT_EQ(ReceiveReply(&m_port, m_reply, 100), 1);
    EXPECT_EQ(m_reply[0], 0xF0);
}

TEST_F(FrameExchangeTest, SilenceGivesNoReplyMarker)
{
    Send({0x01});
    m_reply[0] = 0x00;
    const auto start = Clock::now();
    EXPECT_EQ(ReceiveReply(&m_port, m_reply, 100), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(m_reply[0], kNoReplyMarker);
    EXPECT_GE(elapsed, 195ms) << "the first byte is awaited for twice the wait";
    EXPECT_LT(elapsed, 1s);
}

TEST_F(FrameExchangeTest, OneByteReply)
{
    Send({0x01});
    m_far.Send({0xFA});
    const auto start = Clock::now();
    EXPECT_EQ(ReceiveReply(&m_port, m_reply, 100), 1);
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(m_reply[0], 0xFA);
}

TEST_F(FrameExchangeTest, LongReplyIsCutAndReadOnToItsEnd)
{
    Bytes reply(300);
    for (std::size_t i = 0; i < reply.size(); ++i)
        reply[i] = static_cast<std::uint8_t>(0xF3 + i);
    Send({0x01});
    m_far.Send(reply);
    ASSERT_TRUE(m_far.WaitQueuedAtHost(300, 2s));

    ASSERT_EQ(ReceiveReply(&m_port, m_reply, 100), kReplyBufferSize);
    EXPECT_TRUE(std::equal(m_reply, m_reply + kReplyBufferSize, reply.begin()));
    EXPECT_EQ(m_far.QueuedAtHost(), 0u) << "the tail is no reply to the next frame";

    m_far.Receive(2, 2s);
    Send({0x01});
    EXPECT_EQ(m_far.Receive(2, 2s), (Bytes{0x01, 0xFF}));
    m_far.Send({0xF2});
    EXPECT_EQ(ReceiveReply(&m_port, m_reply, 100), 1);
    EXPECT_EQ(m_reply[0], 0xF2);
}

TEST_F(FrameExchangeTest, ReplyEndsAtAGapNotBetweenCloseBytes)
{
    constexpr int kFirst = 10;
    std::vector<Clock::duration> gaps;
    std::thread farEnd([&] {
        // Sleeping here makes the gaps on the line; it synchronises nothing.
        auto last = Clock::now();
        for (int i = 0; i < kFirst; ++i) {
            if (i > 0)
                std::this_thread::sleep_for(5ms);
            const auto now = Clock::now();
            if (i > 0)
                gaps.push_back(now - last);
            last = now;
            m_far.Send({static_cast<std::uint8_t>(0xF2 + i)});
        }
        std::this_thread::sleep_for(40ms);
        m_far.Send({0x01, 0x02, 0x03});
    });
    const int first = ReceiveReply(&m_port, m_reply, 100);
    farEnd.join();
    for (const auto gap : gaps) {
        if (gap > 15ms)
            GTEST_SKIP() << "machine too loaded to keep 5 ms gaps";
    }
    EXPECT_EQ(first, kFirst) << "5 ms gaps keep a reply going, 40 ms end it";
    EXPECT_EQ(m_reply[0], 0xF2);
    EXPECT_EQ(m_reply[kFirst - 1], 0xF2 + kFirst - 1);
    EXPECT_EQ(ReceiveReply(&m_port, m_reply, 100), 3) << "the late bytes make a reply of their own";
    EXPECT_EQ(m_reply[0], 0x01);
}

TEST(SendFrame, ReturnsOneOnlyWhenTheFrameWentOutWhole)
{
    enum class Line { Quiet, NeverSilent, HungUp, Closed, NoPort };
    struct Case {
        const char* name;
        Line line;
        int result;
        bool frameOnWire;
    };
    const Case cases[] = {
        {"quiet line", Line::Quiet, 1, true},
        // Sending anyway would let the babble's next byte pass for the reply.
        {"far end never falls silent", Line::NeverSilent, 0, false},
        {"hung-up line", Line::HungUp, 0, false},
        {"closed port", Line::Closed, 0, false},
        {"no port", Line::NoPort, 0, false},
    };
    const Bytes payload = {0x03, 0x00, 0x11, 0x22};
    const Bytes wire = {0x03, 0x00, 0x11, 0x22, 0xCA};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PtyFarEnd far;
        PortTable table;
        table.Map("COM1", far.DevicePath());
        CSerialPort port(&table);
        ASSERT_EQ(port.Open("COM1", 115200, 1000), 1) << port.LastOpenError().Describe();

        // Keeps the host's input queue full until stopped: the line never
        // falls silent, whatever the drain does.
        std::jthread babbler;
        if (c.line == Line::NeverSilent) {
            babbler = std::jthread([master = far.Master()](std::stop_token stop) {
                const std::uint8_t noise[64] = {0xF0};
                while (!stop.stop_requested()) {
                    if (::write(master, noise, sizeof noise) < 0) {
                        pollfd p{master, POLLOUT, 0};
                        ::poll(&p, 1, 10); // wakes to look at the stop request
                    }
                }
            });
            ASSERT_TRUE(far.WaitQueuedAtHost(1, 2s));
        }
        if (c.line == Line::HungUp)
            far.CloseMaster();
        if (c.line == Line::Closed)
            port.Close();

        CSerialPort* target = c.line == Line::NoPort ? nullptr : &port;
        const auto start = Clock::now();
        EXPECT_EQ(SendFrame(target, payload.data(), static_cast<int>(payload.size())), c.result);
        EXPECT_LT(Clock::now() - start, 2s) << "the drain is bounded";
        babbler = std::jthread(); // stops and joins the babble

        if (c.line == Line::HungUp)
            continue; // no far end left to look at
        if (c.frameOnWire)
            EXPECT_EQ(far.Receive(wire.size(), 2s), wire);
        else
            EXPECT_TRUE(far.Receive(1, 200ms).empty()) << "not a byte of the frame went out";
    }
}

TEST_F(FrameExchangeTest, ClosedPortReceivesNoReply)
{
    m_port.Close();
    const auto start = Clock::now();
    m_reply[0] = 0x00;
    EXPECT_EQ(ReceiveReply(&m_port, m_reply, 100), 0);
    EXPECT_LT(Clock::now() - start, 100ms);
    EXPECT_EQ(m_reply[0], kNoReplyMarker);
}

TEST_F(FrameExchangeTest, HangUpEndsTheExchangeAtOnce)
{
    m_far.CloseMaster();
    const auto start = Clock::now();
    SendFrame(&m_port, Bytes{0x01}.data(), 1);
    EXPECT_EQ(ReceiveReply(&m_port, m_reply, 1200), 0);
    EXPECT_LT(Clock::now() - start, 500ms) << "no waiting on a line that has gone";
    EXPECT_EQ(m_reply[0], kNoReplyMarker);
}

TEST(ProbeAck, AcceptSet)
{
    struct Case {
        std::uint8_t code;
        bool accepted;
    };
    const Case cases[] = {
        {0xF2, true},  {0xFA, true},  {0xF3, true},  {0x00, false}, {0xF0, false},
        {0xF1, false}, {0xF4, false}, {0x01, false}, {0xFF, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsProbeAck(c.code), c.accepted) << int(c.code);

    const std::uint8_t goAhead[] = {0xF0, 0x00, 0xF2};
    EXPECT_TRUE(IsProbeAck(0xF0, goAhead));
    EXPECT_FALSE(IsProbeAck(0xF2, goAhead)) << "nothing past the terminator belongs to the set";
}

} // namespace

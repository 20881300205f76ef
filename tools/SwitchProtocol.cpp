#include "tools/SwitchProtocol.h"

#include <algorithm>
#include <utility>

#include "firmware/Crc16.h"
#include "firmware/FirmwareInfo.h"

namespace {

using namespace std::chrono_literals;

// The line carries no frame length, so the end of a frame is found the way the
// switch's firmware finds it: by the command byte and the silence after it.
// A full block (256 data bytes) ends by its length and needs no silence at
// all; a shorter block ends at a silence once its sum is 0. That silence is a
// few milliseconds rather than one, since the host writes the checksum in a
// second write: a payload whose own sum happens to be 0 must not be taken for
// a whole frame while its checksum byte 00 is still on the way.
constexpr auto kBlockEndGap = 5ms;
// Garbage and frames with a wrong checksum are dropped at this silence.
constexpr auto kBadFrameGap = 5ms;
// A frame still short of its length (or a block whose sum is not 0 yet) may
// be waiting for the host's second write; give up on it only after this.
constexpr auto kIncompleteGap = 20ms;
// The switch needs a moment after the second model header before it answers.
constexpr auto kGoAheadDelay = 2ms;
// A handshake left half-way (the host went away) is forgotten after this
// silence, so that the next run's probes are answered as probes again. Longer
// than the host's longest wait between two frames of the handshake (2.4 s).
constexpr auto kHandshakeExpiry = 5s;

constexpr std::uint8_t kProbe = 0x01;
constexpr std::uint8_t kHeader = 0x02;
constexpr std::uint8_t kBlock = 0x03;
constexpr std::uint8_t kEndOfImage = 0x05;
constexpr std::uint8_t kAck = 0xF0;
constexpr std::uint8_t kRejected = 0xF5;

constexpr std::size_t kMaxBlockData = 256;
constexpr std::size_t kFullBlockFrame = 2 + kMaxBlockData + 1; // command, sequence, data, checksum
// The switch's flash: blocks beyond it are refused, not stored.
constexpr std::size_t kFlashSize = 131072;

// Bytes on the wire, checksum included, of the commands with a fixed length;
// 0 for a data block (its length is found by silence), -1 for anything else.
int FixedWireLength(std::uint8_t command)
{
    switch (command) {
    case kProbe:
    case kEndOfImage:
        return 2;
    case kHeader:
        return 4;
    case kBlock:
        return 0;
    default:
        return -1;
    }
}

} // namespace

SwitchProtocol::SwitchProtocol(SwitchSimConfig config) : m_config(std::move(config)), m_model(m_config.model)
{
    std::copy(std::begin(m_config.date), std::end(m_config.date), std::begin(m_date));
}

void SwitchProtocol::Receive(const std::uint8_t* data, std::size_t length, Clock::time_point now)
{
    m_report.rawReceived.insert(m_report.rawReceived.end(), data, data + length);

    for (std::size_t i = 0; i < length && !m_output.hangUpNow; ++i) {
        // All the host's bytes are in the pseudo-terminal at once; on a real
        // line each needs a byte time, and never starts before it was written.
        Clock::time_point wire = now;
        if (m_config.lineTiming)
            wire = std::max(now, m_lastWire) + kByteTime;
        m_lastWire = wire;

        m_frame.push_back(data[i]);
        m_frameSum = (m_frameSum + data[i]) & 0xFF;
        m_frameLastRead = now;
        m_frameLastWire = wire;
        if (m_frameBad)
            continue;

        int fixed = FixedWireLength(m_frame[0]);
        if (fixed < 0) {
            m_frameBad = true;
        } else if (fixed == 0) {
            if (m_frame.size() == kFullBlockFrame) {
                if (m_frameSum == 0)
                    CompleteFrame(now);
                else
                    m_frameBad = true;
            }
        } else if (m_frame.size() == static_cast<std::size_t>(fixed)) {
            if (m_frameSum == 0)
                CompleteFrame(now);
            else
                m_frameBad = true;
        }
    }
}

bool SwitchProtocol::BlockMayEndHere() const
{
    return !m_frameBad && m_frame[0] == kBlock && m_frame.size() >= 3 && m_frameSum == 0;
}

SwitchProtocol::Clock::time_point SwitchProtocol::Deadline() const
{
    if (m_frame.empty())
        return Clock::time_point::max();
    if (m_frameBad)
        return m_frameLastRead + kBadFrameGap;
    if (BlockMayEndHere())
        return m_frameLastRead + kBlockEndGap;
    return m_frameLastRead + kIncompleteGap;
}

bool SwitchProtocol::Tick(Clock::time_point now)
{
    if (m_frame.empty() || now < Deadline())
        return false;
    if (BlockMayEndHere()) {
        CompleteFrame(now);
        return true;
    }
    ResetFrame();
    ++m_report.badFrames;
    return true;
}

SwitchProtocol::Output SwitchProtocol::TakeOutput()
{
    return std::exchange(m_output, Output{});
}

void SwitchProtocol::LineClosed()
{
    ResetFrame();
    m_output = Output{};
    m_report.hungUp = true;
}

void SwitchProtocol::BabbleBegun()
{
    m_report.babbling = true;
}

void SwitchProtocol::ResetFrame()
{
    m_frame.clear();
    m_frameSum = 0;
    m_frameBad = false;
}

void SwitchProtocol::CompleteFrame(Clock::time_point now)
{
    std::vector<std::uint8_t> payload(m_frame.begin(), m_frame.end() - 1);
    Clock::time_point lastByte = m_frameLastWire;
    ResetFrame();

    if ((m_stage == Stage::ModelHeader || m_stage == Stage::FamilyHeader) &&
        now - m_lastFrameTime > kHandshakeExpiry)
        m_stage = Stage::Idle;
    m_lastFrameTime = now;

    m_report.frames.push_back(payload);
    // A restarting switch hears nothing: its loader is not running.
    if (now < m_restartEnds)
        return;
    switch (payload[0]) {
    case kProbe:
        OnProbe(lastByte);
        break;
    case kHeader:
        OnHeader(lastByte);
        break;
    case kBlock:
        OnBlock(payload, lastByte);
        break;
    case kEndOfImage:
        OnEndOfImage(lastByte);
        break;
    default:
        break;
    }
}

bool SwitchProtocol::AnswersProbe(int n) const
{
    if (n < m_config.answerProbeFrom)
        return false;
    if (m_config.answerProbeUntil <= 0 || n <= m_config.answerProbeUntil)
        return true;
    return m_config.answerProbeAgainFrom > 0 && n >= m_config.answerProbeAgainFrom;
}

void SwitchProtocol::OnProbe(Clock::time_point lastByte)
{
    ++m_report.probes;
    // The family header follows the model header at once; a probe in between
    // means a new run has begun.
    if (m_stage == Stage::ModelHeader)
        m_stage = Stage::Idle;
    if (m_stage == Stage::FamilyHeader) {
        if (!m_config.noReadyReply)
            Send({kAck}, lastByte);
        return;
    }
    if (!AnswersProbe(++m_plainProbes))
        return;
    std::vector<std::uint8_t> version = {m_config.probeReply, 0x00, 0x00, m_date[0], m_date[1], m_date[2]};
    version.insert(version.end(), m_model.begin(), m_model.end());
    version.push_back(0x00);
    Send(version, lastByte);
}

void SwitchProtocol::OnHeader(Clock::time_point lastByte)
{
    switch (m_stage) {
    case Stage::Idle:
    case Stage::Transfer:
        m_stage = Stage::ModelHeader;
        break;
    case Stage::ModelHeader:
        m_stage = Stage::FamilyHeader;
        break;
    case Stage::FamilyHeader:
        // The second model header: the switch erases its flash and a new
        // image begins, with sequence number 0.
        m_stage = Stage::Transfer;
        m_report.blocksStored = 0;
        m_report.storedSequences.clear();
        m_report.image.clear();
        m_report.endOfImage = false;
        m_report.imageCrc = 0;
        m_report.transferBlockFrames = 0;
        if (!m_config.noGoAhead) {
            Send({kAck}, lastByte + kGoAheadDelay + m_config.goAheadDelay);
            if (m_config.babbleAfterGoAhead && !m_config.silent)
                m_output.babbleOnceWritten = true;
        }
        break;
    }
}

void SwitchProtocol::OnBlock(const std::vector<std::uint8_t>& payload, Clock::time_point lastByte)
{
    ++m_report.blockFrames;
    ++m_report.transferBlockFrames;
    const int index = m_report.blocksStored;
    const std::uint8_t sequence = payload[1];
    const auto expected = static_cast<std::uint8_t>(index);

    if (m_config.silentFromBlock >= 0 && index >= m_config.silentFromBlock)
        return;
    if (sequence == expected) {
        // A frame lost to a glitch on the line: the host's resend is a block
        // like any other.
        if (index == m_config.ignoreBlock && !m_ignoreDone) {
            m_ignoreDone = true;
            return;
        }
        if (index == m_config.rejectBlock && m_rejectsDone < m_config.rejectCount) {
            ++m_rejectsDone;
            Send({m_config.rejectCode}, lastByte);
            return;
        }
        const std::size_t length = payload.size() - 2;
        if (m_report.image.size() + length > kFlashSize) {
            Send({kRejected}, lastByte);
            return;
        }
        m_report.image.insert(m_report.image.end(), payload.begin() + 2, payload.end());
        m_report.storedSequences.push_back(sequence);
        ++m_report.blocksStored;
        if (index == m_config.hangupAfterBlock) {
            m_output.hangUpNow = true;
            return;
        }
        Send({kAck}, lastByte + m_config.flashWriteDelay);
        // The switch cannot know the image's length: the last block is the
        // first one shorter than a full block.
        if (m_config.hangUpAfterLastAck && length < kMaxBlockData)
            m_output.hangUpOnceRead = true;
    } else if (index > 0 && sequence == static_cast<std::uint8_t>(expected - 1)) {
        // The block just stored, sent again because its ack came too late:
        // acknowledge it again, but it is in the flash once only.
        Send({kAck}, lastByte);
    } else {
        Send({kRejected}, lastByte);
    }
}

void SwitchProtocol::OnEndOfImage(Clock::time_point lastByte)
{
    m_report.endOfImage = true;
    m_report.imageCrc =
        Crc16(m_report.image.data(), static_cast<std::uint32_t>(m_report.image.size()));
    ++m_report.endOfImageCount;
    m_stage = Stage::Idle;

    using Restart = SwitchSimConfig::Restart;
    m_restartEnds = m_config.restart == Restart::Never ? Clock::time_point::max() : lastByte + m_config.restartDelay;
    if (m_config.restart == Restart::WithStoredImage)
        TakeStoredIdentity();
}

// The switch reads its own image's info record the way the utility's loader
// does; an image without one leaves it saying what it said before.
void SwitchProtocol::TakeStoredIdentity()
{
    const FirmwareInfo info = ParseFirmware(m_report.image.data(), m_report.image.size(), "");
    if (!info.valid || info.textsFromName)
        return;
    m_model = info.modelText;
    m_date[0] = static_cast<std::uint8_t>(info.dateField1);
    m_date[1] = static_cast<std::uint8_t>(info.dateField2);
    m_date[2] = static_cast<std::uint8_t>(info.dateField3);
}

void SwitchProtocol::Send(const std::vector<std::uint8_t>& reply, Clock::time_point due)
{
    if (m_config.silent)
        return;
    std::vector<std::uint8_t> burst(static_cast<std::size_t>(std::max(m_config.noiseBytes, 0)),
                                    kNoise);
    burst.insert(burst.end(), reply.begin(), reply.end());
    if (m_config.replyLength > 0 && reply.size() < static_cast<std::size_t>(m_config.replyLength))
        burst.resize(burst.size() + static_cast<std::size_t>(m_config.replyLength) - reply.size(),
                     0x00);
    m_output.replies.push_back({std::move(burst), due});
}

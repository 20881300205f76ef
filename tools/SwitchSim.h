#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// How the simulated switch behaves. Defaults: a well-behaved switch that
// answers at once.
struct SwitchSimConfig {
    std::uint8_t probeReply = 0xF2;      // reply code to a probe or version request
    std::uint8_t date[3] = {7, 12, 25};  // version reply bytes 3, 4, 5
    std::string model = "PZN442";        // version reply from byte 6, zero-terminated

    // Realism on demand.
    bool lineTiming = false;                         // 115200 baud 8N2 both ways (11 bits a byte)
    std::chrono::microseconds flashWriteDelay{0};    // per stored block, before its ack

    // Faults on demand.
    bool silent = false;            // never answers anything
    int answerProbeFrom = 1;        // probes (and version requests) answered from the n-th on
    bool noReadyReply = false;      // the ready probe of the handshake gets no 0xF0
    bool noGoAhead = false;         // no go-ahead after the second model header
    int rejectBlock = -1;           // block index (0-based, counting stored blocks) to reject...
    int rejectCount = 0;            // ...this many times...
    std::uint8_t rejectCode = 0xF5; // ...with this code
    int silentFromBlock = -1;       // no reply to any block frame from this block index on
    int replyLength = 0;            // when > 0, every reply is padded to this many bytes (e.g. 300)
    int noiseBytes = 0;             // noise bytes written before every reply (never an accept code)
    int hangupAfterBlock = -1;      // close the line after storing this block index
    bool babble = false;            // writes noise continuously, never falls silent

    std::string imageOut;           // where the image is written on the end-of-image frame
    std::string linkPath;           // symlink made to the device, removed on Stop
};

// What the switch saw. Frames are payloads with the checksum byte stripped.
struct SwitchSimReport {
    std::vector<std::vector<std::uint8_t>> frames; // every well-formed frame, in order
    int badFrames = 0;                             // frames whose 8-bit sum was not 0
    int probes = 0;                                // 0x01 frames
    int blockFrames = 0;                           // 0x03 frames, resends included
    int blocksStored = 0;
    std::vector<std::uint8_t> storedSequences;     // sequence number of each stored block
    std::vector<std::uint8_t> image;               // the stored blocks, concatenated
    bool endOfImage = false;
    std::uint16_t imageCrc = 0;                    // Crc16 of image
    std::vector<std::uint8_t> rawReceived;         // every byte received, in order
};

// A KVM switch on the master side of a pseudo-terminal. The slave side's path
// (DevicePath) is what the host opens, e.g. through --map COM1=<path>.
class SwitchSim {
public:
    explicit SwitchSim(SwitchSimConfig config = {});
    ~SwitchSim();
    SwitchSim(const SwitchSim&) = delete;
    SwitchSim& operator=(const SwitchSim&) = delete;

    bool Start(std::string* error = nullptr);
    void Stop(); // quit, wake, join; removes the symlink

    const std::string& DevicePath() const { return m_devicePath; }
    SwitchSimReport Report() const;          // a copy, taken under the lock

    // For tests: block until the condition holds or the time-out passes.
    bool WaitForEndOfImage(std::chrono::milliseconds timeout) const;
    bool WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    void Run();

    SwitchSimConfig m_config;
    std::string m_devicePath;
    int m_master = -1;
    int m_slaveKeep = -1; // held open so the master never sees a hang-up between host opens
    int m_wakePipe[2] = {-1, -1};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    SwitchSimReport m_report;
};

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// How the simulated switch behaves. Defaults: a well-behaved switch that
// answers at once.
struct SwitchSimConfig {
    std::uint8_t probeReply = 0xF2;      // reply code to a probe or version request
    std::uint8_t date[3] = {7, 12, 25};  // version reply bytes 3, 4, 5
    std::string model = "PZN442";        // version reply from byte 6, zero-terminated

    // Realism on demand.
    bool lineTiming = false;                         // 115200 baud 8N2 both ways (11 bits a byte)
    std::chrono::microseconds flashWriteDelay{0};    // per stored block, before its ack
    // A USB-serial adapter at the host's end (AdapterHold): what the switch
    // sends reaches the host only when the oldest byte held has waited
    // adapterHold, or at once when adapterFlushBytes are held. 0: no adapter.
    std::chrono::milliseconds adapterHold{0};
    std::size_t adapterFlushBytes = 62;
    bool adapterHoldRandom = false; // each burst waits 0 to adapterHold, drawn from seed
    std::uint32_t seed = 1;

    // Faults on demand.
    bool silent = false;            // never answers anything
    // Probes and version requests are counted from 1 outside the handshake
    // (the ready probe is noReadyReply's). The n-th is answered when
    // n >= answerProbeFrom and, if answerProbeUntil > 0, n <= answerProbeUntil
    // or (answerProbeAgainFrom > 0) n >= answerProbeAgainFrom: a switch that
    // drops out after the probe, for good or for a while.
    int answerProbeFrom = 1;        // answered from the n-th on...
    int answerProbeUntil = 0;       // ...when > 0, only up to the n-th...
    int answerProbeAgainFrom = 0;   // ...when > 0, and again from the n-th on
    bool noReadyReply = false;      // the ready probe of the handshake gets no 0xF0
    bool noGoAhead = false;         // no go-ahead after the second model header
    std::chrono::milliseconds goAheadDelay{0}; // extra wait before the go-ahead (a slow flash erase)
    int rejectBlock = -1;           // block index (0-based, counting stored blocks) to reject...
    int rejectCount = 0;            // ...this many times...
    std::uint8_t rejectCode = 0xF5; // ...with this code
    int silentFromBlock = -1;       // no reply to any block frame from this block index on
    int ignoreBlock = -1;           // this block index's first frame is missed: no reply, nothing stored
    int replyLength = 0;            // when > 0, every reply is padded to this many bytes (e.g. 300)
    int noiseBytes = 0;             // noise bytes written before every reply (never an accept code)
    int hangupAfterBlock = -1;      // close the line after storing this block index
    bool babble = false;            // writes noise continuously, never falls silent
    // Once the go-ahead F0 is out, writes this byte continuously and never
    // falls silent again: at the line's rate under lineTiming, else 256 bytes
    // a millisecond; what a full line cannot take is lost.
    std::optional<std::uint8_t> babbleAfterGoAhead;
    // Closes the line once the host has read the F0 that acknowledges the
    // last block. The switch cannot know the image's length: the last block
    // is the first stored block with fewer than 256 data bytes, which every
    // image whose size is not a multiple of 256 ends with.
    bool hangUpAfterLastAck = false;

    // After the end-of-image frame the switch restarts: it takes no frame for
    // restartDelay, then answers as the firmware it stored, with the model and
    // date of the image's info record (its old ones when the image has none).
    // 0 here, so that tests which run one upgrade after another need not wait;
    // kvm-switch-sim's own default is a few seconds, as a switch's restart.
    enum class Restart {
        WithStoredImage, // back with the image's model and date
        WithOldFirmware, // back, but the new image did not take: its old date
        Never,           // never answers again
    };
    std::chrono::milliseconds restartDelay{0};
    Restart restart = Restart::WithStoredImage;

    std::string imageOut;           // where the image is written on the end-of-image frame
    std::string linkPath;           // symlink made to the device, removed on Stop
};

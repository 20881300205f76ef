#pragma once

#include <cstdint>
#include <vector>

// What the switch saw. Frames are payloads with the checksum byte stripped.
struct SwitchSimReport {
    std::vector<std::vector<std::uint8_t>> frames; // every well-formed frame, in order
    int badFrames = 0;                             // frames whose 8-bit sum was not 0
    int probes = 0;                                // 0x01 frames, ready probes included
    int blockFrames = 0;                           // 0x03 frames, resends included
    int blocksStored = 0;
    std::vector<std::uint8_t> storedSequences;     // sequence number of each stored block
    std::vector<std::uint8_t> image;               // the stored blocks, concatenated
    bool endOfImage = false;
    std::uint16_t imageCrc = 0;                    // Crc16 of image
    std::vector<std::uint8_t> rawReceived;         // every byte received, in order

    int endOfImageCount = 0;      // end-of-image frames seen, for a caller that waits for each
    int transferBlockFrames = 0;  // 0x03 frames since the current transfer began (its go-ahead)
    bool hungUp = false;          // the line was closed by hangupAfterBlock or hangUpAfterLastAck
    bool babbling = false;        // babbleAfterGoAhead has begun, after the go-ahead
};

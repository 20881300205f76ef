#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

// Firmware files made by the tests themselves, in a private temporary folder
// that goes away with the object.
class FirmwareTestFiles {
public:
    using Bytes = std::vector<std::uint8_t>;

    FirmwareTestFiles();
    ~FirmwareTestFiles();
    FirmwareTestFiles(const FirmwareTestFiles&) = delete;
    FirmwareTestFiles& operator=(const FirmwareTestFiles&) = delete;

    // Writes bytes to name inside the folder; returns the full path.
    std::string Write(const std::string& name, const Bytes& bytes) const;
    // A file of size bytes that passes the CRC check: pseudo-random content
    // whose last two bytes are the CRC-16 of the rest. Size 0 is an empty
    // file, whose CRC is 0 as well.
    std::string WriteImage(const std::string& name, std::size_t size, unsigned seed = 1) const;
    std::string PathOf(const std::string& name) const;
    const std::filesystem::path& Folder() const { return m_folder; }

    static Bytes ReadBytes(const std::string& path);
    // An image of size bytes as a switch's firmware file is: pseudo-random
    // content (a block sent to the wrong place shows), an info record for
    // model index 2 (PZN442) dated 7-12-25, and the CRC trailer.
    static Bytes RecordedImage(std::size_t size, unsigned seed = 1);
    // body followed by its CRC-16 trailer, high byte first.
    static Bytes WithCrc(Bytes body);
    // Six info bytes (model index, three date bytes, a zero, and a last byte
    // that brings the sum to 0 modulo 256) and the marker B1 B2 AA 55.
    static Bytes InfoRecord(std::uint8_t index, std::uint8_t d1, std::uint8_t d2, std::uint8_t d3);
    // The six given info bytes as they are, and the marker.
    static Bytes RawRecord(const Bytes& info);
    static Bytes Filler(std::size_t count, std::uint8_t value = 0x3C);
    static Bytes Join(std::initializer_list<Bytes> parts);

private:
    std::filesystem::path m_folder;
};

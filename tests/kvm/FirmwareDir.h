#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A scratch folder of firmware files, removed with the object.
class FirmwareDir {
public:
    FirmwareDir();
    ~FirmwareDir();
    FirmwareDir(const FirmwareDir&) = delete;
    FirmwareDir& operator=(const FirmwareDir&) = delete;

    const std::string& Path() const { return m_path; }

    // A file of size bytes that passes the CRC check: pseudo-random content
    // whose last two bytes are the CRC-16 of the rest. Size 0 is an empty
    // file, whose CRC is 0 as well.
    std::string WriteImage(const std::string& name, std::size_t size, unsigned seed = 1);
    std::string WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes);

    static std::vector<std::uint8_t> ReadBytes(const std::string& path);

private:
    std::string m_path;
};

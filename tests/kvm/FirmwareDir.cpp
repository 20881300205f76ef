#include "FirmwareDir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "firmware/Crc16.h"

FirmwareDir::FirmwareDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "kvm_tests_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

FirmwareDir::~FirmwareDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::string FirmwareDir::WriteImage(const std::string& name, std::size_t size, unsigned seed)
{
    if (size == 1)
        throw std::invalid_argument("an image with a CRC trailer has 0 or at least 2 bytes");
    std::vector<std::uint8_t> bytes;
    if (size >= 2) {
        std::mt19937 random(seed);
        bytes.resize(size - 2);
        for (auto& byte : bytes)
            byte = static_cast<std::uint8_t>(random());
        const std::uint16_t crc = Crc16(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        bytes.push_back(static_cast<std::uint8_t>(crc >> 8));
        bytes.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    }
    return WriteBytes(name, bytes);
}

std::string FirmwareDir::WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    const std::string path = m_path + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::vector<std::uint8_t> FirmwareDir::ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#include "tests/support/FirmwareTestFiles.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <utility>

#include "firmware/Crc16.h"

FirmwareTestFiles::FirmwareTestFiles()
{
    // A fresh folder of our own: create_directory fails on a name taken
    // (mkdtemp, which Windows lacks, does the same).
    std::random_device random;
    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path folder = temp / ("kvm-fw-" + std::to_string(random()));
        std::error_code error;
        if (std::filesystem::create_directory(folder, error)) {
            m_folder = folder;
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder");
}

FirmwareTestFiles::~FirmwareTestFiles()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

std::string FirmwareTestFiles::PathOf(const std::string& name) const
{
    return (m_folder / name).string();
}

std::string FirmwareTestFiles::Write(const std::string& name, const Bytes& bytes) const
{
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::string FirmwareTestFiles::WriteImage(const std::string& name, std::size_t size, unsigned seed) const
{
    if (size == 0)
        return Write(name, {});
    if (size == 1)
        throw std::invalid_argument("an image with a CRC trailer has 0 or at least 2 bytes");
    std::mt19937 random(seed);
    Bytes body(size - 2);
    for (auto& byte : body)
        byte = static_cast<std::uint8_t>(random());
    return Write(name, WithCrc(std::move(body)));
}

FirmwareTestFiles::Bytes FirmwareTestFiles::RecordedImage(std::size_t size, unsigned seed)
{
    const Bytes record = InfoRecord(2, 7, 12, 25);
    if (size < record.size() + 2)
        throw std::invalid_argument("an image with an info record has at least 12 bytes");
    Bytes body(size - record.size() - 2);
    unsigned value = seed;
    for (std::uint8_t& byte : body) {
        value = value * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(value >> 16);
    }
    return WithCrc(Join({body, record}));
}

FirmwareTestFiles::Bytes FirmwareTestFiles::ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

FirmwareTestFiles::Bytes FirmwareTestFiles::WithCrc(Bytes body)
{
    const std::uint16_t crc = Crc16(body.data(), static_cast<std::uint32_t>(body.size()));
    body.push_back(static_cast<std::uint8_t>(crc >> 8));
    body.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    return body;
}

FirmwareTestFiles::Bytes FirmwareTestFiles::InfoRecord(std::uint8_t index, std::uint8_t d1,
                                                       std::uint8_t d2, std::uint8_t d3)
{
    const unsigned sum = index + d1 + d2 + d3;
    return RawRecord({index, d1, d2, d3, 0, static_cast<std::uint8_t>(-sum & 0xFF)});
}

FirmwareTestFiles::Bytes FirmwareTestFiles::RawRecord(const Bytes& info)
{
    Bytes record = info;
    record.insert(record.end(), {0xB1, 0xB2, 0xAA, 0x55});
    return record;
}

FirmwareTestFiles::Bytes FirmwareTestFiles::Filler(std::size_t count, std::uint8_t value)
{
    return Bytes(count, value);
}

FirmwareTestFiles::Bytes FirmwareTestFiles::Join(std::initializer_list<Bytes> parts)
{
    Bytes joined;
    for (const Bytes& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

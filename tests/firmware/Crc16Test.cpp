#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "firmware/Crc16.h"

namespace {

std::uint16_t Crc(const std::string& text)
{
    return Crc16(reinterpret_cast<const std::uint8_t*>(text.data()),
                 static_cast<std::uint32_t>(text.size()));
}

// Bit at a time, straight from the polynomial: what the table must reproduce.
std::uint16_t BitwiseCrc(const std::vector<std::uint8_t>& data)
{
    std::uint16_t crc = 0;
    for (std::uint8_t byte : data) {
        crc = static_cast<std::uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

TEST(Crc16, CheckValues)
{
    const struct {
        std::string data;
        std::uint16_t crc;
    } cases[] = {
        {"", 0x0000},
        {"123456789", 0x31C3},
        {"abc", 0x9DD6},
        {"abc\x9D\xD6", 0x0000},
        {std::string(1, '\0'), 0x0000},
        {std::string(1, '\xFF'), 0x1EF0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Crc(c.data), c.crc) << "data of " << c.data.size() << " bytes";
}

TEST(Crc16, EveryByteValueAndLongRunsMatchTheBitwiseDefinition)
{
    std::vector<std::uint8_t> data(4096);
    std::mt19937 random(12345);
    for (auto& byte : data)
        byte = static_cast<std::uint8_t>(random());
    for (unsigned value = 0; value < 256; ++value)
        data[value] = static_cast<std::uint8_t>(value);

    for (std::size_t length : {std::size_t{1}, std::size_t{2}, std::size_t{255}, data.size()}) {
        std::vector<std::uint8_t> prefix(data.begin(), data.begin() + static_cast<long>(length));
        EXPECT_EQ(Crc16(prefix.data(), static_cast<std::uint32_t>(length)), BitwiseCrc(prefix))
            << "length " << length;
    }
    for (unsigned value = 0; value < 256; ++value) {
        const std::uint8_t byte = static_cast<std::uint8_t>(value);
        EXPECT_EQ(Crc16(&byte, 1), BitwiseCrc({byte})) << "byte " << value;
    }
}

} // namespace

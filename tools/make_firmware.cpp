// kvm-make-firmware: writes a firmware file that passes the utility's checks
// (an info record and a CRC-16 trailer), for demos, tests and benchmarks.
// Its --help opens with the warning that the file is for the simulated
// switch only: nothing in the file tells it from real firmware, and a real
// switch that took one would be left without a working firmware.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "firmware/Crc16.h"
#include "options/LongOption.h"
#include "serial/StandardStreams.h"

namespace {

constexpr const char* kUsage =
    "Its files are for the simulated switch only: never send one to a real switch.\n"
    "Usage: kvm-make-firmware [options] OUTPUT\n"
    "Writes a firmware file that passes kvm-upgrade's checks: pseudo-random content,\n"
    "an info record and a CRC-16/XMODEM trailer. It holds no real firmware, yet it\n"
    "passes every check (dated 99-12-31, it even looks newer than any switch's\n"
    "firmware): a real switch sent one could be left unable to start.\n"
    "\n"
    "Options:\n"
    "  --size BYTES        the file's size, 2 to 131072 (default 65536; at least 12\n"
    "                      with an info record)\n"
    "  --model-index N     the info record's model index, 0 to 255 (default 2)\n"
    "  --date A-B-C        the info record's date fields, each 0 to 255 (default 7-12-25)\n"
    "  --no-record         leave the info record out\n"
    "  --seed N            seed of the pseudo-random content (default 1)\n"
    "  --version           print the version and exit\n"
    "  --help              print this text and exit\n";

// A refusal: the reason and the usage on stderr, exit status 2.
int Usage(const char* why)
{
    std::fprintf(stderr, "kvm-make-firmware: %s\n%s", why, kUsage);
    return 2;
}

bool ParseNumber(const char* text, long min, long max, long& value)
{
    char* end = nullptr;
    value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= min && value <= max;
}

} // namespace

int main(int argc, char** argv)
{
    ReopenClosedStandardStreams();
    long size = 65536;
    long modelIndex = 2;
    long date[3] = {7, 12, 25};
    long seed = 1;
    bool record = true;
    std::string output;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const LongOption option = LongOption::Split(arg);
        // The value after the '=', else the next word; null when there is none.
        auto value = [&]() -> const char* {
            if (option.value)
                return option.value->c_str();
            return i + 1 < argc ? argv[++i] : nullptr;
        };
        const char* text = nullptr;
        if (option.name == "--size") {
            if ((text = value()) == nullptr || !ParseNumber(text, 2, 131072, size))
                return Usage("--size takes 2 to 131072");
        } else if (option.name == "--model-index") {
            if ((text = value()) == nullptr || !ParseNumber(text, 0, 255, modelIndex))
                return Usage("--model-index takes 0 to 255");
        } else if (option.name == "--date") {
            if ((text = value()) == nullptr || std::sscanf(text, "%ld-%ld-%ld", &date[0], &date[1], &date[2]) != 3)
                return Usage("--date takes A-B-C");
            for (long d : date)
                if (d < 0 || d > 255)
                    return Usage("date fields are 0 to 255");
        } else if (option.name == "--seed") {
            if ((text = value()) == nullptr || !ParseNumber(text, 0, 1L << 30, seed))
                return Usage("--seed takes a number");
        } else if ((option.name == "--no-record" || option.name == "--help" || option.name == "--version")
                   && option.value) {
            return Usage((option.name + " takes no value").c_str());
        } else if (option.name == "--no-record") {
            record = false;
        } else if (option.name == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (option.name == "--version") {
            std::puts(KVM_VERSION);
            return 0;
        } else if (!arg.empty() && arg[0] != '-' && output.empty()) {
            output = arg;
        } else {
            return Usage(("unknown argument: " + arg).c_str());
        }
    }
    if (output.empty())
        return Usage("no output file");
    if (record && size < 12)
        return Usage("a file with an info record needs at least 12 bytes");

    std::vector<std::uint8_t> image(static_cast<std::size_t>(size));
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    for (auto& b : image)
        b = static_cast<std::uint8_t>(random());
    // Random content could hold a marker of its own, and the last one wins.
    for (std::size_t i = 0; i + 3 < image.size(); ++i)
        if (image[i] == 0xB1 && image[i + 1] == 0xB2 && image[i + 2] == 0xAA && image[i + 3] == 0x55)
            image[i + 3] = 0x54;

    if (record) {
        std::size_t at = image.size() - 2 - 10;
        std::uint8_t info[6] = {static_cast<std::uint8_t>(modelIndex), static_cast<std::uint8_t>(date[0]),
                                static_cast<std::uint8_t>(date[1]), static_cast<std::uint8_t>(date[2]), 0, 0};
        unsigned sum = 0;
        for (int k = 0; k < 5; ++k)
            sum += info[k];
        info[5] = static_cast<std::uint8_t>(256 - sum % 256);
        std::memcpy(&image[at], info, 6);
        const std::uint8_t marker[4] = {0xB1, 0xB2, 0xAA, 0x55};
        std::memcpy(&image[at + 6], marker, 4);
    }
    std::uint16_t crc = Crc16(image.data(), static_cast<std::uint32_t>(image.size() - 2));
    image[image.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
    image[image.size() - 1] = static_cast<std::uint8_t>(crc & 0xFF);

    std::FILE* file = std::fopen(output.c_str(), "wb");
    if (file == nullptr) {
        std::perror(output.c_str());
        return 1;
    }
    bool ok = std::fwrite(image.data(), 1, image.size(), file) == image.size();
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::perror(output.c_str());
        return 1;
    }
    return 0;
}

// libFuzzer target for the firmware loader and its file-name parse, run on
// files held in memory (no disk I/O).
//
// Input layout:
//   byte 0   name length: below 128 that many characters; from 128 on,
//            (byte - 128) * 32 characters, so names can outgrow the 2048-byte
//            text buffer
//   byte 1   bit 0 set: append the correct CRC-16 trailer to the file bytes,
//            so the record search and the name parse are reached, not only
//            the CRC test
//   then     the name (cut short by the end of the input), then the file bytes
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "firmware/Crc16.h"
#include "firmware/FirmwareInfo.h"
#include "kvm/FirmwareInfoText.h"
#include "kvm/LoadFirmwareInfo.h"
#include "kvm/SharedState.h"

namespace {

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One state for the whole run, as in the program; the fields a load may
    // leave alone are reset so every input behaves the same on its own.
    static SharedState* const state = new SharedState;
    if (size < 2)
        return 0;

    std::size_t nameLength = data[0] < 128 ? data[0] : (data[0] - 128u) * 32u;
    const bool addCrc = (data[1] & 1) != 0;
    data += 2;
    size -= 2;
    if (nameLength > size)
        nameLength = size;
    const std::string name(reinterpret_cast<const char*>(data), nameLength);
    std::vector<std::uint8_t> file(data + nameLength, data + size);
    if (addCrc) {
        const std::uint16_t crc = Crc16(file.data(), static_cast<std::uint32_t>(file.size()));
        file.push_back(static_cast<std::uint8_t>(crc >> 8));
        file.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    }

    state->modelText = "stale model";
    state->versionText = "stale version";
    state->familyHeader[1] = 1;
    state->dateField1 = state->dateField2 = state->dateField3 = 0;
    state->firmwareValid = 0;
    state->firmwareDateKnown = 1;
    std::memset(state->infoBlock, 0xEE, sizeof state->infoBlock);

    LoadFirmwareInfoFromBytes(*state, name, file.data(), file.size());

    // An empty or all-zero image has the CRC 0 and is still refused.
    const bool good = file.size() <= kImageCapacity &&
        Crc16(file.data(), static_cast<std::uint32_t>(file.size())) == 0 &&
        FindBlankImage(file.data(), file.size()) == BlankImage::No;
    if (!good) {
        Require(state->modelText == "CRC error.");
        Require(state->checkedImageLength == 0);
        Require(state->firmwareDateKnown == 0);
        for (std::uint8_t byte : state->infoBlock)
            Require(byte == 0);
    } else {
        // At most 21 characters before a "-", or 22 without a date, each
        // shown as up to four when it is a control byte; a record's model is
        // short.
        Require(state->modelText.size() <= 22 * 4);
        Require(state->checkedImageLength == file.size());
        Require(state->infoBlock[0] == 0 || state->firmwareDateKnown == 1);
        if (state->infoBlock[0] != 0) {
            Require(state->dateField1 >= 0 && state->dateField1 <= 255);
            Require(state->dateField2 >= 0 && state->dateField2 <= 255);
            Require(state->dateField3 >= 0 && state->dateField3 <= 255);
        }
    }
    Require(state->familyHeader[1] == 1 || state->familyHeader[1] == 2);
    Require(state->scanPortName[0] == 'C' && state->port == nullptr);

    const std::string text = FirmwareInfoText(*state);
    Require(text.size() < static_cast<std::size_t>(kTextBufferSize));
    Require(std::memchr(state->textBuffer, '\0', sizeof state->textBuffer) != nullptr);
    return 0;
}

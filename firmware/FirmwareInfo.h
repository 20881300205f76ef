#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The model text of a file that may not be sent; the front ends tell a
// usable file from the rest by it.
inline constexpr const char* kCrcErrorText = "CRC error.";

// The family byte of the header frame that follows the model header.
inline constexpr std::uint8_t kFamilyCorva = 1;
inline constexpr std::uint8_t kFamilyPzn442 = 2;

// Bytes of the info record in front of its marker: model index, three date
// bytes and two more that make the sum come out at 0.
inline constexpr std::size_t kInfoBlockSize = 6;

// What the checks of one firmware image found. Built afresh for every file,
// so nothing of an earlier file can show through.
struct FirmwareInfo {
    // Why a file was refused; the detail text is in versionText (none for a
    // file that could not be read: the front end has said why).
    enum class Refusal { None, Unreadable, TooLarge, CrcFailure, Empty, AllZero };

    std::string modelText;
    std::string versionText;
    std::uint8_t infoBlock[kInfoBlockSize] = {};
    // Written only when dateKnown: a name without a date leaves the fields a
    // caller holds as they were.
    std::int32_t dateField1 = 0;
    std::int32_t dateField2 = 0;
    std::int32_t dateField3 = 0;
    bool dateKnown = false;
    std::uint8_t family = kFamilyCorva;
    // False for a refused file (and for one that could not be read).
    bool valid = true;
    Refusal refusal = Refusal::None;
    // The model and version texts were read from the file's name, which may
    // hold any byte but "/" (the version may instead be the loader's "Unable
    // to recognize date."): the front end decides how they show.
    bool textsFromName = false;
    // The length of the image that passed the checks; 0 when it was refused.
    // The upgrade keeps the checked bytes themselves and compares them.
    std::uint32_t checkedLength = 0;
};

// Three date fields as the loader's version text writes them, "7-12-25": the
// one spelling of a file's date wherever it is reported.
std::string DateFieldsText(std::int32_t field1, std::int32_t field2, std::int32_t field3);

// Checks an image held in memory (CRC-16, info record, else the file name)
// and says what it found. fileName is the chosen file's name without folder.
// A size above kImageCapacity is refused without any byte being looked at, so
// bytes may then be nullptr.
FirmwareInfo ParseFirmware(const std::uint8_t* bytes, std::size_t size, std::string_view fileName);

// A file refused for why without a byte of it being looked at: one that could
// not be read, or one larger than kImageCapacity.
FirmwareInfo RefusedFirmware(FirmwareInfo::Refusal why);

// An image of no bytes, or of zero bytes only, passes the CRC test (its CRC
// is 0) and is still no firmware: it is never sent.
enum class BlankImage { No, Empty, AllZero };
BlankImage FindBlankImage(const std::uint8_t* bytes, std::size_t size);

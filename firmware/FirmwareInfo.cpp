#include "firmware/FirmwareInfo.h"

#include <cstdio>
#include <cstring>

#include "firmware/Crc16.h"
#include "firmware/FirmwareFile.h"

namespace {

using Refusal = FirmwareInfo::Refusal;

constexpr const char* kCrcFailureDetail = " You may not continue upgrade\n\twith this file.";
constexpr const char* kTooLargeDetail = " File is larger than 131072 bytes.";
constexpr const char* kEmptyDetail = " File is empty.";
constexpr const char* kAllZeroDetail = " File holds only zero bytes.";
constexpr const char* kNoDateText = "Unable to recognize date.";

// Row 0 never shows: an index of 0 makes the info record invalid.
constexpr char kModelTable[4][16] = {"NOUSE", "Corva", "HX5TRA", "QVR-7725"};
constexpr std::size_t kModelTableRows = sizeof kModelTable / sizeof kModelTable[0];

constexpr std::uint8_t kMarker[4] = {0xB1, 0xB2, 0xAA, 0x55};
constexpr std::size_t kRecordSize = kInfoBlockSize + sizeof kMarker;

// The model text ends at the first "-"; a name that has none within this many
// characters carries no date.
constexpr std::size_t kModelTextLimit = 22;
// Each date field keeps this many characters for its number; the version text
// still shows every character of the name.
constexpr std::size_t kDateFieldLimit = 8;
constexpr std::size_t kDateFields = 3;

const char* RefusalDetail(Refusal why)
{
    switch (why) {
    case Refusal::TooLarge:
        return kTooLargeDetail;
    case Refusal::CrcFailure:
        return kCrcFailureDetail;
    case Refusal::Empty:
        return kEmptyDetail;
    case Refusal::AllZero:
        return kAllZeroDetail;
    case Refusal::None:
    case Refusal::Unreadable:
        break;
    }
    return "";
}

// The last marker in the file wins, so the search runs from the end. A 0x55
// closer than kRecordSize - 1 bytes to the start has no six info bytes in
// front of it and is not a marker.
bool FindLastInfoRecord(const std::uint8_t* bytes, std::size_t size, std::uint8_t* info)
{
    for (std::size_t end = size; end >= kRecordSize; --end) {
        if (std::memcmp(bytes + end - sizeof kMarker, kMarker, sizeof kMarker) == 0) {
            std::memcpy(info, bytes + end - kRecordSize, kInfoBlockSize);
            return true;
        }
    }
    return false;
}

bool InfoRecordValid(const std::uint8_t* info)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < kInfoBlockSize; ++i)
        sum += info[i];
    return info[0] != 0 && (sum & 0xFF) == 0;
}

void TakeInfoRecord(FirmwareInfo& info)
{
    const unsigned index = info.infoBlock[0];
    char text[32];
    if (index < kModelTableRows) {
        info.modelText = kModelTable[index];
    } else {
        // No row for it: name the index so the user can tell files apart; the
        // family byte stays as it was, as for any model without an alias.
        std::snprintf(text, sizeof text, "Model #%u", index);
        info.modelText = text;
    }

    info.dateField1 = info.infoBlock[1];
    info.dateField2 = info.infoBlock[2];
    info.dateField3 = info.infoBlock[3];
    info.versionText = DateFieldsText(info.dateField1, info.dateField2, info.dateField3);

    if (info.modelText == "Corva") {
        info.family = kFamilyCorva;
    } else if (info.modelText == "HX5TRA") {
        info.family = kFamilyPzn442;
        info.modelText = "PZN442";
    }
    info.dateKnown = true;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Leading blanks, an optional sign, then digits up to the first non-digit;
// no digit gives 0. Clamped, although a field of 8 characters cannot reach
// the limit.
std::int32_t DateFieldValue(std::string_view field)
{
    constexpr std::int64_t kLimit = 2147483647;
    std::size_t i = 0;
    while (i < field.size() && IsBlank(field[i]))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-')) {
        negative = field[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < field.size() && IsDigit(field[i]); ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > kLimit)
            value = kLimit;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

void ParseFileName(FirmwareInfo& info, std::string_view name)
{
    // A record that was found but failed the sum rule must not count as
    // present for the version check and the upgrade.
    info.infoBlock[0] = 0;
    info.textsFromName = true;

    std::size_t pos = 0;
    bool dateFollows = false;
    if (pos < name.size()) {
        char c = name[pos++];
        if (c == '-') {
            dateFollows = true;
        } else {
            for (;;) {
                info.modelText += c;
                if (info.modelText.size() == kModelTextLimit || pos == name.size())
                    break;
                c = name[pos++];
                if (c == '-') {
                    dateFollows = true;
                    break;
                }
            }
        }
    }

    if (!dateFollows) {
        info.versionText = kNoDateText;
        if (info.modelText == "hx5tra") {
            info.family = kFamilyPzn442;
            info.modelText = "PZN442";
        }
        return;
    }

    std::string fields[kDateFields];
    std::size_t field = 0;
    for (; pos < name.size() && name[pos] != '.'; ++pos) {
        const char c = name[pos];
        info.versionText += c;
        if (c == '-') {
            if (field < kDateFields)
                ++field;
        } else if (field < kDateFields && fields[field].size() < kDateFieldLimit) {
            fields[field] += c;
        }
    }

    if (info.modelText == "r315") {
        info.family = kFamilyCorva;
        info.modelText = "Corva";
    } else {
        info.family = kFamilyPzn442;
        if (info.modelText == "hx5tra")
            info.modelText = "PZN442";
    }
    info.dateField1 = DateFieldValue(fields[0]);
    info.dateField2 = DateFieldValue(fields[1]);
    info.dateField3 = DateFieldValue(fields[2]);
    info.dateKnown = true;
}

} // namespace

std::string DateFieldsText(std::int32_t field1, std::int32_t field2, std::int32_t field3)
{
    char text[48];
    std::snprintf(text, sizeof text, "%d-%d-%d", static_cast<int>(field1), static_cast<int>(field2),
                  static_cast<int>(field3));
    return text;
}

FirmwareInfo RefusedFirmware(Refusal why)
{
    // A file that cannot be trusted keeps no model index either: the version
    // check and the upgrade take infoBlock[0] as the index of a record that
    // is valid.
    FirmwareInfo info;
    info.modelText = kCrcErrorText;
    info.versionText = RefusalDetail(why);
    info.valid = false;
    info.refusal = why;
    return info;
}

FirmwareInfo ParseFirmware(const std::uint8_t* bytes, std::size_t size, std::string_view fileName)
{
    if (size > kImageCapacity)
        return RefusedFirmware(Refusal::TooLarge);
    if (Crc16(bytes, static_cast<std::uint32_t>(size)) != 0)
        return RefusedFirmware(Refusal::CrcFailure);
    switch (FindBlankImage(bytes, size)) {
    case BlankImage::Empty:
        return RefusedFirmware(Refusal::Empty);
    case BlankImage::AllZero:
        return RefusedFirmware(Refusal::AllZero);
    case BlankImage::No:
        break;
    }

    FirmwareInfo info;
    info.checkedLength = static_cast<std::uint32_t>(size);
    if (FindLastInfoRecord(bytes, size, info.infoBlock) && InfoRecordValid(info.infoBlock))
        TakeInfoRecord(info);
    else
        ParseFileName(info, fileName);
    return info;
}

BlankImage FindBlankImage(const std::uint8_t* bytes, std::size_t size)
{
    if (size == 0)
        return BlankImage::Empty;
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] != 0)
            return BlankImage::No;
    }
    return BlankImage::AllZero;
}

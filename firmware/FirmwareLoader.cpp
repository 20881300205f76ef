#include "firmware/FirmwareLoader.h"

#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "firmware/Crc16.h"
#include "firmware/FirmwareFile.h"
#include "firmware/PrintableText.h"
#include "kvm/DialogServices.h"
#include "kvm/SharedState.h"

namespace {

constexpr const char* kCrcErrorText = "CRC error.";
constexpr const char* kCrcFailureDetail = " You may not continue upgrade\n\twith this file.";
constexpr const char* kTooLargeDetail = " File is larger than 131072 bytes.";
constexpr const char* kEmptyDetail = " File is empty.";
constexpr const char* kAllZeroDetail = " File holds only zero bytes.";
constexpr const char* kNoDateText = "Unable to recognize date.";

// Row 0 never shows: an index of 0 makes the info record invalid.
constexpr char kModelTable[4][16] = {"NOUSE", "Corva", "HX5TRA", "QVR-7725"};
constexpr std::size_t kModelTableRows = sizeof kModelTable / sizeof kModelTable[0];

constexpr std::uint8_t kMarker[4] = {0xB1, 0xB2, 0xAA, 0x55};
constexpr std::size_t kInfoSize = sizeof(SharedState::infoBlock);
constexpr std::size_t kRecordSize = kInfoSize + sizeof kMarker;

// The model text ends at the first "-"; a name that has none within this many
// characters carries no date.
constexpr std::size_t kModelTextLimit = 22;
// Each date field keeps this many characters for its number; the version text
// still shows every character of the name.
constexpr std::size_t kDateFieldLimit = 8;
constexpr std::size_t kDateFields = 3;

constexpr std::uint8_t kFamilyCorva = 1;
constexpr std::uint8_t kFamilyPzn442 = 2;

void BeginLoad(SharedState& state)
{
    state.firmwareDateKnown = 0;
    std::memset(state.infoBlock, 0, sizeof state.infoBlock);
    // The texts are written whole by every path, so a caller that forgot to
    // empty them cannot get the previous file's model glued to this one's.
    state.modelText.clear();
    state.versionText.clear();
    // Every load starts from the start-up family, so one file always goes
    // out with one family header, whatever was loaded before it.
    state.familyHeader[1] = kFamilyCorva;
    state.checkedImageLength = 0;
    state.checkedImageCrc = 0;
}

// A file that cannot be trusted keeps no model index either: the version check
// and the upgrade take infoBlock[0] as the index of a record that is valid.
void RefuseFile(SharedState& state, const char* detail)
{
    state.modelText = kCrcErrorText;
    state.versionText = detail;
    state.firmwareValid = 0;
    state.firmwareDateKnown = 0;
    std::memset(state.infoBlock, 0, sizeof state.infoBlock);
}

// The last marker in the file wins, so the search runs from the end. A 0x55
// closer than kRecordSize - 1 bytes to the start has no six info bytes in
// front of it and is not a marker.
bool FindLastInfoRecord(const std::uint8_t* bytes, std::size_t size, std::uint8_t* info)
{
    for (std::size_t end = size; end >= kRecordSize; --end) {
        if (std::memcmp(bytes + end - sizeof kMarker, kMarker, sizeof kMarker) == 0) {
            std::memcpy(info, bytes + end - kRecordSize, kInfoSize);
            return true;
        }
    }
    return false;
}

bool InfoRecordValid(const std::uint8_t* info)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < kInfoSize; ++i)
        sum += info[i];
    return info[0] != 0 && (sum & 0xFF) == 0;
}

void TakeInfoRecord(SharedState& state)
{
    const unsigned index = state.infoBlock[0];
    char text[32];
    if (index < kModelTableRows) {
        state.modelText = kModelTable[index];
    } else {
        // No row for it: name the index so the user can tell files apart; the
        // family byte stays as it was, as for any model without an alias.
        std::snprintf(text, sizeof text, "Model #%u", index);
        state.modelText = text;
    }

    state.dateField1 = state.infoBlock[1];
    state.dateField2 = state.infoBlock[2];
    state.dateField3 = state.infoBlock[3];
    std::snprintf(text, sizeof text, "%d-%d-%d", state.dateField1, state.dateField2,
                  state.dateField3);
    state.versionText = text;

    if (state.modelText == "Corva") {
        state.familyHeader[1] = kFamilyCorva;
    } else if (state.modelText == "HX5TRA") {
        state.familyHeader[1] = kFamilyPzn442;
        state.modelText = "PZN442";
    }
    state.firmwareDateKnown = 1;
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

void ParseFileName(SharedState& state, std::string_view name)
{
    // A record that was found but failed the sum rule must not count as
    // present for the version check and the upgrade.
    state.infoBlock[0] = 0;

    std::size_t pos = 0;
    bool dateFollows = false;
    if (pos < name.size()) {
        char c = name[pos++];
        if (c == '-') {
            dateFollows = true;
        } else {
            for (;;) {
                state.modelText += c;
                if (state.modelText.size() == kModelTextLimit || pos == name.size())
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
        state.versionText = kNoDateText;
        if (state.modelText == "hx5tra") {
            state.familyHeader[1] = kFamilyPzn442;
            state.modelText = "PZN442";
        }
        state.modelText = PrintableText(state.modelText);
        return;
    }

    std::string fields[kDateFields];
    std::size_t field = 0;
    for (; pos < name.size() && name[pos] != '.'; ++pos) {
        const char c = name[pos];
        state.versionText += c;
        if (c == '-') {
            if (field < kDateFields)
                ++field;
        } else if (field < kDateFields && fields[field].size() < kDateFieldLimit) {
            fields[field] += c;
        }
    }

    if (state.modelText == "r315") {
        state.familyHeader[1] = kFamilyCorva;
        state.modelText = "Corva";
    } else {
        state.familyHeader[1] = kFamilyPzn442;
        if (state.modelText == "hx5tra")
            state.modelText = "PZN442";
    }
    state.dateField1 = DateFieldValue(fields[0]);
    state.dateField2 = DateFieldValue(fields[1]);
    state.dateField3 = DateFieldValue(fields[2]);
    state.firmwareDateKnown = 1;
    // A name may hold any byte but "/"; the texts are shown on screens.
    state.modelText = PrintableText(state.modelText);
    state.versionText = PrintableText(state.versionText);
}

void LoadFromImage(SharedState& state, std::string_view fileName, const std::uint8_t* bytes,
                   std::size_t size, bool tooLarge)
{
    if (tooLarge) {
        RefuseFile(state, kTooLargeDetail);
        return;
    }
    if (Crc16(bytes, static_cast<std::uint32_t>(size)) != 0) {
        RefuseFile(state, kCrcFailureDetail);
        return;
    }
    switch (FindBlankImage(bytes, size)) {
    case BlankImage::Empty:
        RefuseFile(state, kEmptyDetail);
        return;
    case BlankImage::AllZero:
        RefuseFile(state, kAllZeroDetail);
        return;
    case BlankImage::No:
        break;
    }
    state.checkedImageLength = static_cast<std::uint32_t>(size);
    state.checkedImageCrc = ImageBodyCrc(bytes, size);
    if (FindLastInfoRecord(bytes, size, state.infoBlock) && InfoRecordValid(state.infoBlock))
        TakeInfoRecord(state);
    else
        ParseFileName(state, fileName);
}

} // namespace

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

std::uint16_t ImageBodyCrc(const std::uint8_t* bytes, std::size_t size)
{
    constexpr std::size_t kTrailer = 2;
    return size < kTrailer ? 0 : Crc16(bytes, static_cast<std::uint32_t>(size - kTrailer));
}

void LoadFirmwareInfoFromBytes(SharedState& state, const std::string& fileName,
                               const std::uint8_t* bytes, std::size_t size)
{
    BeginLoad(state);
    const bool tooLarge = size > kImageCapacity;
    LoadFromImage(state, fileName, tooLarge ? nullptr : bytes, tooLarge ? 0 : size, tooLarge);
}

FirmwareFileResult LoadFirmwareInfo(SharedState& state, DialogServices& services,
                                    const std::string& fileName)
{
    BeginLoad(state);
    std::vector<std::uint8_t> image(kImageCapacity);
    const FirmwareFileResult read = ReadFirmwareFile(state.firmwarePath, image.data(), image.size());
    if (!read.Ok() && read.error != FirmwareFileResult::Error::TooLarge) {
        services.ShowWarning("File not exists!", "Warning");
        state.modelText = kCrcErrorText;
        state.firmwareValid = 0;
        return read;
    }
    LoadFromImage(state, fileName, image.data(), read.size, !read.Ok());
    return read;
}

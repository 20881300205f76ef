#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "WarningRecorder.h"
#include "firmware/Crc16.h"
#include "kvm/FirmwareInfoText.h"
#include "kvm/LoadFirmwareInfo.h"
#include "kvm/SharedState.h"
#include "tests/support/FirmwareTestFiles.h"

namespace {

using Bytes = FirmwareTestFiles::Bytes;

const char* const kNoDate = "Unable to recognize date.";
const char* const kCrcFailure = " You may not continue upgrade\n\twith this file.";
const char* const kTooLarge = " File is larger than 131072 bytes.";

// Values no load writes on its own, so a field that a path leaves alone shows.
constexpr std::uint8_t kUntouchedFamily = 7;
// Where no alias names a family, a load leaves the start-up family: the same
// file must always go out with the same family header.
constexpr int kStartupFamily = 1;
constexpr std::int32_t kUntouchedDate[3] = {99, 98, 97};

class LoadFirmwareInfoTest : public ::testing::Test {
protected:
    // What Select File does around the loader: empty both texts, store the
    // path, load, and mark the file valid unless it failed.
    void Load(const std::string& path, const std::string& name)
    {
        m_state->versionText.clear();
        m_state->modelText.clear();
        m_state->firmwarePath = path;
        LoadFirmwareInfo(*m_state, m_services, name);
        if (FirmwareCountsAsValid(*m_state))
            m_state->firmwareValid = 1;
    }

    void LoadContent(const std::string& name, const Bytes& content)
    {
        Load(m_files.Write("image.bin", content), name);
    }

    void MarkUntouched()
    {
        m_state->familyHeader[1] = kUntouchedFamily;
        m_state->dateField1 = kUntouchedDate[0];
        m_state->dateField2 = kUntouchedDate[1];
        m_state->dateField3 = kUntouchedDate[2];
    }

    void ExpectDates(std::int32_t d1, std::int32_t d2, std::int32_t d3, const std::string& where)
    {
        EXPECT_EQ(m_state->dateField1, d1) << where;
        EXPECT_EQ(m_state->dateField2, d2) << where;
        EXPECT_EQ(m_state->dateField3, d3) << where;
    }

    void ExpectRefused(const std::string& versionText, const std::string& where)
    {
        EXPECT_EQ(m_state->modelText, "CRC error.") << where;
        EXPECT_EQ(m_state->versionText, versionText) << where;
        EXPECT_EQ(m_state->firmwareValid, 0) << where;
        EXPECT_EQ(m_state->firmwareDateKnown, 0) << where;
        for (std::uint8_t byte : m_state->infoBlock)
            EXPECT_EQ(byte, 0) << where;
    }

    std::unique_ptr<SharedState> m_state = std::make_unique<SharedState>();
    WarningRecorder m_services;
    FirmwareTestFiles m_files;
};

struct NameCase {
    std::string name;
    std::string model;
    std::string version;
    int family;
    std::int32_t dates[3];
    int dateKnown;
};

std::vector<NameCase> NameCases()
{
    const int f = kStartupFamily;
    const auto& k = kUntouchedDate;
    return {
        {"r315-07-11-30.bin", "Corva", "07-11-30", 1, {7, 11, 30}, 1},
        {"hx5tra-7-5-14.bin", "PZN442", "7-5-14", 2, {7, 5, 14}, 1},
        {"-1-2-3.bin", "", "1-2-3", 2, {1, 2, 3}, 1},
        {"abc-1-2-3-4-5.bin", "abc", "1-2-3-4-5", 2, {1, 2, 3}, 1},
        {"abc-1.2-3.bin", "abc", "1", 2, {1, 0, 0}, 1},
        {"abc-.bin", "abc", "", 2, {0, 0, 0}, 1},
        {"abc-1-2-3", "abc", "1-2-3", 2, {1, 2, 3}, 1},
        {"-", "", "", 2, {0, 0, 0}, 1},
        {"a.b-1-2-3.bin", "a.b", "1-2-3", 2, {1, 2, 3}, 1},
        {"HX5TRA-1-2-3.bin", "HX5TRA", "1-2-3", 2, {1, 2, 3}, 1},
        {"R315-1-2-3.bin", "R315", "1-2-3", 2, {1, 2, 3}, 1},
        {"firmware.bin", "firmware.bin", kNoDate, f, {k[0], k[1], k[2]}, 0},
        {"hx5tra", "PZN442", kNoDate, 2, {k[0], k[1], k[2]}, 0},
        {"r315", "r315", kNoDate, f, {k[0], k[1], k[2]}, 0},
        {"", "", kNoDate, f, {k[0], k[1], k[2]}, 0},
        // Date fields: leading blanks, a sign, digits up to the first other
        // character; each field keeps its first 8 characters.
        {"abc- 7-+8-x9.bin", "abc", " 7-+8-x9", 2, {7, 8, 0}, 1},
        {"abc-\t12ab-3-4.bin", "abc", "\t12ab-3-4", 2, {12, 3, 4}, 1},
        // Control bytes of a name are kept: how they show is the front end's.
        {"\x1b]0;t\x07-1-2\n-3.bin", "\x1b]0;t\x07", "1-2\n-3", 2, {1, 2, 3}, 1},
        {"abc-123456789-2-3.bin", "abc", "123456789-2-3", 2, {12345678, 2, 3}, 1},
        {"abc-99999999-00000000-1.bin", "abc", "99999999-00000000-1", 2, {99999999, 0, 1}, 1},
        {"abc-1--3.bin", "abc", "1--3", 2, {1, 0, 3}, 1},
        // The first "-" as the 22nd character still ends the model text; as
        // the 23rd it comes too late.
        {std::string(21, 'm') + "-1-2-3.bin", std::string(21, 'm'), "1-2-3", 2, {1, 2, 3}, 1},
        {std::string(22, 'm') + "-1-2-3.bin", std::string(22, 'm'), kNoDate, f, {k[0], k[1], k[2]}, 0},
        {std::string(21, 'm'), std::string(21, 'm'), kNoDate, f, {k[0], k[1], k[2]}, 0},
        {std::string(40, 'm'), std::string(22, 'm'), kNoDate, f, {k[0], k[1], k[2]}, 0},
    };
}

TEST_F(LoadFirmwareInfoTest, FileNameGivesModelAndDateWhenThereIsNoRecord)
{
    const Bytes content = FirmwareTestFiles::WithCrc(FirmwareTestFiles::Filler(300));
    for (const NameCase& c : NameCases()) {
        MarkUntouched();
        LoadContent(c.name, content);
        const std::string where = "name \"" + c.name + "\"";
        EXPECT_EQ(m_state->modelText, c.model) << where;
        EXPECT_EQ(m_state->versionText, c.version) << where;
        EXPECT_EQ(m_state->familyHeader[1], c.family) << where;
        ExpectDates(c.dates[0], c.dates[1], c.dates[2], where);
        EXPECT_EQ(m_state->firmwareDateKnown, c.dateKnown) << where;
        EXPECT_EQ(m_state->infoBlock[0], 0) << where;
        EXPECT_EQ(m_state->firmwareValid, 1) << where;
        EXPECT_TRUE(m_services.m_warnings.empty()) << where;
    }
}

struct RecordCase {
    std::string what;
    Bytes body;        // the file before its CRC trailer
    std::string model; // from "abc-4-5-6.bin" when the record does not count
    std::string version;
    int family;
    std::int32_t dates[3];
    std::uint8_t modelIndex;
};

std::vector<RecordCase> RecordCases()
{
    using F = FirmwareTestFiles;
    const int f = kStartupFamily;
    return {
        {"Corva record amid data", F::Join({F::Filler(100), F::InfoRecord(1, 7, 11, 30), F::Filler(50)}),
         "Corva", "7-11-30", 1, {7, 11, 30}, 1},
        {"bytes 2,7,12,25,0,210", F::Join({F::Filler(20), F::RawRecord({2, 7, 12, 25, 0, 210})}),
         "PZN442", "7-12-25", 2, {7, 12, 25}, 2},
        {"QVR-7725 leaves the family byte", F::InfoRecord(3, 1, 2, 3), "QVR-7725", "1-2-3", f, {1, 2, 3}, 3},
        {"date bytes are unsigned", F::InfoRecord(1, 255, 200, 128), "Corva", "255-200-128", 1,
         {255, 200, 128}, 1},
        {"index 4 names itself", F::InfoRecord(4, 1, 2, 3), "Model #4", "1-2-3", f, {1, 2, 3}, 4},
        {"index 10 names itself", F::InfoRecord(10, 9, 8, 7), "Model #10", "9-8-7", f, {9, 8, 7}, 10},
        {"index 255 names itself", F::InfoRecord(255, 0, 0, 0), "Model #255", "0-0-0", f, {0, 0, 0}, 255},
        {"the later of two records wins",
         F::Join({F::InfoRecord(1, 1, 1, 1), F::Filler(30), F::InfoRecord(2, 2, 2, 2), F::Filler(3)}),
         "PZN442", "2-2-2", 2, {2, 2, 2}, 2},
        {"a later invalid record hides an earlier valid one",
         F::Join({F::InfoRecord(1, 1, 1, 1), F::RawRecord({1, 2, 3, 4, 5, 6})}),
         "abc", "4-5-6", 2, {4, 5, 6}, 0},
        {"sum 1 modulo 256", F::RawRecord({1, 7, 11, 30, 0, 208}), "abc", "4-5-6", 2, {4, 5, 6}, 0},
        {"index 0 with sum 0", F::RawRecord({0, 1, 2, 253, 0, 0}), "abc", "4-5-6", 2, {4, 5, 6}, 0},
        {"marker with its 0x55 at offset 9 counts", F::InfoRecord(1, 3, 4, 5), "Corva", "3-4-5", 1,
         {3, 4, 5}, 1},
        {"marker with its 0x55 at offset 8 does not",
         Bytes{1, 0, 0, 255, 0, 0xB1, 0xB2, 0xAA, 0x55, 0x10, 0x20}, "abc", "4-5-6", 2, {4, 5, 6}, 0},
        {"marker cut short by the trailer", F::Join({F::Filler(20), Bytes{1, 1, 1, 253, 0, 0, 0xB1, 0xB2, 0xAA}}),
         "abc", "4-5-6", 2, {4, 5, 6}, 0},
    };
}

TEST_F(LoadFirmwareInfoTest, InfoRecordGivesModelAndDate)
{
    for (const RecordCase& c : RecordCases()) {
        MarkUntouched();
        LoadContent("abc-4-5-6.bin", FirmwareTestFiles::WithCrc(c.body));
        EXPECT_EQ(m_state->modelText, c.model) << c.what;
        EXPECT_EQ(m_state->versionText, c.version) << c.what;
        EXPECT_EQ(m_state->familyHeader[1], c.family) << c.what;
        ExpectDates(c.dates[0], c.dates[1], c.dates[2], c.what);
        EXPECT_EQ(m_state->firmwareDateKnown, 1) << c.what;
        EXPECT_EQ(m_state->infoBlock[0], c.modelIndex) << c.what;
        EXPECT_EQ(m_state->firmwareValid, 1) << c.what;
    }
}

TEST_F(LoadFirmwareInfoTest, InfoBlockHoldsAllSixBytesOfTheRecord)
{
    LoadContent("x.bin", FirmwareTestFiles::WithCrc(FirmwareTestFiles::RawRecord({2, 7, 12, 25, 0, 210})));
    const std::uint8_t expected[6] = {2, 7, 12, 25, 0, 210};
    EXPECT_EQ(std::memcmp(m_state->infoBlock, expected, sizeof expected), 0);
}

// Nothing that holds no image passes, however good its CRC: an empty or
// all-zero file has the CRC 0, and a pipe or a device is never read (a FIFO
// without a writer would block for ever).
TEST_F(LoadFirmwareInfoTest, FilesThatHoldNoImageAreRefused)
{
    using Error = FirmwareFileResult::Error;
    const std::string fifo = m_files.PathOf("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string what;
        std::string path;
        std::string versionText;
        Error error;
    } cases[] = {
        {"empty", m_files.Write("r315-07-11-30.bin", {}), " File is empty.", Error::None},
        {"two zero bytes", m_files.Write("z2.bin", Bytes(2, 0)), " File holds only zero bytes.", Error::None},
        {"4096 zero bytes", m_files.Write("z4k.bin", Bytes(4096, 0)), " File holds only zero bytes.", Error::None},
        {"/dev/null", "/dev/null", "", Error::NotRegularFile},
        {"FIFO", fifo, "", Error::NotRegularFile},
        {"directory", m_files.Folder().string(), "", Error::IsDirectory},
        {"missing", m_files.PathOf("missing.bin"), "", Error::NotFound},
    };
    for (const auto& c : cases) {
        m_services.m_warnings.clear();
        m_state->firmwareValid = 1;
        m_state->firmwarePath = c.path;
        const FirmwareFileResult read = LoadFirmwareInfo(*m_state, m_services, "r315-07-11-30.bin");
        EXPECT_EQ(read.error, c.error) << c.what;
        ExpectRefused(c.versionText, c.what);
        EXPECT_EQ(m_state->checkedImageLength, 0u) << c.what;
        // The warning box for what cannot be read; a file read whole is refused by its texts.
        EXPECT_EQ(m_services.m_warnings.size(), c.error == Error::None ? 0u : 1u) << c.what;
    }
}

TEST_F(LoadFirmwareInfoTest, SizeLimit)
{
    const struct {
        std::size_t size;
        bool accepted;
    } cases[] = {{131071, true}, {131072, true}, {131073, false}, {200000, false}};
    for (const auto& c : cases) {
        // A good record and a good trailer, so the size alone decides.
        Bytes body = FirmwareTestFiles::Join(
            {FirmwareTestFiles::Filler(c.size - 12, 0x5A), FirmwareTestFiles::InfoRecord(2, 1, 2, 3)});
        const Bytes content = FirmwareTestFiles::WithCrc(body);
        ASSERT_EQ(content.size(), c.size);
        m_state->firmwareValid = 1;
        LoadContent("abc-4-5-6.bin", content);
        const std::string where = std::to_string(c.size) + " bytes";
        if (c.accepted) {
            EXPECT_EQ(m_state->modelText, "PZN442") << where;
            EXPECT_EQ(m_state->versionText, "1-2-3") << where;
            EXPECT_EQ(m_state->firmwareDateKnown, 1) << where;
            EXPECT_EQ(m_state->firmwareValid, 1) << where;
            EXPECT_EQ(m_state->checkedImageLength, c.size) << where;
        } else {
            ExpectRefused(kTooLarge, where);
        }
    }
}

TEST_F(LoadFirmwareInfoTest, BytesInMemoryFollowTheSameRules)
{
    const Bytes good = FirmwareTestFiles::WithCrc(FirmwareTestFiles::InfoRecord(1, 7, 11, 30));
    LoadFirmwareInfoFromBytes(*m_state, "abc-4-5-6.bin", good.data(), good.size());
    EXPECT_EQ(m_state->modelText, "Corva");
    EXPECT_EQ(m_state->versionText, "7-11-30");

    LoadFirmwareInfoFromBytes(*m_state, "abc-4-5-6.bin", nullptr, 0);
    ExpectRefused(" File is empty.", "no bytes");

    // Too large: refused before a byte is looked at.
    LoadFirmwareInfoFromBytes(*m_state, "abc-4-5-6.bin", good.data(), kImageCapacity + 1);
    ExpectRefused(kTooLarge, "in memory");
}

TEST_F(LoadFirmwareInfoTest, UnreadableFileShowsTheWarningAndLeavesTheVersionEmpty)
{
    const std::string paths[] = {m_files.PathOf("missing.bin"), m_files.Folder().string(), ""};
    for (const std::string& path : paths) {
        m_services.m_warnings.clear();
        m_state->firmwareValid = 1;
        Load(path, "r315-07-11-30.bin");
        ASSERT_EQ(m_services.m_warnings.size(), 1u) << path;
        EXPECT_EQ(m_services.m_warnings[0].first, "File not exists!");
        EXPECT_EQ(m_services.m_warnings[0].second, "Warning");
        ExpectRefused("", path);
    }
}

TEST_F(LoadFirmwareInfoTest, CrcFailureIsRefusedEvenWithAGoodRecord)
{
    Bytes content = FirmwareTestFiles::WithCrc(FirmwareTestFiles::InfoRecord(1, 7, 11, 30));
    content.back() ^= 0x01;
    m_state->firmwareValid = 1;
    LoadContent("r315-07-11-30.bin", content);
    ExpectRefused(kCrcFailure, "CRC failure");
    EXPECT_TRUE(m_services.m_warnings.empty());
}

TEST_F(LoadFirmwareInfoTest, NextFileKeepsOnlyWhatItsPathDoesNotWrite)
{
    using F = FirmwareTestFiles;
    const struct {
        std::string name;
        Bytes content;
        std::string model;
        int family;
        std::int32_t dates[3];
        int dateKnown;
        std::uint8_t modelIndex;
    } steps[] = {
        {"x.bin", F::WithCrc(F::InfoRecord(1, 1, 2, 3)), "Corva", 1, {1, 2, 3}, 1, 1},
        // Model and date from its own name, not from the record before.
        {"abc-4-5-6.bin", F::WithCrc(F::Filler(40)), "abc", 2, {4, 5, 6}, 1, 0},
        {"r315-7-8-9.bin", F::WithCrc(F::Filler(40)), "Corva", 1, {7, 8, 9}, 1, 0},
        // No date: the dates stay, but are not known.
        {"firmware.bin", F::WithCrc(F::Filler(40)), "firmware.bin", 1, {7, 8, 9}, 0, 0},
        {"abc-4-5-6.bin", F::Filler(40), "CRC error.", 1, {7, 8, 9}, 0, 0},
        {"x.bin", F::WithCrc(F::InfoRecord(3, 10, 11, 12)), "QVR-7725", 1, {10, 11, 12}, 1, 3},
        {"hx5tra", F::WithCrc(F::Filler(40)), "PZN442", 2, {10, 11, 12}, 0, 0},
        // The family byte does not depend on the file loaded before.
        {"x.bin", F::WithCrc(F::InfoRecord(3, 13, 14, 15)), "QVR-7725", 1, {13, 14, 15}, 1, 3},
    };
    int step = 0;
    for (const auto& s : steps) {
        LoadContent(s.name, s.content);
        const std::string where = "step " + std::to_string(++step) + " " + s.name;
        EXPECT_EQ(m_state->modelText, s.model) << where;
        EXPECT_EQ(m_state->familyHeader[1], s.family) << where;
        ExpectDates(s.dates[0], s.dates[1], s.dates[2], where);
        EXPECT_EQ(m_state->firmwareDateKnown, s.dateKnown) << where;
        EXPECT_EQ(m_state->infoBlock[0], s.modelIndex) << where;
    }
}

TEST_F(LoadFirmwareInfoTest, LeftoverTextsOfACallerDoNotLeakIntoTheResult)
{
    m_state->modelText = "old";
    m_state->versionText = "old";
    m_state->firmwarePath = m_files.Write("image.bin", FirmwareTestFiles::WithCrc(FirmwareTestFiles::Filler(10)));
    LoadFirmwareInfo(*m_state, m_services, "hx5tra-1-2-3.bin");
    EXPECT_EQ(m_state->modelText, "PZN442");
    EXPECT_EQ(m_state->versionText, "1-2-3");
}

TEST_F(LoadFirmwareInfoTest, VeryLongNamesStayInsideTheTextBuffer)
{
    const std::string digits(5000, '7');
    const struct {
        std::string name;
        std::size_t modelLength;
        std::int32_t date1;
    } cases[] = {
        {"abc-" + digits + "-2-3.bin", 3, 77777777},
        {std::string(5000, 'n'), 22, kUntouchedDate[0]},
        {std::string(2040, 'm'), 22, kUntouchedDate[0]},
        {"-" + std::string(3000, '-') + digits, 0, 0},
    };
    for (const auto& c : cases) {
        MarkUntouched();
        LoadContent(c.name, FirmwareTestFiles::WithCrc(FirmwareTestFiles::Filler(10)));
        const std::string where = "name of " + std::to_string(c.name.size()) + " characters";
        EXPECT_EQ(m_state->modelText.size(), c.modelLength) << where;
        EXPECT_EQ(m_state->dateField1, c.date1) << where;

        const std::string full = "Firmware infomation :\nModel : " + m_state->modelText +
            "\nVersion : " + m_state->versionText +
            (m_state->firmwareDateKnown ? "\n\nPress Check KVM to compare version date." : "");
        const std::string text = FirmwareInfoText(*m_state);
        EXPECT_EQ(text, full.substr(0, kTextBufferSize - 1)) << where;
        EXPECT_EQ(m_state->textBuffer[std::min<std::size_t>(full.size(), kTextBufferSize - 1)], '\0');
        // The fields that follow the scratch buffer are untouched.
        EXPECT_EQ(m_state->port, nullptr) << where;
        EXPECT_TRUE(m_state->portName.empty()) << where;
        EXPECT_STREQ(m_state->scanPortName, "COM") << where;
    }
}

} // namespace

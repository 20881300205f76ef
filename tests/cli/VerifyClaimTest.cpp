// What upgrade --verify's exit 0 is sold as: the switch came back running
// the file's firmware. Each row is the built kvm-upgrade-cli against a
// simulated switch on a pseudo-terminal reached through a link, as an
// administrator's udev name is; a row may put another switch behind that
// link while the command waits for the restart. Whatever the row, exit 0
// needs the image stored whole and a switch that reports the file's model
// and date.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "CliChild.h"
#include "SwitchRestarts.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"

namespace {

using namespace std::chrono_literals;

enum class File {
    Recorded,  // info record: PZN442, 7-12-25
    NameDated, // no info record; "pzn442-9-1-26.bin" gives it a date by its name only
};

struct VerifyCase {
    const char* name;
    File file;
    void (*sim)(SwitchSimConfig&);
    const char* verify;
    void (*newcomer)(SwitchSimConfig&); // put behind the link during the wait; null: none
    int exitCode;
};

void PrintTo(const VerifyCase& c, std::ostream* os)
{
    *os << c.name;
}

using SwitchRestarts::BackWithItsOldDate;
using SwitchRestarts::BackWithTheFile;
using SwitchRestarts::NeverBack;

// Another switch (the link now names another adapter), dated as the file.
void AnotherModelDatedAsTheFile(SwitchSimConfig& c)
{
    c.model = "OTHER9";
}

const VerifyCase kCases[] = {
    {"BackWithTheFile", File::Recorded, BackWithTheFile, "--verify=20", nullptr, 0},
    // The switch said which date it came back with; the file's is another.
    {"ProbeOnlyBackWithItsOldDate", File::Recorded, BackWithItsOldDate, "--verify=probe-only,20", nullptr, 8},
    // The switch that answers is not the one upgraded, nor of the file's model.
    {"AnotherSwitchBehindTheLink", File::Recorded, NeverBack, "--verify=20", AnotherModelDatedAsTheFile, 8},
    // A date from a name is no date the switch reports: refused as a file
    // without one, nothing sent.
    {"NameDatedFile", File::NameDated, BackWithTheFile, "--verify=20", nullptr, 2},
};

class VerifyClaim : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(VerifyClaim, ExitZeroOnlyWhenTheSwitchRunsTheFile)
{
    const VerifyCase& c = GetParam();
    FirmwareTestFiles files;
    const std::string path = c.file == File::Recorded
        ? files.Write("fw.bin", FirmwareTestFiles::RecordedImage(1000))
        : files.Write("pzn442-9-1-26.bin", FirmwareTestFiles::WithCrc(FirmwareTestFiles::Filler(998)));
    const std::string link = files.PathOf("switch");

    SwitchSimConfig config;
    config.linkPath = link;
    c.sim(config);
    auto sim = std::make_unique<SwitchSim>(config);
    std::string error;
    ASSERT_TRUE(sim->Start(&error)) << error;

    CliChild child({"--json", "--map", "COM1=" + link, "upgrade", "--port", "COM1", "--yes", c.verify, path});
    std::unique_ptr<SwitchSim> newcomer;
    SwitchSimReport upgraded;
    if (c.newcomer) {
        ASSERT_TRUE(child.WaitForErr("to restart...", 60s)) << child.ErrSoFar();
        upgraded = sim->Report();
        sim->Stop();
        SwitchSimConfig other;
        other.linkPath = link;
        c.newcomer(other);
        newcomer = std::make_unique<SwitchSim>(other);
        ASSERT_TRUE(newcomer->Start(&error)) << error;
    }
    const CliChild::Result result = child.Wait(90s);
    SCOPED_TRACE("stdout:\n" + result.out + "\nstderr:\n" + result.err);
    if (!c.newcomer)
        upgraded = sim->Report();

    EXPECT_EQ(result.exitCode, c.exitCode);
    const nlohmann::json json = nlohmann::json::parse(result.out, nullptr, false);
    ASSERT_TRUE(json.is_object());
    if (result.exitCode == 0) {
        EXPECT_EQ(upgraded.image, FirmwareTestFiles::ReadBytes(path));
        ASSERT_TRUE(json["switch_after"].is_object());
        EXPECT_EQ(json["switch_after"]["model"], json["file"]["model"]);
        EXPECT_EQ(json["verified"], true);
    } else {
        EXPECT_NE(json["verified"], true);
    }
}

INSTANTIATE_TEST_SUITE_P(Restarts, VerifyClaim, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

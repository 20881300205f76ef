#include <gtest/gtest.h>

#include <ostream>

#include <chrono>
#include <string>

#include "KvmRig.h"

namespace {

struct TrimCase {
    int lineCount;
    bool trims;
};

void PrintTo(const TrimCase& c, std::ostream* os)
{
    *os << "Count" << c.lineCount;
}

class TrimLogTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimLogTest, EmptiesTheLogOnlyFromSevenEntriesOn)
{
    const TrimCase c = GetParam();
    KvmRig rig;
    rig.state.logText = "Opening COM1 ....................[ Failed ]\n";
    rig.state.logLineCount = c.lineCount;

    const auto start = std::chrono::steady_clock::now();
    rig.services.TrimLog();
    const auto elapsed = std::chrono::steady_clock::now() - start;

    if (c.trims) {
        EXPECT_EQ(rig.state.logText, "");
        EXPECT_EQ(rig.state.logLineCount, 0);
        ASSERT_EQ(rig.services.Snapshots().size(), 1u);
        EXPECT_EQ(rig.services.Snapshots()[0].log, ""); // the emptied log is shown
        EXPECT_GE(elapsed, std::chrono::milliseconds(800));
    } else {
        EXPECT_EQ(rig.state.logText, "Opening COM1 ....................[ Failed ]\n");
        EXPECT_EQ(rig.state.logLineCount, c.lineCount);
        EXPECT_TRUE(rig.services.Snapshots().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, TrimLogTest,
                         ::testing::Values(TrimCase{0, false}, TrimCase{6, false}, TrimCase{7, true},
                                           TrimCase{9, true}),
                         [](const auto& info) { return "Count" + std::to_string(info.param.lineCount); });

} // namespace

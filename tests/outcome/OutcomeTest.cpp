// Every outcome with its stable --json word and its exit status (the
// README's table), and the upgrade's verdicts that no end-to-end test
// reaches without a file that changes under it or a switch that goes away
// between probe and upgrade.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "kvm/KvmOperations.h"
#include "outcome/Judgement.h"
#include "outcome/Outcome.h"

TEST(Outcome, EachHasItsWordAndItsExitStatus)
{
    const struct {
        Outcome outcome;
        const char* name;
        int exitStatus;
    } rows[] = {
        {Outcome::Done, "done", 0},
        {Outcome::NothingToDo, "nothing-to-do", 3},
        {Outcome::Failed, "failed", 1},
        {Outcome::Declined, "declined", 1},
        {Outcome::Usage, "usage", 2},
        {Outcome::Refused, "refused", 2},
        {Outcome::PortUnavailable, "port-unavailable", 4},
        {Outcome::PortBusy, "port-busy", 5},
        {Outcome::NoSwitch, "no-switch", 6},
        {Outcome::TransferFailed, "transfer-failed", 7},
        {Outcome::Unverified, "unverified", 8},
        {Outcome::Interrupted, "interrupted", 128 + 15},
    };
    ASSERT_EQ(std::size(rows), std::size(kAllOutcomes)) << "a new outcome needs its row";
    std::set<std::string> names;
    for (const auto& row : rows) {
        EXPECT_EQ(OutcomeName(row.outcome), std::string(row.name));
        EXPECT_EQ(ExitStatusOf(row.outcome, 15), row.exitStatus) << row.name;
        names.insert(row.name);
    }
    EXPECT_EQ(names.size(), std::size(rows)) << "the words are distinct";
}

TEST(Outcome, UpgradeVerdictsBeforeAnyImageData)
{
    const struct {
        const char* name;
        UpgradeStop stop;
        Outcome outcome;
        const char* cause;
    } rows[] = {
        {"the file changed after it was checked", UpgradeStop::FileRefused, Outcome::Refused,
         "the file changed since it was checked; nothing was sent"},
        {"the switch was lost before the upgrade", UpgradeStop::SwitchLost, Outcome::NoSwitch,
         "COM2 (/dev/ttyUSB0): the switch stopped answering before the upgrade; nothing was sent"},
    };
    for (const auto& row : rows) {
        RunFacts facts;
        facts.report.probeResult = kProbeFoundOnNamedPort;
        facts.report.portName = "COM2";
        facts.report.stop = row.stop;
        facts.device = "/dev/ttyUSB0";
        const Verdict verdict = JudgeUpgrade(facts, UpgradeOutcome::Failed, Confirmation{true, false});
        EXPECT_EQ(verdict.outcome, row.outcome) << row.name;
        EXPECT_EQ(verdict.cause, row.cause) << row.name;
    }
}

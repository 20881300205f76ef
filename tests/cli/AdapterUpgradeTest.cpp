// Upgrades through the cable most users have: a USB-serial adapter that holds
// the switch's replies for its latency timer, and a switch that is slow to
// store a block. Both programs run as built, kvm-upgrade-cli against
// kvm-switch-sim at the line's own rate. Every row must end in "Upgrade
// complete!" with the file stored byte for byte; a row that ends in exit 0
// with anything else stored is a false success and says so first.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "CliRunner.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FirmwareTestFiles.h"

namespace {

using namespace std::chrono_literals;

// Ten blocks, the last one short.
constexpr std::size_t kImageSize = 9 * 256 + 100;

struct Row {
    std::string name;
    std::vector<std::string> simArgs;
};

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

std::vector<Row> Rows()
{
    const struct {
        const char* name;
        std::vector<std::string> args;
    } holds[] = {
        {"NoAdapter", {}},
        {"Hold16", {"--adapter-hold", "16"}},
        {"Hold32", {"--adapter-hold", "32"}},
        {"Hold16Random", {"--adapter-hold", "16", "--adapter-hold-random"}},
        {"Hold32Random", {"--adapter-hold", "32", "--adapter-hold-random"}},
    };
    const struct {
        const char* name;
        std::vector<std::string> args;
    } faults[] = {
        {"NoFault", {}},
        {"FirstBlockRejectedOnce", {"--reject-block", "0"}},
        {"MiddleBlockRejectedOnce", {"--reject-block", "4"}},
        {"LastBlockRejectedOnce", {"--reject-block", "9"}},
        {"MiddleBlockUnansweredOnce", {"--ignore-block", "4"}},
        {"LastBlockUnansweredOnce", {"--ignore-block", "9"}},
    };
    std::vector<Row> rows;
    for (const auto& hold : holds) {
        for (const auto& fault : faults) {
            Row row{std::string(hold.name) + "_" + fault.name, hold.args};
            // A seed of each row's own: the random rows sample many phases
            // of the timer, not the same few again and again.
            row.simArgs.insert(row.simArgs.end(), {"--seed", std::to_string(rows.size() + 1)});
            row.simArgs.insert(row.simArgs.end(), fault.args.begin(), fault.args.end());
            rows.push_back(row);
        }
    }
    rows.push_back({"Flash18ms_LastBlockRejectedOnce", {"--flash-delay-us", "18000", "--reject-block", "9"}});
    rows.push_back({"Flash32ms_LastBlockRejectedOnce", {"--flash-delay-us", "32000", "--reject-block", "9"}});
    rows.push_back({"Hold16Random_Flash5ms_MiddleBlockRejectedOnce",
                    {"--adapter-hold", "16", "--adapter-hold-random", "--seed", "33", "--flash-delay-us",
                     "5000", "--reject-block", "4"}});
    return rows;
}

class AdapterUpgrade : public ::testing::TestWithParam<Row> {};

TEST_P(AdapterUpgrade, StoresTheWholeFileOrSaysItFailed)
{
    FirmwareTestFiles files;
    const std::string path = files.WriteImage("fw.bin", kImageSize);
    const std::string storedPath = files.PathOf("stored.bin");
    std::vector<std::string> simArgs = {KVM_SWITCH_SIM_PATH, "--once", "--line-timing", "--image-out", storedPath};
    simArgs.insert(simArgs.end(), GetParam().simArgs.begin(), GetParam().simArgs.end());
    ChildProcess sim(simArgs);
    const std::string device = sim.ReadOutLine();
    ASSERT_EQ(device.rfind("device: ", 0), 0u) << device;

    const CliRunner::Result result = CliRunner::Run(
        {"--json", "upgrade", "--yes", "--port", "COM1", "--map", "COM1=" + device.substr(8), path});
    // The switch reports the end of the image only after it has written it.
    const bool sealed = sim.ReadOutLine(result.exitCode == 0 ? 10s : 0ms).starts_with("end of image");
    if (!sealed)
        sim.Signal(SIGTERM);
    sim.Wait();
    const FirmwareTestFiles::Bytes stored = sealed ? FirmwareTestFiles::ReadBytes(storedPath) : FirmwareTestFiles::Bytes{};
    const bool whole = stored == FirmwareTestFiles::ReadBytes(path);

    if (result.exitCode == 0) {
        ASSERT_TRUE(whole) << "FALSE SUCCESS: exit 0, but the switch stored " << stored.size() << " of "
                           << kImageSize << " bytes" << (stored.size() == kImageSize ? ", not the file's" : "")
                           << "\n" << result.out;
    }
    ASSERT_EQ(result.exitCode, 0) << result.out;
}

INSTANTIATE_TEST_SUITE_P(HoldsAndFaults, AdapterUpgrade, ::testing::ValuesIn(Rows()),
                         [](const auto& info) { return info.param.name; });

} // namespace

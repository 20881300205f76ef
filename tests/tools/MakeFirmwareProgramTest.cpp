// The kvm-make-firmware program: "--opt=value" makes the same file as "--opt value".
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int Make(std::vector<std::string> args, const fs::path& output)
{
    args.insert(args.begin(), KVM_MAKE_FIRMWARE_PATH);
    args.push_back(output.string());
    ChildProcess program(args);
    return program.Wait().exitCode;
}

TEST(MakeFirmwareProgram, TakesValuesAfterEquals)
{
    const fs::path dir = fs::temp_directory_path() / ("make-firmware-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const struct {
        std::vector<std::string> spaced;
        std::vector<std::string> joined;
    } cases[] = {
        {{"--size", "100"}, {"--size=100"}},
        {{"--model-index", "3"}, {"--model-index=3"}},
        {{"--date", "1-2-3"}, {"--date=1-2-3"}},
        {{"--seed", "5"}, {"--seed=5"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.joined[0]);
        ASSERT_EQ(Make(c.spaced, dir / "spaced.bin"), 0);
        ASSERT_EQ(Make(c.joined, dir / "joined.bin"), 0);
        EXPECT_EQ(Contents(dir / "joined.bin"), Contents(dir / "spaced.bin"));
    }
    EXPECT_EQ(fs::file_size(dir / "joined.bin"), 65536u);
    ASSERT_EQ(Make({"--size=100"}, dir / "small.bin"), 0);
    EXPECT_EQ(fs::file_size(dir / "small.bin"), 100u);
    EXPECT_EQ(Make({"--size=1"}, dir / "tiny.bin"), 2);
    EXPECT_EQ(Make({"--no-record=1"}, dir / "flag.bin"), 2);
    fs::remove_all(dir);
}

} // namespace

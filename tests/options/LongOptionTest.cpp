#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "options/LongOption.h"

TEST(LongOption, SplitsOnlyLongOptionsAtTheirFirstEquals)
{
    struct Case {
        const char* word;
        const char* name;
        std::optional<std::string> value;
    };
    const Case cases[] = {
        {"--size=100", "--size", "100"},
        {"--map=COM1=/dev/ttyS0", "--map", "COM1=/dev/ttyS0"},
        {"--screenshot=", "--screenshot", ""},
        {"--size", "--size", std::nullopt},
        {"--", "--", std::nullopt},
        {"-p=COM1", "-p=COM1", std::nullopt},
        {"fw=1.bin", "fw=1.bin", std::nullopt},
        {"", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.word);
        const LongOption option = LongOption::Split(c.word);
        EXPECT_EQ(option.name, c.name);
        EXPECT_EQ(option.value, c.value);
    }
}

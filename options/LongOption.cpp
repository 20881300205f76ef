#include "options/LongOption.h"

LongOption LongOption::Split(std::string_view word)
{
    const std::size_t eq = word.find('=');
    if (!word.starts_with("--") || eq == std::string_view::npos)
        return {std::string(word), std::nullopt};
    return {std::string(word.substr(0, eq)), std::string(word.substr(eq + 1))};
}

#pragma once

#include <optional>
#include <string>
#include <string_view>

// One word of a command line, read as a long option. Every program of the
// project takes "--name value" and "--name=value" alike; this is the one
// place that splits the second form, so that the programs cannot drift apart.
struct LongOption {
    // "--size=100" gives {"--size", "100"}; only the first '=' splits, so
    // "--map=COM1=/dev/x" gives {"--map", "COM1=/dev/x"}. A word that is no
    // long option ("-p", "file.bin", "--") and one without '=' come back whole
    // with no value: whether the next word is the value is the caller's to know.
    static LongOption Split(std::string_view word);

    std::string name;
    std::optional<std::string> value;
};

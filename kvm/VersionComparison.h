#pragma once

#include <cstdint>

// The firmware file's date against the switch's, as Check Version decides it:
// Unknown when the file's date is not known or the switch's was not read.
enum class VersionComparison {
    Unknown,
    FileNewer,
    Same,
    SwitchNewer,
    // The file's date has a field the switch cannot hold: it reports each in
    // one byte, so such a file is neither newer nor older than any switch
    // (a name "hx5tra-7-12-2025" would otherwise be newer for ever).
    NotComparable,
};

// Whether a switch could ever report this date.
constexpr bool SwitchCanHoldDate(std::int32_t field1, std::int32_t field2, std::int32_t field3)
{
    auto fits = [](std::int32_t field) { return field >= 0 && field <= 0xFF; };
    return fits(field1) && fits(field2) && fits(field3);
}

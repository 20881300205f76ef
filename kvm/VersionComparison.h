#pragma once

// The firmware file's date against the switch's, as Check Version decides it:
// Unknown when the file's date is not known or the switch's was not read.
enum class VersionComparison {
    Unknown,
    FileNewer,
    Same,
    SwitchNewer,
};

#include "cli/FirmwareSelection.h"

#include <filesystem>
#include <system_error>

#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "cli/CommandResult.h"
#include "firmware/Crc16.h"
#include "firmware/FileName.h"
#include "firmware/PrintableText.h"
#include "kvm/FirmwareInfoText.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"

bool SelectCommandFile(SharedState& state, CliServices& services, const std::string& file, bool verbose,
                       CommandResult& result)
{
    const std::string name = FileNameOf(file);
    const FileSelection selection = SelectFirmwareFile(state, services, file, name);
    const FirmwareFileResult& read = selection.read;
    if (!read.Ok() && read.error != FirmwareFileResult::Error::TooLarge) {
        // The loader's warning says "File not exists!" for a directory, a
        // file the user may not read or a pipe as well: the reason follows,
        // with or without --verbose. A file too large is explained by the
        // information text.
        services.PrintError("kvm-upgrade-cli: " + PrintableText(file) + ": " + read.Describe());
    }
    if (verbose)
        services.SetStatus(name);

    result.fileGiven = true;
    result.filePath = file;
    result.fileSize = read.size;
    if (read.error == FirmwareFileResult::Error::TooLarge) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(file, error);
        if (!error)
            result.fileSize = size;
    }
    if (selection.valid && state.checkedImage.size() >= 2)
        result.fileCrc16 = Crc16(state.checkedImage.data(), static_cast<std::uint32_t>(state.checkedImage.size() - 2));
    result.fileModel = state.modelText;
    // Without a known date the loader's text says so in words, which is no
    // version for a script to compare.
    result.fileVersion = state.firmwareDateKnown == 1 ? state.versionText : "";
    result.fileValid = selection.valid;
    if (!selection.valid) {
        // What the information text gives as the reason ("CRC error.", "File
        // is empty."), or why the file could not be read at all.
        std::string why = read.Ok() ? state.modelText + " " + state.versionText : read.Describe();
        // One line, as the information text's model and version lines say it.
        for (char& c : why) {
            if (c == '\n' || c == '\t')
                c = ' ';
        }
        for (std::size_t at = why.find("  "); at != std::string::npos; at = why.find("  "))
            why.erase(at, 1);
        result.cause = PrintableText(file) + " is no valid firmware file: " + PrintableText(why);
    }
    return selection.valid;
}

int RefuseFirmwareFile(SharedState& state, CliServices& services, const std::string& file,
                       const std::string& what)
{
    services.PrintError(FirmwareInfoText(state));
    services.PrintError("kvm-upgrade-cli: " + PrintableText(file) + " is no valid firmware file: " + what +
                        ".");
    return kExitInvalidFile;
}

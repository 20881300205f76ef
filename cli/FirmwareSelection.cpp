#include "cli/FirmwareSelection.h"

#include "cli/CliExitCodes.h"
#include "cli/CliServices.h"
#include "outcome/RunRecording.h"
#include "firmware/FileName.h"
#include "firmware/PrintableText.h"
#include "kvm/FirmwareInfoText.h"
#include "kvm/SelectFile.h"
#include "kvm/SharedState.h"

bool SelectCommandFile(SharedState& state, CliServices& services, const std::string& file, bool verbose,
                       RunRecord& result)
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

    RecordFile(result, file, selection, state);
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

#include "cli/TranscriptHeader.h"

#include <cstdio>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/RunIdentity.h"
#include "firmware/Crc16.h"
#include "firmware/FileName.h"
#include "firmware/FirmwareFile.h"
#include "firmware/FirmwareInfo.h"
#include "firmware/PrintableText.h"
#include "kvm/Version.h"
#include "outcome/RunRecord.h"

namespace {

// A value as one word of the line: quoted, with its quotes and backslashes
// escaped, whenever it is not a plain word.
std::string Value(const std::string& text)
{
    const std::string printable = PrintableText(text);
    bool plain = !printable.empty();
    for (const char c : printable)
        plain = plain && c != ' ' && c != '"' && c != '\\' && c != '=';
    if (plain)
        return printable;
    std::string quoted = "\"";
    for (const char c : printable) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string Field(const char* key, const std::string& value)
{
    return std::string(" ") + key + "=" + Value(value);
}

std::string FileFields(const std::string& path)
{
    if (path.empty())
        return Field("file", "none");
    std::vector<std::uint8_t> image(kImageCapacity);
    const FirmwareFileResult read = ReadFirmwareFile(path, image.data(), image.size());
    std::string fields = Field("file", path);
    if (!read.Ok())
        return fields + Field("unreadable", read.Describe());
    fields += Field("size", std::to_string(read.size));
    const FirmwareInfo info = ParseFirmware(image.data(), read.size, FileNameOf(path));
    if (!info.valid)
        return fields + Field("invalid", info.modelText + " " + info.versionText);
    fields += Field("crc16", Crc16Text(Crc16(image.data(), static_cast<std::uint32_t>(read.size - 2)))) +
        Field("model", info.modelText);
    return fields +
        Field("date", info.dateKnown ? DateFieldsText(info.dateField1, info.dateField2, info.dateField3) : "unknown");
}

} // namespace

std::string TranscriptBeginLine(int argc, const char* const argv[], const CliOptions& options)
{
    std::string command;
    for (int i = 0; i < argc; ++i)
        command += (i == 0 ? "" : " ") + Value(argv[i]);
    std::string line = Field("tool", std::string("kvm-upgrade-cli ") + KVM_VERSION).substr(1);
    line += " command=" + Value(command) + FileFields(options.File());
    if (options.GetCommand() != CliOptions::Command::Info) {
        line += Field("port", options.Port());
        if (const std::optional<std::string> device = PortTable::Process().Resolve(options.Port()))
            line += Field("device", *device);
    }
    return line + Field("user", RunIdentity::UserName()) + Field("host", RunIdentity::HostName());
}

std::string TranscriptEndLine(const RunRecord& record)
{
    std::string line = std::to_string(record.ExitStatus()) + Field("outcome", OutcomeName(record.outcome));
    // The file as the run checked it: it may have changed since the first
    // line read it.
    if (record.fileGiven && record.fileCrc16)
        line += Field("size", std::to_string(record.fileSize)) + Field("crc16", Crc16Text(*record.fileCrc16));
    if (record.portOpened)
        line += Field("port", record.portName) + Field("device", record.portDevice);
    if (record.verified)
        line += Field("verified", *record.verified ? "true" : "false");
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", record.Seconds());
    return line + Field("seconds", seconds);
}

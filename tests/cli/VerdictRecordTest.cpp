// The command line's verdicts as scripts read them: for each way a run can
// end, the exit status and the whole --json object, written down as the
// program gives them. Where the verdict is worked out may move; what a
// script reads must not, so any change to a field, its order or a cause's
// wording shows here as a difference, to be made on purpose or not at all.
// A difference made on purpose: the failure shows the object as it now is;
// read it, and write it into the row.
//
// Each row is the built kvm-upgrade-cli against a simulated switch of its
// own on a pseudo-terminal; a row whose upgrade is done also has the switch's
// stored image equal to the file. What differs from run to run is replaced before
// the comparison: the pseudo-terminal's path by <pty>, the test's folder by
// <dir>, the holding process's pid by <holder>; "seconds" is left out.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "CliRunner.h"
#include "SwitchRestarts.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"

namespace {

using Json = nlohmann::ordered_json;
using namespace std::chrono_literals;

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

using Placeholders = std::vector<std::pair<std::string, std::string>>; // placeholder, what it stands for

void Normalise(Json& value, const Placeholders& placeholders)
{
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        for (const auto& [placeholder, actual] : placeholders)
            ReplaceAll(text, actual, placeholder);
        value = text;
    } else if (value.is_structured()) {
        for (Json& member : value)
            Normalise(member, placeholders);
    }
}

std::vector<std::string> Words(std::string args, const Placeholders& placeholders)
{
    for (const auto& [placeholder, actual] : placeholders)
        ReplaceAll(args, placeholder, actual);
    std::vector<std::string> words = {"--json"};
    std::istringstream in(args);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

std::string LastLine(const std::string& text)
{
    std::istringstream in(text);
    std::string last;
    for (std::string line; std::getline(in, line);)
        last = line;
    return last;
}

enum class Line {
    Free, // the switch's line, nobody else on it
    Held, // another program holds it open
};

struct Row {
    const char* name;
    std::string args; // after --json; <pty> and <dir> as in the object
    void (*sim)(SwitchSimConfig&);
    Line line;
    int exitCode;
    const char* json; // without "seconds"
};

// How the row's switch behaves. fw.bin is dated 7-12-25.
void Well(SwitchSimConfig&) {}
void DatedBeforeTheFile(SwitchSimConfig& c)
{
    c.date[0] = 9, c.date[1] = 1, c.date[2] = 25;
}
void DatedAfterTheFile(SwitchSimConfig& c)
{
    c.date[0] = 6, c.date[1] = 1, c.date[2] = 26;
}
void Silent(SwitchSimConfig& c)
{
    c.silent = true;
}
void NoGoAhead(SwitchSimConfig& c)
{
    c.noGoAhead = true;
}
void HangsUpAfterTwoBlocks(SwitchSimConfig& c)
{
    c.hangupAfterBlock = 1;
}
// One refusal past the budget.
void RefusesTheSecondBlockFiveTimes(SwitchSimConfig& c)
{
    c.rejectBlock = 1, c.rejectCount = 5;
}

using SwitchRestarts::BackLate;
using SwitchRestarts::BackWithItsOldDate;
using SwitchRestarts::BackWithTheFile;
using SwitchRestarts::NeverBack;

void PrintTo(const Row& row, std::ostream* os)
{
    *os << row.name;
}

// <dir>/fw.bin: 1000 bytes (four blocks, the last a short one), model
// PZN442 dated 7-12-25; empty.bin: no bytes; damaged.bin: fw.bin with one
// bit flipped.
const Row kRows[] = {
    {"UpgradeDone", "--map COM1=<pty> upgrade --port COM1 --yes <dir>/fw.bin", Well, Line::Free, 0,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": null, "comparison": "unknown",
         "outcome": "done", "exit_code": 0, "cause": null,
         "blocks_sent": 4, "bytes_sent": 1000, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"CheckDone", "--map COM1=<pty> check --port COM1", Well, Line::Free, 0,
     R"json({"command": "check", "port": {"name": "COM1", "device": "<pty>"},
         "file": null,
         "switch": {"model": "PZN442", "date": "07-12-25"}, "comparison": "unknown",
         "outcome": "done", "exit_code": 0, "cause": null,
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"CheckFileNewer", "--map COM1=<pty> check --port COM1 --file <dir>/fw.bin", DatedBeforeTheFile, Line::Free, 0,
     R"json({"command": "check", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "09-01-25"}, "comparison": "file-newer",
         "outcome": "done", "exit_code": 0, "cause": null,
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"CheckFileSame", "--map COM1=<pty> check --port COM1 --file <dir>/fw.bin", Well, Line::Free, 3,
     R"json({"command": "check", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "07-12-25"}, "comparison": "same",
         "outcome": "nothing-to-do", "exit_code": 3, "cause": null,
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"CheckFileOlder", "--map COM1=<pty> check --port COM1 --file <dir>/fw.bin", DatedAfterTheFile, Line::Free, 3,
     R"json({"command": "check", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "06-01-26"}, "comparison": "switch-newer",
         "outcome": "nothing-to-do", "exit_code": 3, "cause": null,
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"IfNewerSame", "--map COM1=<pty> upgrade --port COM1 --yes --if-newer <dir>/fw.bin", Well, Line::Free, 3,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "07-12-25"}, "comparison": "same",
         "outcome": "nothing-to-do", "exit_code": 3, "cause": null,
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"IfNewerOlder", "--map COM1=<pty> upgrade --port COM1 --yes --if-newer <dir>/fw.bin", DatedAfterTheFile, Line::Free, 3,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "06-01-26"}, "comparison": "switch-newer",
         "outcome": "nothing-to-do", "exit_code": 3, "cause": null,
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"IfNewerNewer", "--map COM1=<pty> upgrade --port COM1 --yes --if-newer <dir>/fw.bin", DatedBeforeTheFile, Line::Free, 0,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "09-01-25"}, "comparison": "file-newer",
         "outcome": "done", "exit_code": 0, "cause": null,
         "blocks_sent": 4, "bytes_sent": 1000, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"CheckSilentNamedPort", "--map COM1=<pty> check --port COM1", Silent, Line::Free, 6,
     R"json({"command": "check", "port": {"name": "COM1", "device": "<pty>"},
         "file": null,
         "switch": null, "comparison": "unknown",
         "outcome": "no-switch", "exit_code": 6, "cause": "COM1 (<pty>): no switch answered the probe (is the upgrade cable in the switch's upgrade port, and the switch powered? or try --port AUTO)",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"CheckSilentScan", "--map COM1=<pty> check", Silent, Line::Free, 6,
     R"json({"command": "check", "port": null,
         "file": null,
         "switch": null, "comparison": "unknown",
         "outcome": "no-switch", "exit_code": 6, "cause": "no switch answered on COM1 to COM12: 1 port opened and stayed silent (is the upgrade cable in the switch's upgrade port, and the switch powered?)",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"UpgradeBusy", "--map COM1=<pty> upgrade --port COM1 --yes <dir>/fw.bin", Well, Line::Held, 5,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": null, "comparison": "unknown",
         "outcome": "port-busy", "exit_code": 5, "cause": "COM1 (<pty>): device busy (held by sleep, pid <holder>); nothing was sent",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"CheckBusyScan", "--map COM1=<pty> check", Well, Line::Held, 5,
     R"json({"command": "check", "port": null,
         "file": null,
         "switch": null, "comparison": "unknown",
         "outcome": "port-busy", "exit_code": 5, "cause": "COM1 (<pty>): device busy (held by sleep, pid <holder>)",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"CheckMissingDevice", "--map COM1=/nonexistent check --port COM1", Well, Line::Free, 4,
     R"json({"command": "check", "port": {"name": "COM1", "device": "/nonexistent"},
         "file": null,
         "switch": null, "comparison": "unknown",
         "outcome": "port-unavailable", "exit_code": 4, "cause": "COM1 (/nonexistent): no such device (unplugged, or another name since it was plugged in again: see --list-ports)",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"UpgradeNoGoAhead", "--map COM1=<pty> upgrade --port COM1 --yes <dir>/fw.bin", NoGoAhead, Line::Free, 7,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": null, "comparison": "unknown",
         "outcome": "transfer-failed", "exit_code": 7, "cause": "COM1 (<pty>): the switch did not give the go-ahead for the upgrade; no image data was sent, but the switch may have begun to erase its firmware: run the upgrade again if it does not work normally",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"UpgradeHangUpMidImage", "--map COM1=<pty> upgrade --port COM1 --yes <dir>/fw.bin", HangsUpAfterTwoBlocks, Line::Free, 7,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": null, "comparison": "unknown",
         "outcome": "transfer-failed", "exit_code": 7, "cause": "the upgrade failed after 256 of 1000 bytes were acknowledged: the switch stopped answering; COM1 (<pty>): the line hung up (device unplugged?). The switch may not start: keep its power and cable, and run the upgrade again",
         "blocks_sent": 1, "bytes_sent": 256, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"UpgradeRejectedTooOften", "--map COM1=<pty> upgrade --port COM1 --yes <dir>/fw.bin", RefusesTheSecondBlockFiveTimes, Line::Free, 7,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": null, "comparison": "unknown",
         "outcome": "transfer-failed", "exit_code": 7, "cause": "the upgrade failed after 256 of 1000 bytes were acknowledged: the switch refused block 2 too often. The switch may not start: keep its power and cable, and run the upgrade again",
         "blocks_sent": 1, "bytes_sent": 256, "resends": 0, "rejections": 5, "verified": null, "switch_after": null, "log": null})json"},
    {"UpgradeEmptyFile", "--map COM1=<pty> upgrade --port COM1 --yes <dir>/empty.bin", Well, Line::Free, 2,
     R"json({"command": "upgrade", "port": null,
         "file": {"path": "<dir>/empty.bin", "size": 0, "crc16": null, "model": "", "version": "", "valid": false},
         "switch": null, "comparison": "unknown",
         "outcome": "refused", "exit_code": 2, "cause": "<dir>/empty.bin is no valid firmware file: CRC error. File is empty.",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"UpgradeDamagedFile", "--map COM1=<pty> upgrade --port COM1 --yes <dir>/damaged.bin", Well, Line::Free, 2,
     R"json({"command": "upgrade", "port": null,
         "file": {"path": "<dir>/damaged.bin", "size": 1000, "crc16": null, "model": "", "version": "", "valid": false},
         "switch": null, "comparison": "unknown",
         "outcome": "refused", "exit_code": 2, "cause": "<dir>/damaged.bin is no valid firmware file: CRC error. You may not continue upgrade with this file.",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"UpgradeNoTerminalNoYes", "--map COM1=<pty> upgrade --port COM1 <dir>/fw.bin", Well, Line::Free, 2,
     R"json({"command": "upgrade", "port": null,
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": null, "comparison": "unknown",
         "outcome": "usage", "exit_code": 2, "cause": "no terminal to confirm on and no --yes; nothing was sent",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"VerifyBackWithTheFile", "--map COM1=<pty> upgrade --port COM1 --yes --verify=20 <dir>/fw.bin", BackWithTheFile, Line::Free, 0,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "09-01-25"}, "comparison": "file-newer",
         "outcome": "done", "exit_code": 0, "cause": null,
         "blocks_sent": 4, "bytes_sent": 1000, "resends": 0, "rejections": 0, "verified": true, "switch_after": {"model": "PZN442", "date": "07-12-25"}, "log": null})json"},
    {"VerifyBackWithItsOldDate", "--map COM1=<pty> upgrade --port COM1 --yes --verify=5 <dir>/fw.bin", BackWithItsOldDate, Line::Free, 8,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "09-01-25"}, "comparison": "file-newer",
         "outcome": "unverified", "exit_code": 8, "cause": "COM1 (<pty>): the switch came back with 09-01-25, not the file's 7-12-25: the new firmware did not take. Run the upgrade again; if the switch keeps that date, check that the file is meant for it",
         "blocks_sent": 4, "bytes_sent": 1000, "resends": 0, "rejections": 0, "verified": false, "switch_after": {"model": "PZN442", "date": "09-01-25"}, "log": null})json"},
    {"VerifyNeverBack", "--map COM1=<pty> upgrade --port COM1 --yes --verify=2 <dir>/fw.bin", NeverBack, Line::Free, 8,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "07-12-25"}, "comparison": "same",
         "outcome": "unverified", "exit_code": 8, "cause": "COM1 (<pty>): no answer within 2 s of the upgrade: the switch may still be restarting, or may not start. Keep its power and cable, run check in a while, and if it never answers, run the upgrade again",
         "blocks_sent": 4, "bytes_sent": 1000, "resends": 0, "rejections": 0, "verified": false, "switch_after": null, "log": null})json"},
    {"VerifyBackLate", "--map COM1=<pty> upgrade --port COM1 --yes --verify=1 <dir>/fw.bin", BackLate, Line::Free, 8,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": {"model": "PZN442", "date": "07-12-25"}, "comparison": "same",
         "outcome": "unverified", "exit_code": 8, "cause": "COM1 (<pty>): no answer within 1 s of the upgrade: the switch may still be restarting, or may not start. Keep its power and cable, run check in a while, and if it never answers, run the upgrade again",
         "blocks_sent": 4, "bytes_sent": 1000, "resends": 0, "rejections": 0, "verified": false, "switch_after": null, "log": null})json"},
    {"VerifyFileWithoutDate", "--map COM1=<pty> upgrade --port COM1 --yes --verify <dir>/nodate.bin", Well, Line::Free, 2,
     R"json({"command": "upgrade", "port": null,
         "file": {"path": "<dir>/nodate.bin", "size": 1000, "crc16": "0xFF50", "model": "nodate.bin", "version": "", "valid": true},
         "switch": null, "comparison": "unknown",
         "outcome": "usage", "exit_code": 2, "cause": "the file's date is not known (no info record, no date in its name), so --verify cannot confirm the upgrade; give --verify=probe-only to check only that the switch answers again after it, or leave --verify out; nothing was sent",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"VerifyProbeOnlyFileWithoutDate", "--map COM1=<pty> upgrade --port COM1 --yes --verify=probe-only,20 <dir>/nodate.bin", Well, Line::Free, 0,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/nodate.bin", "size": 1000, "crc16": "0xFF50", "model": "nodate.bin", "version": "", "valid": true},
         "switch": {"model": "PZN442", "date": "07-12-25"}, "comparison": "unknown",
         "outcome": "done", "exit_code": 0, "cause": null,
         "blocks_sent": 4, "bytes_sent": 1000, "resends": 0, "rejections": 0, "verified": true, "switch_after": {"model": "PZN442", "date": "07-12-25"}, "log": null})json"},
    {"IfNewerDateNoSwitchHolds", "--map COM1=<pty> upgrade --port COM1 --yes --if-newer <dir>/hx5tra-7-12-2025.bin", Well, Line::Free, 3,
     R"json({"command": "upgrade", "port": {"name": "COM1", "device": "<pty>"},
         "file": {"path": "<dir>/hx5tra-7-12-2025.bin", "size": 1000, "crc16": "0xFF50", "model": "PZN442", "version": "7-12-2025", "valid": true},
         "switch": {"model": "PZN442", "date": "07-12-25"}, "comparison": "not-comparable",
         "outcome": "nothing-to-do", "exit_code": 3, "cause": "the file's date 7-12-2025 has a field above 255, which no switch can report: the two dates cannot be compared; nothing was sent",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"InfoGood", "info <dir>/fw.bin", Well, Line::Free, 0,
     R"json({"command": "info", "port": null,
         "file": {"path": "<dir>/fw.bin", "size": 1000, "crc16": "0x5DEF", "model": "PZN442", "version": "7-12-25", "valid": true},
         "switch": null, "comparison": "unknown",
         "outcome": "done", "exit_code": 0, "cause": null,
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
    {"InfoMissingFile", "info <dir>/missing.bin", Well, Line::Free, 2,
     R"json({"command": "info", "port": null,
         "file": {"path": "<dir>/missing.bin", "size": 0, "crc16": null, "model": "", "version": "", "valid": false},
         "switch": null, "comparison": "unknown",
         "outcome": "refused", "exit_code": 2, "cause": "<dir>/missing.bin is no valid firmware file: no such file",
         "blocks_sent": 0, "bytes_sent": 0, "resends": 0, "rejections": 0, "verified": null, "switch_after": null, "log": null})json"},
};

class VerdictRecord : public ::testing::TestWithParam<Row> {};

TEST_P(VerdictRecord, IsAsBefore)
{
    const Row& row = GetParam();
    FirmwareTestFiles files;
    const FirmwareTestFiles::Bytes image = FirmwareTestFiles::RecordedImage(1000, 4);
    FirmwareTestFiles::Bytes damaged = image;
    damaged[500] ^= 0x08;
    files.Write("fw.bin", image);
    files.Write("empty.bin", {});
    files.Write("damaged.bin", damaged);
    // No info record: the model and date come from the name, or are unknown.
    const FirmwareTestFiles::Bytes recordless = FirmwareTestFiles::WithCrc(FirmwareTestFiles::Filler(998));
    files.Write("nodate.bin", recordless);
    files.Write("hx5tra-7-12-2025.bin", recordless);

    SwitchSimConfig config;
    row.sim(config);
    SwitchSim sim(config);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    Placeholders placeholders = {{"<pty>", sim.DevicePath()}, {"<dir>", files.Folder().string()}};
    std::unique_ptr<ChildProcess> holder;
    if (row.line == Line::Held) {
        // As a terminal program left running: the line open, no lock taken.
        holder = std::make_unique<ChildProcess>(std::vector<std::string>{
            "/bin/sh", "-c", "exec 3<>\"$0\" && echo held && exec sleep 600", sim.DevicePath()});
        ASSERT_EQ(holder->ReadOutLine(30s), "held") << holder->ErrSoFar();
        placeholders.emplace_back("pid <holder>", "pid " + std::to_string(holder->Pid()));
    }

    const CliRunner::Result result = CliRunner::Run(Words(row.args, placeholders));
    SCOPED_TRACE("stdout:\n" + result.out + "\nstderr:\n" + result.err);
    EXPECT_EQ(result.exitCode, row.exitCode);
    Json json = Json::parse(LastLine(result.out), nullptr, false);
    ASSERT_TRUE(json.is_object()) << "the last line of stdout is no JSON object";
    EXPECT_TRUE(json["seconds"].is_number());
    // An upgrade that claims success is held against what the switch stored.
    if (json["outcome"] == "done" && json["bytes_sent"] != 0) {
        EXPECT_EQ(sim.Report().image, FirmwareTestFiles::ReadBytes(json["file"]["path"].get<std::string>()));
    }
    json.erase("seconds");
    Normalise(json, placeholders);
    EXPECT_EQ(json.dump(), Json::parse(row.json).dump());
}

INSTANTIATE_TEST_SUITE_P(Runs, VerdictRecord, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

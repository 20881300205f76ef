#pragma once

#include <cstdint>
#include <string>

#include "outcome/Judgement.h"
#include "outcome/RunRecord.h"

struct SharedState;
struct FileSelection;

// The run record is filled here and nowhere else, fact by fact as the run
// learns them, so that what an interrupt finds in it is what the run knew.

// The firmware file as Select File found it: path, size, CRC-16, model and
// version, validity and, for a file that may not be used, why (its own
// information text's words, or why it could not be read). The model of a
// file that is not valid is left empty: the loader's text there is a reason,
// not a model.
void RecordFile(RunRecord& record, const std::string& path, const FileSelection& selection,
                const SharedState& state);

// A file refused before any port was touched.
void RecordRefusedFile(RunRecord& record);

// The port the switch answered on, as soon as it is known.
void RecordSwitchPort(RunRecord& record, const std::string& portName, const std::string& device);

// A check's or an upgrade's verdict and the facts it rests on: the port,
// what the switch said of its version (kept from an earlier check of the
// same run), how far an upgrade got.
void RecordVerdict(RunRecord& record, const RunFacts& facts, const Verdict& verdict);

// The upgrade was sent and --verify's wait for the switch begins: until it
// ends, the upgrade counts as not verified.
void RecordAwaitingRestart(RunRecord& record);

// What the wait found (facts after KvmOperations::AwaitRestart) and its
// verdict; the upgrade's own figures stay.
void RecordVerification(RunRecord& record, const RunFacts& facts, const Verdict& verdict);

// The --log transcript, and why not all of it reached its file (empty when
// all did); the outcome stays.
void RecordTranscript(RunRecord& record, const std::string& path, const std::string& failure);

// A signal ended the run: what the switch acknowledged so far, if the
// transfer ran, and the port the switch answered on, if the run had not
// recorded it yet (portName empty when none had answered). During --verify's
// wait the upgrade itself stays recorded as sent.
void RecordInterrupt(RunRecord& record, int signo, bool duringTransfer, std::uint32_t blocksAcknowledged,
                     std::uint32_t bytesAcknowledged, const std::string& portName);

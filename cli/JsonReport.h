#pragma once

#include <string>

struct RunRecord;

// --json: the result as one JSON object on one line. Its field names are
// documented as stable in kvm-upgrade-cli(1); add fields, never rename.
std::string JsonReport(const RunRecord& result);

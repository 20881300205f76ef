#pragma once

#include <functional>

struct SharedState;
struct RunRecord;
class CliOptions;
class CliServices;

// What every command of kvm-upgrade-cli works with; the result is filled in
// as the command goes, for the exit status, the summary and --json.
struct CommandContext {
    SharedState& state;
    CliServices& services;
    const CliOptions& options;
    RunRecord& result;
    bool inIsTerminal = false;
    // Hands a copy of the result so far to whoever must report the run if
    // an interrupt ends it (the --json object): call it as facts are learnt.
    std::function<void()> publish = [] {};
};

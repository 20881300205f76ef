#pragma once

struct SharedState;
struct CommandResult;
class CliOptions;
class CliServices;

// What every command of kvm-upgrade-cli works with; the result is filled in
// as the command goes, for the exit status, the summary and --json.
struct CommandContext {
    SharedState& state;
    CliServices& services;
    const CliOptions& options;
    CommandResult& result;
    bool inIsTerminal = false;
};

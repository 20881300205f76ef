#include "CliChild.h"

#include <cstdlib>

#ifndef KVM_CLI_PATH
#error "KVM_CLI_PATH must name the kvm-upgrade-cli executable"
#endif

namespace {

// The machine's own port settings stay out of every child (set but empty is
// none); a test that wants some sets them itself.
[[maybe_unused]] const bool kNoKeptSettings = [] {
    for (const char* variable : {"KVM_UPGRADE_SYSTEM_CONFIG", "KVM_UPGRADE_USER_CONFIG", "KVM_UPGRADE_MAP",
                                 "KVM_UPGRADE_PORT"})
        setenv(variable, "", 1);
    return true;
}();

std::vector<std::string> CliArgs(const std::vector<std::string>& args)
{
    std::vector<std::string> all = {KVM_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

ChildProcess::Setup ProcessSetup(const CliChild::Setup& setup)
{
    using Out = CliChild::Setup::Out;
    using Stream = ChildProcess::Stream;
    ChildProcess::Setup process;
    process.user = setup.user;
    process.terminal = setup.terminal;
    const bool onTerminal = setup.terminal >= 0;
    process.err = onTerminal ? Stream::Terminal : Stream::Pipe;
    switch (setup.out) {
    case Out::File:
        process.out = onTerminal ? Stream::Terminal : Stream::File;
        break;
    case Out::Closed:
        process.out = Stream::Closed;
        break;
    case Out::ReaderGone:
        process.out = Stream::ReaderGone;
        break;
    }
    return process;
}

} // namespace

CliChild::CliChild(const std::vector<std::string>& args) : CliChild(args, Setup{}) {}

CliChild::CliChild(const std::vector<std::string>& args, const Setup& setup)
    : ChildProcess(CliArgs(args), ProcessSetup(setup))
{
}

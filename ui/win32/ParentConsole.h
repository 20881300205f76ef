#pragma once

// kvm-upgrade.exe is a windowed program: Windows gives it no console, so
// what --help, --version and --list-ports print would go nowhere when it is
// started from a Command Prompt. Output redirected to a file or a pipe
// already has somewhere to go and is left alone.
class ParentConsole {
public:
    // Points stdout and stderr that have no destination at the console of
    // the program that started this one, if it has one.
    static void AttachIfUnset();
};

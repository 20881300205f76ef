#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "kvm/SharedState.h"
#include "kvm/Version.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "serial/StandardStreams.h"
#include "serial/SystemPorts.h"
#include "ui/CommandLine.h"
#include "ui/win32/CUpgradeApp.h"
#include "ui/win32/ParentConsole.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ReopenClosedStandardStreams();
    ParentConsole::AttachIfUnset();
    const CommandLine options = CommandLine::Parse(__argc, __argv);
    // There is no window toolkit here to take options of its own.
    const std::string error = !options.error.empty()        ? options.error
                              : options.toolkitArgs.size() > 1 ? "unknown option " + options.toolkitArgs[1]
                                                               : std::string();
    if (!error.empty()) {
        std::cerr << "kvm-upgrade: " << error << "\n" << CommandLine::Usage();
        return 2;
    }
    if (options.showHelp) {
        std::cout << CommandLine::Usage();
        return 0;
    }
    if (options.showVersion) {
        std::cout << KVM_VERSION << "\n";
        return 0;
    }
    std::string mapError;
    if (!options.ApplyPortTable(PortTable::Process(), mapError)) {
        std::cerr << "kvm-upgrade: " << mapError << "\n";
        return 2;
    }
    if (options.listPorts) {
        std::cout << SystemPorts::Listing(PortTable::Process());
        return 0;
    }

    // The application object first, then the shared texts, then the one
    // serial port, closed.
    CUpgradeApp app;
    auto state = std::make_unique<SharedState>();
    CSerialPort port;
    state->port = &port;

    if (!options.screenshot.empty()) {
        if (!CUpgradeApp::SaveScreenshot(*state, options.screenshot)) {
            std::cerr << "kvm-upgrade: cannot write " << options.screenshot << "\n";
            return 1;
        }
        return 0;
    }
    app.InitInstance(*state);
    return 0;
}

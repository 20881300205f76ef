#include <windows.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "kvm/SharedState.h"
#include "serial/CSerialPort.h"
#include "serial/StandardStreams.h"
#include "ui/CommandLine.h"
#include "ui/win32/CUpgradeApp.h"
#include "ui/win32/ParentConsole.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    ReopenClosedStandardStreams();
    ParentConsole::AttachIfUnset();
    CommandLine options = CommandLine::Parse(__argc, __argv);
    // There is no window toolkit here to take options of its own.
    if (const std::optional<int> status = options.RunEarly(std::cout, std::cerr, true))
        return *status;

    // The application object first, then the shared texts, then the one
    // serial port, closed.
    CUpgradeApp app;
    auto state = std::make_unique<SharedState>();
    CSerialPort port;
    state->port = &port;
    // The port the selector starts on.
    state->portName = options.port;

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

#include <QByteArray>
#include <QString>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kvm/SharedState.h"
#include "serial/CSerialPort.h"
#include "serial/StandardStreams.h"
#include "ui/qt/CUpgradeApp.h"
#include "ui/CommandLine.h"

int main(int argc, char** argv)
{
    // Before anything is opened: a serial port must not become stdout.
    ReopenClosedStandardStreams();
    CommandLine options = CommandLine::Parse(argc, argv);
    // Qt takes the options left over (-platform ...).
    if (const std::optional<int> status = options.RunEarly(std::cout, std::cerr, false))
        return *status;
    // A picture of the dialog needs no window system.
    if (!options.screenshot.empty())
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));

    std::vector<std::string> toolkitArgs = options.toolkitArgs;
    std::vector<char*> qtArgv;
    for (std::string& arg : toolkitArgs)
        qtArgv.push_back(arg.data());
    qtArgv.push_back(nullptr);
    int qtArgc = static_cast<int>(toolkitArgs.size());

    // The application object first, then the shared texts, then the one
    // serial port, closed.
    CUpgradeApp app(qtArgc, qtArgv.data());
    if (qtArgc > 1) {
        std::cerr << "kvm-upgrade: unknown option " << qtArgv[1] << "\n" << CommandLine::Usage();
        return 2;
    }
    auto state = std::make_unique<SharedState>();
    CSerialPort port;
    state->port = &port;
    // The port the selector starts on.
    state->portName = options.port;

    if (!options.screenshot.empty()) {
        if (!CUpgradeApp::SaveScreenshot(*state, QString::fromStdString(options.screenshot))) {
            std::cerr << "kvm-upgrade: cannot write " << options.screenshot << "\n";
            return 1;
        }
        return 0;
    }
    app.InitInstance(*state);
    return 0;
}

#include <QByteArray>
#include <QString>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "kvm/SharedState.h"
#include "kvm/Version.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "serial/StandardStreams.h"
#include "serial/SystemPorts.h"
#include "ui/qt/CUpgradeApp.h"
#include "ui/CommandLine.h"

int main(int argc, char** argv)
{
    // Before anything is opened: a serial port must not become stdout.
    ReopenClosedStandardStreams();
    const CommandLine options = CommandLine::Parse(argc, argv);
    if (!options.error.empty()) {
        std::cerr << "kvm-upgrade: " << options.error << "\n" << CommandLine::Usage();
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
    std::string error;
    if (!options.ApplyPortTable(PortTable::Process(), error)) {
        std::cerr << "kvm-upgrade: " << error << "\n";
        return 2;
    }
    if (options.listPorts) {
        std::cout << SystemPorts::Listing(PortTable::Process());
        return 0;
    }
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

#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kvm/SharedState.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "tools/SwitchSim.h"
#include "ui/qt/CUpgradeDlg.h"

// The process-wide objects of one run of the program, made afresh for each
// test: the shared state, the port (looking names up in its own table) and
// the dialog, destroyed first.
struct DialogRig {
    DialogRig()
    {
        state->port = &port;
    }
    // count simulated switches as COM1, COM2, ..., each with config; false
    // when one does not start. They live as long as the rig, after the dialog.
    bool StartSwitches(int count, const SwitchSimConfig& config)
    {
        for (int n = 1; n <= count; ++n) {
            switches.push_back(std::make_unique<SwitchSim>(config));
            if (!switches.back()->Start())
                return false;
            table.Map("COM" + std::to_string(n), switches.back()->DevicePath());
        }
        return true;
    }

    CUpgradeDlg& Dialog()
    {
        if (!dialog)
            dialog = std::make_unique<CUpgradeDlg>(*state);
        return *dialog;
    }

    std::vector<std::unique_ptr<SwitchSim>> switches;
    PortTable table;
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
    CSerialPort port{&table};
    std::unique_ptr<CUpgradeDlg> dialog;
};

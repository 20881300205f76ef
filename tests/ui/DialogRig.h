#pragma once

#include <memory>

#include "kvm/SharedState.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "ui/CUpgradeDlg.h"

// The process-wide objects of one run of the program, made afresh for each
// test: the shared state, the port (looking names up in its own table) and
// the dialog, destroyed first.
struct DialogRig {
    DialogRig()
    {
        state->port = &port;
    }
    CUpgradeDlg& Dialog()
    {
        if (!dialog)
            dialog = std::make_unique<CUpgradeDlg>(*state);
        return *dialog;
    }

    PortTable table;
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
    CSerialPort port{&table};
    std::unique_ptr<CUpgradeDlg> dialog;
};

#pragma once

#include <filesystem>
#include <memory>
#include <system_error>
#include <string>

#include "RecordingServices.h"
#include "tests/support/FirmwareTestFiles.h"
#include "firmware/FirmwareInfo.h"
#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "tools/SwitchSim.h"

// The operations wired to a recording front end and a port whose COM names
// lead to simulated switches. Members are torn down in reverse: the
// operations (joining a worker) first, the shared state last.
class KvmRig {
public:
    KvmRig()
    {
        state.port = &port;
        services.Watch(&ops);
    }

    void Map(const std::string& portName, const SwitchSim& sim) { table.Map(portName, sim.DevicePath()); }
    // The switch on portName, and portName chosen in the port selector.
    void Attach(const std::string& portName, const SwitchSim& sim)
    {
        Map(portName, sim);
        services.SetPortSelection(portName);
    }

    // A named-port upgrade of a valid file, as the Upgrade button would start it.
    void SelectFirmware(const std::string& path, std::uint8_t modelIndex = 0, std::uint8_t family = 1)
    {
        state.firmwarePath = path;
        state.firmwareValid = 1;
        state.infoBlock[0] = modelIndex;
        state.familyHeader[1] = family;
        // What the loader would have checked: the upgrade sends only that.
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec))
            return;
        const FirmwareTestFiles::Bytes bytes = FirmwareTestFiles::ReadBytes(path);
        state.checkedImageLength = static_cast<std::uint32_t>(bytes.size());
        state.checkedImage = bytes;
    }

    // The record holds 192 KiB of buffers: on the heap, not the test's stack.
    std::unique_ptr<SharedState> ownedState = std::make_unique<SharedState>();
    SharedState& state = *ownedState;
    PortTable table;
    CSerialPort port{&table};
    RecordingServices services{state};
    KvmOperations ops{state, services};
};

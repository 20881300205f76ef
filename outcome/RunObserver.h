#pragma once

#include <functional>
#include <string>
#include <vector>

#include "outcome/Judgement.h"
#include "serial/SerialError.h"

struct SharedState;
class CSerialPort;
class KvmOperations;

// What a check or an upgrade needs judged besides the operations' report:
// every port that failed to open is kept, so that the verdict can explain a
// scan that found nothing, and handed to onOpenFailure as it happens (the
// command line's --verbose says it at once). Lives while the operations
// run; the probe opens ports on the front end's thread only.
class RunObserver {
public:
    using OpenFailureHandler = std::function<void(const SerialError&)>;

    RunObserver(SharedState& state, CSerialPort& port, OpenFailureHandler onOpenFailure = {});
    ~RunObserver();
    RunObserver(const RunObserver&) = delete;
    RunObserver& operator=(const RunObserver&) = delete;

    // The facts of the operation that ran last. Ask once its worker has been
    // waited for.
    RunFacts Facts(const KvmOperations& operations) const;
    // The device behind portName as the port object opened it or failed to:
    // the table is not asked again. Empty when neither happened.
    std::string DeviceOf(const std::string& portName) const;

private:
    SharedState& m_state;
    CSerialPort& m_port;
    std::vector<SerialError> m_openFailures;
};

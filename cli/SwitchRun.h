#pragma once

#include <vector>

#include "cli/Verdict.h"
#include "serial/SerialError.h"

struct SharedState;
class CliServices;
class CSerialPort;
class KvmOperations;

// What a check or an upgrade needs besides the operations: every port that
// failed to open is kept (and, with --verbose, said at once), so that the
// verdict can explain a scan that found nothing. Lives while the operations
// run; the probe opens ports on the front end's thread only.
class SwitchRun {
public:
    SwitchRun(SharedState& state, CliServices& services, CSerialPort& port, bool verbose);
    ~SwitchRun();
    SwitchRun(const SwitchRun&) = delete;
    SwitchRun& operator=(const SwitchRun&) = delete;

    // The facts of the operation that ran last. Ask once its worker has been
    // waited for.
    RunFacts Facts(const KvmOperations& operations) const;

private:
    SharedState& m_state;
    CSerialPort& m_port;
    std::vector<SerialError> m_openFailures;
};

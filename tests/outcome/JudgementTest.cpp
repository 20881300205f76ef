// Which cause a failed probe is put down to, where no switch is needed to
// tell: the order of preference among the ports of a scan, and the remarks
// that only the machine's state gives (the kernel console).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "outcome/Judgement.h"
#include "kvm/KvmOperations.h"

namespace {

SerialError Failure(const char* port, SerialError::Kind kind)
{
    SerialError error;
    error.kind = kind;
    error.portName = port;
    error.device = std::string("/dev/") + port;
    return error;
}

TEST(Verdict, ProbeFailuresByCause)
{
    using K = SerialError::Kind;
    const struct {
        const char* name;
        int probeResult;
        std::vector<SerialError> failures;
        int silentPorts;
        std::string console;
        int exitCode;
        std::string cause;
    } cases[] = {
        {"named port missing", kProbeNamedPortFailed, {Failure("COM2", K::NoSuchDevice)}, 0, "", 4,
         "COM2 (/dev/COM2): no such device"},
        {"named port busy", kProbeNamedPortFailed, {Failure("COM2", K::Busy)}, 0, "", 5, "device busy"},
        {"named port silent", kProbeNamedPortSilent, {}, 0, "", 6, "COM2 (/dev/ttyS0): no switch answered the probe"},
        {"the kernel console", kProbeNamedPortSilent, {}, 0, "ttyS0", 6, "it is the kernel console (ttyS0)"},
        {"scan: nothing mapped", kProbeScanFoundNothing, {Failure("COM1", K::UnknownName)}, 0, "", 4,
         "no serial port to scan"},
        // A port that opened and stayed silent outweighs one that did not open.
        {"scan: silent and denied", kProbeScanFoundNothing, {Failure("COM1", K::PermissionDenied)}, 1, "", 6,
         "1 port opened and stayed silent (is the upgrade cable in the switch's upgrade port, and the switch powered?); COM1 (/dev/COM1): permission denied"},
        {"scan: silent and busy", kProbeScanFoundNothing, {Failure("COM4", K::Busy)}, 2, "", 5,
         "COM4 (/dev/COM4): device busy (held by another program); no switch answered elsewhere (2 ports"},
        // A busy port is the likeliest reason among those that did not open.
        {"scan: denied then busy", kProbeScanFoundNothing,
         {Failure("COM1", K::PermissionDenied), Failure("COM2", K::Busy), Failure("COM3", K::UnknownName)}, 0, "",
         5, "COM2 (/dev/COM2): device busy (held by another program) (and 1 more port could not be opened)"},
    };
    for (const auto& c : cases) {
        RunFacts facts;
        facts.report.probeResult = c.probeResult;
        facts.report.portName = "COM2";
        facts.device = "/dev/ttyS0";
        facts.openFailures = c.failures;
        facts.silentPorts = c.silentPorts;
        facts.kernelConsole = c.console;
        const Verdict verdict = *JudgeProbe(facts);
        EXPECT_EQ(verdict.ExitStatus(), c.exitCode) << c.name;
        EXPECT_NE(verdict.cause.find(c.cause), std::string::npos) << c.name << ": " << verdict.cause;
        EXPECT_EQ(verdict.cause.find('\n'), std::string::npos) << c.name;
    }
}

} // namespace

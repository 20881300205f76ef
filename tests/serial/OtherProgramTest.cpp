// Another program on the line: one that opened the port without any lock (a
// forgotten terminal program, cat, root or not), and one that holds the
// terminal programs' lock file. The port is refused, naming it, and a lock
// file whose process is gone is taken over and removed again on Close.

#include <cstdio>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "PtyFarEnd.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "serial/UucpLockFile.h"

namespace {

enum class Other { OpensThePort, HoldsTheLockFile, LeftAStaleLockFile };

// A child that does what `other` says, named kvm-other, until the returned
// pipe is closed; its pid, or the pid of a child already gone for the stale
// lock.
struct OtherProgram {
    pid_t pid = -1;
    int release = -1;
};

OtherProgram Start(Other other, const std::string& device)
{
    int ready[2];
    int release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        ::prctl(PR_SET_NAME, "kvm-other");
        const int fd = other == Other::OpensThePort ? ::open(device.c_str(), O_RDWR | O_NOCTTY) : -1;
        char none = 0;
        const bool ok = ::write(ready[1], "1", 1) == 1 && (other == Other::LeftAStaleLockFile || ::read(release[0], &none, 1) == 0);
        if (fd >= 0)
            ::close(fd);
        ::_exit(ok ? 0 : 1);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char got = 0;
    EXPECT_EQ(::read(ready[0], &got, 1), 1);
    ::close(ready[0]);
    if (other == Other::LeftAStaleLockFile) {
        ::waitpid(pid, nullptr, 0);
        ::close(release[1]);
        return {pid, -1};
    }
    return {pid, release[1]};
}

void WriteLock(const std::string& path, pid_t pid)
{
    std::FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr) << path;
    std::fprintf(f, "%10ld\n", static_cast<long>(pid));
    std::fclose(f);
}

} // namespace

TEST(OtherProgramTest, TheLineIsRefusedWhileAnotherProgramHoldsIt)
{
    const struct {
        Other other;
        bool refused;
    } rows[] = {
        {Other::OpensThePort, true},
        {Other::HoldsTheLockFile, true},
        {Other::LeftAStaleLockFile, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.other));
        PtyFarEnd far;
        far.ReleaseKeeper(); // the host's only fellow holder is the one of this row
        PortTable table;
        table.Map("COM1", far.DevicePath());
        const std::string lock = UucpLockFile().PathFor(far.DevicePath()).string();
        const bool usesLock = row.other != Other::OpensThePort;
        if (usesLock && ::access(lock.substr(0, lock.rfind('/')).c_str(), W_OK) != 0) {
            std::printf("no lock folder to write in: row skipped\n");
            continue;
        }

        const OtherProgram program = Start(row.other, far.DevicePath());
        if (usesLock)
            WriteLock(lock, program.pid);
        CSerialPort port(&table);
        const int opened = port.Open("COM1", 115200, 10);
        if (row.refused) {
            EXPECT_EQ(opened, 0);
            EXPECT_EQ(port.LastOpenError().kind, SerialError::Kind::Busy);
            EXPECT_EQ(port.LastOpenError().Describe(), "COM1 (" + far.DevicePath()
                      + "): device busy (held by kvm-other, pid " + std::to_string(program.pid) + ")");
        } else {
            EXPECT_EQ(opened, 1) << port.LastOpenError().Describe();
            std::ifstream held(lock);
            long pid = 0;
            held >> pid;
            EXPECT_EQ(pid, static_cast<long>(::getpid())) << "the stale lock is ours while the port is";
            port.Close();
            EXPECT_NE(::access(lock.c_str(), F_OK), 0) << "Close removes our lock file";
        }
        if (program.release >= 0) {
            ::close(program.release);
            ::waitpid(program.pid, nullptr, 0);
        }
        ::unlink(lock.c_str());
    }
}

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "PtyFarEnd.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "serial/SerialError.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Kind = SerialError::Kind;

namespace {

// What a terminal may carry before the utility opens it, e.g. a console
// mapped by mistake: echo, line editing, signals, output processing, 9600.
termios ConsoleSettings(termios tio)
{
    tio.c_iflag |= ICRNL | IXON;
    tio.c_oflag |= OPOST | ONLCR;
    tio.c_lflag |= ECHO | ECHOE | ICANON | ISIG | IEXTEN;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    return tio;
}

::testing::AssertionResult SameSettings(const termios& now, const termios& before)
{
    if (now.c_iflag != before.c_iflag || now.c_oflag != before.c_oflag
        || now.c_cflag != before.c_cflag || now.c_lflag != before.c_lflag)
        return ::testing::AssertionFailure()
               << std::hex << "flags i/o/c/l " << now.c_iflag << '/' << now.c_oflag << '/'
               << now.c_cflag << '/' << now.c_lflag << ", before " << before.c_iflag << '/'
               << before.c_oflag << '/' << before.c_cflag << '/' << before.c_lflag;
    if (!std::equal(std::begin(now.c_cc), std::end(now.c_cc), std::begin(before.c_cc)))
        return ::testing::AssertionFailure() << "control characters differ";
    if (::cfgetispeed(&now) != ::cfgetispeed(&before) || ::cfgetospeed(&now) != ::cfgetospeed(&before))
        return ::testing::AssertionFailure() << "speed differs";
    return ::testing::AssertionSuccess();
}

const uid_t kNobody = 65534;

// Runs body in a child process and returns what it returned. With dropRoot
// the child, when root, first becomes user nobody (no groups), after
// prepare has run with root's rights; an unprivileged user runs body as is.
// prepare ends the child with status 12 when it fails.
std::string InChild(bool dropRoot, const std::function<void()>& prepare, const std::function<std::string()>& body)
{
    int out[2];
    if (::pipe(out) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        prepare();
        if (dropRoot && ::getuid() == 0
            && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0
                // A process that changed its user keeps its /proc entries
                // root's; one started by that user would not.
                || ::prctl(PR_SET_DUMPABLE, 1) != 0))
            ::_exit(10);
        const std::string text = body();
        ::_exit(::write(out[1], text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 11);
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "10: could not drop root, 11: no answer, 12: not prepared";
    return text;
}

class SerialPortTest : public ::testing::Test {
protected:
    SerialPortTest() { m_table.Map("COM1", m_far.DevicePath()); }

    std::chrono::milliseconds TimeOfRead(CSerialPort& port, int length, int* result)
    {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
        const auto start = Clock::now();
        *result = port.Read(data.data(), length);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    }

    PtyFarEnd m_far;
    PortTable m_table;
};

TEST_F(SerialPortTest, OpenReadWriteRoundTrip)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 1000), 1) << port.LastOpenError().Describe();
    EXPECT_TRUE(port.IsOpen());

    const std::vector<std::uint8_t> out = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0x7F, 0xFF, 0x03};
    ASSERT_EQ(port.Write(out.data(), static_cast<int>(out.size())), 1);
    EXPECT_EQ(m_far.Receive(out.size(), 2s), out) << "every byte value passes unchanged";

    m_far.Send(out);
    std::vector<std::uint8_t> in(out.size());
    ASSERT_EQ(port.Read(in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(in, out);
}

TEST_F(SerialPortTest, LineSettings)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 1000), 1);
    const termios tio = m_far.HostTermios();
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_TRUE(tio.c_cflag & CSTOPB) << "two stop bits";
    EXPECT_FALSE(tio.c_cflag & PARENB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK
                             | IGNBRK | BRKINT),
              0u);
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B115200));
}

// A multi-byte read ends at the first gap longer than the time-out, long
// before its total time-out (here 11 x 100 ms).
TEST_F(SerialPortTest, GapEndsAMultiByteRead)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 100), 1);
    m_far.Send({0x10, 0x20, 0x30});
    ASSERT_TRUE(m_far.WaitQueuedAtHost(3, 2s));
    std::uint8_t data[10] = {};
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(data, 10), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 95ms);
    EXPECT_LT(elapsed, 700ms);
    EXPECT_EQ(data[2], 0x30);
}

TEST_F(SerialPortTest, SilentReadWaitsTwiceTheTimeout)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 1000), 1);
    int result = -1;
    const auto afterOpen = TimeOfRead(port, 1, &result);
    EXPECT_EQ(result, 0);
    EXPECT_GE(afterOpen, 1900ms);
    EXPECT_LE(afterOpen, 2500ms);

    ASSERT_EQ(port.SetTimeouts(100), 1);
    const auto after100 = TimeOfRead(port, 1, &result);
    EXPECT_EQ(result, 0);
    EXPECT_GE(after100, 195ms);
    EXPECT_LT(after100, 1s);
}

TEST_F(SerialPortTest, ShortReadFailsAndLeavesNoByteUntouched)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 20), 1);
    std::uint8_t data[4] = {0xF1, 0xF1, 0xF1, 0xF1};
    EXPECT_EQ(port.Read(data, 1), 0);
    EXPECT_EQ(data[0], 0xF1) << "a silent read must not touch the buffer";

    m_far.Send({0x42, 0x43});
    ASSERT_TRUE(m_far.WaitQueuedAtHost(2, 2s));
    EXPECT_EQ(port.Read(data, 4), 0) << "two of four bytes is a failed read";
    EXPECT_EQ(data[0], 0x42);
    EXPECT_EQ(data[1], 0x43);
    EXPECT_TRUE(port.IsOpen()) << "a failed read does not close the port";
}

TEST_F(SerialPortTest, OpenTwiceKeepsTheFirstOpenAndItsSettings)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 50), 1);
    EXPECT_EQ(port.Open("COM1", 115200, 1000), 0);
    EXPECT_EQ(port.LastOpenError().kind, Kind::AlreadyOpen);
    EXPECT_TRUE(port.IsOpen());

    int result = -1;
    EXPECT_LT(TimeOfRead(port, 1, &result), 1s) << "the second Open's 1000 ms must not apply";
    const std::uint8_t byte = 0x5A;
    EXPECT_EQ(port.Write(&byte, 1), 1);
    EXPECT_EQ(m_far.Receive(1, 2s), std::vector<std::uint8_t>{0x5A});
}

TEST_F(SerialPortTest, ClosedPortRefusesEverythingButClose)
{
    CSerialPort port(&m_table);
    std::uint8_t byte = 0x77;
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Read(&byte, 1), 0);
    EXPECT_EQ(port.Write(&byte, 1), 0);
    EXPECT_EQ(port.Write(&byte, 0), 0);
    EXPECT_EQ(port.Purge(), 0);
    EXPECT_EQ(port.SetTimeouts(10), 0);
    EXPECT_EQ(byte, 0x77);

    ASSERT_EQ(port.Open("COM1", 115200, 10), 1);
    EXPECT_EQ(port.Write(&byte, 0), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_EQ(port.Close(), 1);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Open("COM1", 115200, 10), 1) << "a closed port opens afresh";
}

TEST_F(SerialPortTest, PurgeEmptiesTheInputQueue)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 10), 1);
    m_far.Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(m_far.WaitQueuedAtHost(5, 2s));
    EXPECT_EQ(port.Purge(), 1);
    EXPECT_EQ(m_far.QueuedAtHost(), 0u);
    std::uint8_t byte = 0;
    EXPECT_EQ(port.Read(&byte, 1), 0);
}

TEST_F(SerialPortTest, ExclusiveAgainstAnotherPortInThisProcess)
{
    CSerialPort first(&m_table);
    CSerialPort second(&m_table);
    ASSERT_EQ(first.Open("COM1", 115200, 10), 1);
    EXPECT_EQ(second.Open("COM1", 115200, 10), 0);
    EXPECT_EQ(second.LastOpenError().kind, Kind::Busy);
    EXPECT_NE(second.LastOpenError().Describe().find("device busy"), std::string::npos);

    // A plain descriptor of another program that honours the lock.
    const int fd = ::open(m_far.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ(errno, EWOULDBLOCK);
    ::close(fd);

    first.Close();
    EXPECT_EQ(second.Open("COM1", 115200, 10), 1) << "Close releases the port";
}

TEST_F(SerialPortTest, ExclusiveAgainstAnotherProcess)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 10), 1);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CSerialPort other(&m_table);
        const int opened = other.Open("COM1", 115200, 10);
        ::_exit(opened == 0 && other.LastOpenError().kind == Kind::Busy ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a second process must find the port busy";
}

// The terminal's exclusive flag keeps out openers that know nothing of the
// lock; root passes it, so the check runs as an unprivileged user.
TEST_F(SerialPortTest, ExclusiveFlagRefusesPlainOpenersAndIsClearedOnClose)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::getuid() == 0) {
            const uid_t nobody = 65534;
            if (::chown(m_far.DevicePath().c_str(), nobody, nobody) != 0 || ::setgid(nobody) != 0
                || ::setuid(nobody) != 0)
                ::_exit(10);
        }
        CSerialPort port(&m_table);
        if (port.Open("COM1", 115200, 10) != 1)
            ::_exit(11);
        const int fd = ::open(m_far.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0 || errno != EBUSY)
            ::_exit(12);
        port.Close();
        // The pty stays held by the far end, so the flag would outlive our
        // descriptor unless Close clears it.
        if (port.Open("COM1", 115200, 10) != 1)
            ::_exit(13);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10: could not drop root, 11: open failed, 12: plain open not refused, 13: reopen refused";
}

TEST_F(SerialPortTest, ForeignLockHolderMakesOpenBusy)
{
    const int fd = ::open(m_far.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    CSerialPort port(&m_table);
    EXPECT_EQ(port.Open("COM1", 115200, 10), 0);
    EXPECT_EQ(port.LastOpenError().kind, Kind::Busy);
    EXPECT_FALSE(port.IsOpen());
    ::close(fd);
}

// Busy names the program to stop. The holder is another copy of the port
// in a process of its own, named as it wishes; root runs into its lock,
// anyone else into the terminal's exclusive flag as well.
TEST_F(SerialPortTest, BusyNamesTheProcessThatHoldsThePort)
{
    m_far.ReleaseKeeper();
    const std::string pty = m_far.DevicePath();
    const struct {
        const char* what;
        bool dropRoot;
    } cases[] = {{"as this user", false}, {"as an unprivileged user", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.dropRoot && ::getuid() != 0)
            continue; // the first case was that already
        const std::string answer = InChild(
            c.dropRoot,
            [&] {
                if (c.dropRoot && ::getuid() == 0 && ::chown(pty.c_str(), kNobody, kNobody) != 0)
                    ::_exit(12);
            },
            [this] {
                int ready[2];
                int release[2];
                if (::pipe(ready) != 0 || ::pipe(release) != 0)
                    return std::string("pipe failed");
                const pid_t holder = ::fork();
                if (holder == 0) {
                    ::close(ready[0]);
                    ::close(release[1]); // so that the asking process's close is the end of the pipe
                    ::prctl(PR_SET_NAME, "kvm-holder");
                    CSerialPort port(&m_table);
                    const char opened = port.Open("COM1", 115200, 10) == 1 ? '1' : '0';
                    char none = 0;
                    const bool released = ::write(ready[1], &opened, 1) == 1 && ::read(release[0], &none, 1) == 0;
                    port.Close(); // _exit runs no destructor, and the exclusive flag would outlive us
                    ::_exit(released ? 0 : 1);
                }
                ::close(ready[1]);
                ::close(release[0]);
                char opened = 0;
                std::string text = "the holder could not open the port";
                if (::read(ready[0], &opened, 1) == 1 && opened == '1') {
                    CSerialPort port(&m_table);
                    text = port.Open("COM1", 115200, 10) == 0 ? port.LastOpenError().Describe() : "opened";
                }
                ::close(release[1]); // the holder ends
                ::waitpid(holder, nullptr, 0);
                return std::to_string(holder) + "\n" + text;
            });
        const std::size_t end = answer.find('\n');
        ASSERT_NE(end, std::string::npos) << answer;
        EXPECT_EQ(answer.substr(end + 1),
                  "COM1 (" + pty + "): device busy (held by kvm-holder, pid " + answer.substr(0, end) + ")");
    }
}

// A device whose group the user lacks: the error names the group to join.
TEST_F(SerialPortTest, PermissionDeniedNamesTheDevicesGroup)
{
    if (::getuid() != 0)
        GTEST_SKIP() << "handing the device to a group this user is not in takes root";
    const group* dialout = ::getgrnam("dialout");
    if (dialout == nullptr)
        GTEST_SKIP() << "no group dialout";
    const gid_t gid = dialout->gr_gid;
    const std::string pty = m_far.DevicePath();
    const std::string text = InChild(
        true,
        [&] {
            if (::chown(pty.c_str(), 0, gid) != 0 || ::chmod(pty.c_str(), 0660) != 0)
                ::_exit(12);
        },
        [this] {
            CSerialPort port(&m_table);
            return port.Open("COM1", 115200, 10) == 0 ? port.LastOpenError().Describe() : std::string("opened");
        });
    EXPECT_EQ(text, "COM1 (" + pty + "): permission denied: the device belongs to group dialout; add yourself "
                    "with 'sudo usermod -aG dialout $USER', then log in again");
}

TEST_F(SerialPortTest, RefusedSettingsLeaveThePortClosedAndFree)
{
    CSerialPort port(&m_table);
    EXPECT_EQ(port.Open("COM1", 12345, 10), 0);
    EXPECT_EQ(port.LastOpenError().kind, Kind::SettingsRefused);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(port.Open("COM1", 115200, -1), 0) << "a negative time-out is refused";
    EXPECT_EQ(port.LastOpenError().kind, Kind::SettingsRefused);

    CSerialPort other(&m_table);
    EXPECT_EQ(other.Open("COM1", 115200, 10), 1) << "the failed opens released the lock";
    other.Close();
    EXPECT_EQ(port.Open("COM1", 115200, 10), 1);
}

TEST_F(SerialPortTest, HangUpEndsReadsAndWritesAtOnce)
{
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 1000), 1);

    // The far end vanishes while a read that may wait 11 s is under way. The
    // sleep only places the hang-up mid-read; a hang-up before the read must
    // give the same result.
    std::thread unplug([this] {
        std::this_thread::sleep_for(100ms);
        m_far.CloseMaster();
    });
    int result = -1;
    const auto elapsed = TimeOfRead(port, 10, &result);
    unplug.join();
    EXPECT_EQ(result, 0);
    EXPECT_LT(elapsed, 2s) << "a hang-up must end the read, not its time-out";

    EXPECT_LT(TimeOfRead(port, 1, &result), 200ms);
    EXPECT_EQ(result, 0);
    const std::uint8_t byte = 1;
    const auto start = Clock::now();
    EXPECT_EQ(port.Write(&byte, 1), 0);
    EXPECT_LT(Clock::now() - start, 200ms);
    EXPECT_TRUE(port.IsOpen()) << "only Close closes the port";
    EXPECT_EQ(port.Close(), 1);
}

// The last read or write that failed keeps its reason, through Close, until
// the next Open; a read that only found the line silent is no failure.
TEST(SerialPortIoError, EachFailureKeepsItsReason)
{
    const struct {
        const char* what;
        std::function<void(PtyFarEnd&, CSerialPort&)> act;
        Kind kind;
        std::string text; // what Describe() says after the port's name
    } cases[] = {
        {"silent line",
         [](PtyFarEnd&, CSerialPort& port) {
             std::uint8_t byte = 0;
             EXPECT_EQ(port.Read(&byte, 1), 0);
         },
         Kind::None, ""},
        {"hang-up, then read",
         [](PtyFarEnd& far, CSerialPort& port) {
             far.CloseMaster();
             std::uint8_t byte = 0;
             EXPECT_EQ(port.Read(&byte, 1), 0);
         },
         Kind::HungUp, "the line hung up (device unplugged?)"},
        {"hang-up, then write",
         [](PtyFarEnd& far, CSerialPort& port) {
             far.CloseMaster();
             const std::uint8_t byte = 1;
             EXPECT_EQ(port.Write(&byte, 1), 0);
         },
         Kind::HungUp, "the line hung up (device unplugged?)"},
        // The far end reads nothing: once the line's queues are full, the
        // write waits out the stall limit.
        {"write stall",
         [](PtyFarEnd&, CSerialPort& port) {
             const std::vector<std::uint8_t> data(4 << 20, 0x55);
             EXPECT_EQ(port.Write(data.data(), static_cast<int>(data.size())), 0);
         },
         Kind::WriteStalled, "the line stopped taking output (write stalled)"},
    };
    for (const auto& c : cases) {
        PtyFarEnd far;
        PortTable table;
        table.Map("COM1", far.DevicePath());
        CSerialPort port(&table);
        ASSERT_EQ(port.Open("COM1", 115200, 10), 1) << c.what;
        c.act(far, port);
        port.Close();
        const SerialError error = port.LastIoError();
        EXPECT_EQ(error.kind, c.kind) << c.what;
        if (c.kind != Kind::None) {
            EXPECT_EQ(error.Describe(), "COM1 (" + far.DevicePath() + "): " + c.text) << c.what;
        }
        if (c.kind != Kind::HungUp) {
            ASSERT_EQ(port.Open("COM1", 115200, 10), 1) << c.what;
            EXPECT_EQ(port.LastIoError().kind, Kind::None) << "a new Open starts afresh: " << c.what;
        }
    }
}

TEST_F(SerialPortTest, SettingsFoundAtOpenComeBackOnEveryWayOut)
{
    enum class Way { Close, Destructor };
    struct Case {
        const char* name;
        int baudRate;
        int timeoutMs;
        int opened;
        Way way;
    };
    const Case cases[] = {
        {"Close", 115200, 10, 1, Way::Close},
        {"destroyed open", 115200, 10, 1, Way::Destructor},
        {"time-out refused after the line was set up", 115200, -1, 0, Way::Close},
        {"speed refused", 12345, 10, 0, Way::Close},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_far.SetHostTermios(ConsoleSettings(m_far.HostTermios()));
        const termios before = m_far.HostTermios();
        {
            CSerialPort port(&m_table);
            EXPECT_EQ(port.Open("COM1", c.baudRate, c.timeoutMs), c.opened);
            if (c.opened) {
                EXPECT_FALSE(SameSettings(m_far.HostTermios(), before)) << "Open sets the line up";
            }
            if (c.way == Way::Close)
                port.Close();
        }
        EXPECT_TRUE(SameSettings(m_far.HostTermios(), before));
    }
}

// A signal-watching thread releases the port just before the process ends,
// while the owner is in the middle of a long read.
TEST_F(SerialPortTest, ReleaseForExitFromAnotherThreadMidRead)
{
    m_far.SetHostTermios(ConsoleSettings(m_far.HostTermios()));
    const termios before = m_far.HostTermios();
    CSerialPort port(&m_table);
    ASSERT_EQ(port.Open("COM1", 115200, 1000), 1);

    std::atomic<bool> reading{false};
    int result = -1;
    std::thread owner([&] {
        std::uint8_t data[10] = {};
        reading = true;
        result = port.Read(data, 10); // up to 11 s unless the line goes
    });
    const auto limit = Clock::now() + 5s;
    while (!reading && Clock::now() < limit)
        std::this_thread::yield();

    port.ReleaseForExit();
    EXPECT_TRUE(SameSettings(m_far.HostTermios(), before));
    EXPECT_TRUE(port.IsOpen()) << "the descriptor goes with the process, not here";

    const int fd = ::open(m_far.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int openErrno = errno;
    EXPECT_FALSE(fd < 0 && openErrno == EBUSY) << "the exclusive flag outlived the release";
#ifdef TIOCGEXCL
    if (fd >= 0) {
        int exclusive = -1;
        ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0) << "root passes the flag, so it is looked at directly";
    }
#endif
    if (fd >= 0)
        ::close(fd);

    m_far.CloseMaster(); // ends the owner's read
    owner.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(port.Close(), 1);
}

// A program started with a standard stream closed must not open the port on
// that descriptor: whatever it prints there would go to the switch.
TEST_F(SerialPortTest, NeverOpensOnAStandardStreamDescriptor)
{
    m_far.ReleaseKeeper();
    const std::vector<std::vector<int>> cases = {{1}, {2}, {0, 1, 2}};
    for (const auto& closed : cases) {
        SCOPED_TRACE(::testing::PrintToString(closed));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int fd : closed)
                ::close(fd);
            CSerialPort port(&m_table);
            if (port.Open("COM1", 115200, 10) != 1)
                ::_exit(11);
            for (int fd : closed) {
                if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
                    ::_exit(12);
            }
            const std::uint8_t byte = 0x5A;
            ::_exit(port.Write(&byte, 1) == 1 ? 0 : 13);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "11: open failed, 12: port on a standard stream, 13: write failed";
        EXPECT_EQ(m_far.Receive(1, 2s), std::vector<std::uint8_t>{0x5A});
    }
}

TEST_F(SerialPortTest, NamesOutsideComOneToTwelveResolveToNothing)
{
    PortTable table;
    for (int i = 1; i <= PortTable::kMaxPort; ++i)
        table.Map("COM" + std::to_string(i), m_far.DevicePath());
    for (const char* name : {"COM0", "COM13", "com1", "COM01", "LPT1", "", "COM1 ", "/dev/ttyS0"}) {
        CSerialPort port(&table);
        EXPECT_EQ(port.Open(name, 115200, 10), 0) << name;
        EXPECT_EQ(port.LastOpenError().kind, Kind::UnknownName) << name;
        EXPECT_NE(port.LastOpenError().Describe().find("no such port (COM1 to COM12)"),
                  std::string::npos)
            << port.LastOpenError().Describe();
    }
    CSerialPort port(&table);
    EXPECT_EQ(port.Open(nullptr, 115200, 10), 0);
    EXPECT_EQ(port.LastOpenError().kind, Kind::UnknownName);
    for (const char* name : {"COM10", "COM11", "COM12"}) {
        EXPECT_EQ(port.Open(name, 115200, 10), 1) << name;
        port.Close();
    }
}

TEST_F(SerialPortTest, MappedDevicesThatAreNoSerialLine)
{
    char regular[] = "/tmp/kvm-serial-test-XXXXXX";
    const int fd = ::mkstemp(regular);
    ASSERT_GE(fd, 0);
    ::close(fd);

    PortTable table;
    table.Map("COM2", "/nonexistent/ttyUSB9");
    table.Map("COM3", "/dev/null");
    table.Map("COM5", regular);
    struct Case {
        const char* name;
        Kind kind;
        const char* text;
    };
    const Case cases[] = {
        {"COM2", Kind::NoSuchDevice, "COM2 (/nonexistent/ttyUSB9): no such device"},
        {"COM3", Kind::NotATerminal, "COM3 (/dev/null): not a serial line"},
        {"COM5", Kind::NotATerminal, "not a serial line"},
        {"COM4", Kind::UnknownName, "COM4: no device mapped (see --list-ports, --map COM4=DEVICE)"},
    };
    for (const Case& c : cases) {
        CSerialPort port(&table);
        EXPECT_EQ(port.Open(c.name, 115200, 10), 0) << c.name;
        EXPECT_FALSE(port.IsOpen());
        EXPECT_EQ(port.LastOpenError().kind, c.kind) << c.name;
        EXPECT_NE(port.LastOpenError().Describe().find(c.text), std::string::npos)
            << port.LastOpenError().Describe();
    }
    std::remove(regular);
}

} // namespace

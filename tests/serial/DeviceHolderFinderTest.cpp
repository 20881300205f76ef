#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "PtyFarEnd.h"
#include "serial/DeviceHolderFinder.h"

namespace fs = std::filesystem;

namespace {

// A /proc of the test's own: each process's command name and descriptors,
// the descriptors real links to a real pseudo-terminal (or elsewhere), and
// a lock table. The real /proc is the subject of SerialPortTest's busy test.
class DeviceHolderFinderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_proc = fs::temp_directory_path() / ("kvm-holder-proc-" + std::to_string(::getpid()));
        fs::remove_all(m_proc);
    }
    void TearDown() override { fs::remove_all(m_proc); }

    struct Process {
        long pid;
        std::string comm; // as the kernel gives it, line end included
        std::vector<std::string> fds;
    };

    void Build(const std::vector<Process>& processes, const std::string& locks)
    {
        fs::remove_all(m_proc);
        fs::create_directories(m_proc);
        fs::create_directories(m_proc / "self"); // not a pid: passed over
        std::ofstream(m_proc / "locks") << locks;
        for (const Process& p : processes) {
            const fs::path dir = m_proc / std::to_string(p.pid);
            fs::create_directories(dir / "fd");
            std::ofstream(dir / "comm") << p.comm;
            for (std::size_t fd = 0; fd < p.fds.size(); ++fd)
                fs::create_symlink(p.fds[fd], dir / "fd" / std::to_string(fd));
        }
    }

    // /proc/locks's line for a flock on path, held by pid.
    static std::string FlockLine(long pid, const std::string& path)
    {
        struct stat node{};
        EXPECT_EQ(::stat(path.c_str(), &node), 0);
        std::ostringstream line;
        line << "1: FLOCK  ADVISORY  WRITE " << pid << ' ' << std::hex << ::major(node.st_dev) << ':'
             << ::minor(node.st_dev) << ':' << std::dec << node.st_ino << " 0 EOF\n";
        return line.str();
    }

    fs::path m_proc;
    PtyFarEnd m_far;
};

TEST_F(DeviceHolderFinderTest, FindsTheProcessThatHoldsTheDevice)
{
    const std::string pty = m_far.DevicePath();
    PtyFarEnd other;
    const struct {
        const char* what;
        std::vector<Process> processes;
        std::string locks;
        long exclude;
        std::optional<DeviceHolderFinder::Holder> holder;
    } cases[] = {
        {"one holder", {{812, "brltty\n", {"/dev/null", pty}}}, "", 1, DeviceHolderFinder::Holder{812, "brltty"}},
        {"no descriptor on it",
         {{900, "bash\n", {"/dev/null", other.DevicePath(), "socket:[4242]", "pipe:[17]", "/tmp"}}}, "", 1,
         std::nullopt},
        {"only the asking process", {{300, "kvm-upgrade-cli\n", {pty}}}, "", 300, std::nullopt},
        {"a pseudo-terminal's keeper and the lock's holder",
         {{100, "kvm-switch-sim\n", {pty}}, {200, "kvm-upgrade-cli\n", {"/dev/null", pty}}},
         FlockLine(100, "/dev/null") + "2: -> " + FlockLine(100, pty).substr(3) + FlockLine(200, pty), 1,
         DeviceHolderFinder::Holder{200, "kvm-upgrade-cli"}},
        {"two holders, no lock: the lowest pid",
         {{2000, "screen\n", {pty}}, {150, "ModemManager\n", {pty}}}, FlockLine(2000, "/dev/null"), 1,
         DeviceHolderFinder::Holder{150, "ModemManager"}},
        {"a name with control bytes", {{42, "evil\nname\x1b\n", {pty}}}, "", 1,
         DeviceHolderFinder::Holder{42, "evil?name?"}},
        {"no command name", {{43, "", {pty}}}, "", 1, DeviceHolderFinder::Holder{43, ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Build(c.processes, c.locks);
        const auto found = DeviceHolderFinder(m_proc).Find(pty, c.exclude);
        ASSERT_EQ(found.has_value(), c.holder.has_value());
        if (found) {
            EXPECT_EQ(found->pid, c.holder->pid);
            EXPECT_EQ(found->name, c.holder->name);
        }
    }
}

TEST_F(DeviceHolderFinderTest, NothingForWhatIsNoDeviceOrNoProc)
{
    Build({{812, "brltty\n", {"/dev/null"}}}, "");
    EXPECT_FALSE(DeviceHolderFinder(m_proc).Find("/nonexistent/ttyUSB9", 1));
    EXPECT_FALSE(DeviceHolderFinder(m_proc).Find(m_proc / "locks", 1));
    EXPECT_FALSE(DeviceHolderFinder(m_proc / "missing").Find(m_far.DevicePath(), 1));
}

} // namespace

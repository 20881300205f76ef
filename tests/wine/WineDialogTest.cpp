// The Win32 dialog under Wine on an X server (this program runs under
// xvfb-run): the Windows test program drives it by messages, here against
// the simulated switch on a pseudo-terminal linked in as a COM port; every
// upgrade it calls complete is checked against the bytes the switch stored.
// kvm-upgrade.exe itself: its command line, and a picture of it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/FirmwareTestFiles.h"
#include "tests/wine/WineHost.h"
#include "tools/SwitchSim.h"

namespace {

using namespace std::chrono_literals;
using F = FirmwareTestFiles;

// Above the twelve an AUTO scan tries, so that runs side by side never meet.
constexpr int kNamedFrom = 40;

std::string DialogTests()
{
    return WineHost::Program("tests/windows/win32_dialog_tests.exe");
}

std::string Dialog()
{
    return WineHost::Program("ui/win32/kvm-upgrade.exe");
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Every selected case of the Windows test program ran and passed.
void ExpectAllPassed(const ChildProcess::Result& result)
{
    SCOPED_TRACE(WineHost::Trace(result));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Contains(result.out, "[  PASSED  ]"));
    EXPECT_FALSE(Contains(result.out, "[  SKIPPED ]"));
    EXPECT_FALSE(Contains(result.out, "[  FAILED  ]"));
}

// The folder a picture for the README goes to, or empty.
std::string PictureFolder()
{
    const char* folder = std::getenv("KVM_SCREENSHOT_DIR");
    return folder != nullptr ? folder : "";
}

void ConvertToPng(const std::string& bmp, const std::string& png)
{
    const auto result =
        ChildProcess({KVM_PYTHON3, std::string(KVM_SOURCE_DIR) + "/scripts/bmp-to-png.py", bmp, png}).Wait();
    EXPECT_EQ(result.exitCode, 0) << WineHost::Trace(result);
}

// A 24-bit BMP of a window that has been painted: sized like one, and at
// least half its pixels not black.
void ExpectPaintedBmp(const std::string& path)
{
    const F::Bytes bmp = F::ReadBytes(path);
    ASSERT_GT(bmp.size(), 54u);
    auto dword = [&](std::size_t at) {
        return static_cast<std::uint32_t>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24);
    };
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    const std::uint32_t width = dword(18);
    const std::uint32_t height = dword(22);
    EXPECT_GT(width, 200u);
    EXPECT_GT(height, 100u);
    const std::size_t stride = (width * 3 + 3) & ~3u;
    ASSERT_EQ(bmp.size(), 54 + stride * height);
    std::size_t lit = 0;
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t at = 54 + y * stride + x * 3;
            lit += (bmp[at] + bmp[at + 1] + bmp[at + 2]) > 72 ? 1 : 0;
        }
    }
    EXPECT_GE(lit * 2, static_cast<std::size_t>(width) * height);
}

class WineDialog : public ::testing::Test {
protected:
    // A prefix of its own, readied here on this run's X server: Wine's
    // desktop belongs to the server that first shows a window, and goes
    // when the X server goes. The command line's tests never meet it, and
    // the prefix's server ends with this run.
    static void SetUpTestSuite()
    {
        WineHost::Prepare(KVM_DIALOG_WINE_PREFIX);
        ChildProcess::Setup intoFiles;
        intoFiles.out = ChildProcess::Stream::File;
        intoFiles.err = ChildProcess::Stream::File;
        const auto ready = ChildProcess({"/bin/sh", std::string(KVM_SOURCE_DIR) + "/tests/wine/start-wine-server.sh",
                                         KVM_WINE, KVM_DIALOG_WINE_PREFIX, "fresh",
                                         WineHost::Program("tests/windows/wine_keeper.exe")},
                                        intoFiles)
                               .Wait(std::chrono::minutes(5));
        ASSERT_EQ(ready.exitCode, 0) << WineHost::Trace(ready);
    }
    static void TearDownTestSuite()
    {
        ChildProcess::Setup quiet;
        quiet.out = ChildProcess::Stream::Null;
        quiet.err = ChildProcess::Stream::Null;
        ChildProcess({"/bin/sh", "-c", "wineserver -k; wineserver -w"}, quiet).Wait(std::chrono::minutes(1));
    }

    // Runs the named cases of the Windows test program with the switch
    // behind a COM port of Wine's, the file given.
    static ChildProcess::Result RunOnTheLine(SwitchSim& sim, const std::string& filter, const std::string& file,
                                             const std::string& picture = "")
    {
        WineComLink link(sim.DevicePath(), kNamedFrom);
        std::vector<std::string> args{"--gtest_filter=Win32DialogOnTheLine." + filter, "--port=" + link.Device(),
                                      "--file=" + WineHost::WindowsPath(file)};
        if (!picture.empty())
            args.push_back("--picture=" + WineHost::WindowsPath(picture));
        return WineHost::Run(DialogTests(), args);
    }
};

// Start-up, the template and its layout, Select File with a valid, a broken
// and a missing file, Upgrade without a file, a cancelled confirmation,
// closing when idle, status texts that fit.
TEST_F(WineDialog, WithoutASwitch)
{
    ExpectAllPassed(WineHost::Run(DialogTests(), {"--gtest_filter=Win32Dialog.*"}));
}

// The demo's sample file, made as the build makes it, sent by the dialog.
TEST_F(WineDialog, UpgradeOfTheSample)
{
    FirmwareTestFiles files;
    const std::string sample = files.PathOf("hx5tra-7-12-25.bin");
    ASSERT_EQ(ChildProcess({KVM_MAKE_FIRMWARE_PATH, "--size", "32768", "--model-index", "2", "--date", "7-12-25",
                            sample})
                  .Wait()
                  .exitCode,
              0);
    SwitchSim sim;
    ASSERT_TRUE(sim.Start());
    const std::string folder = PictureFolder();
    const std::string picture = folder.empty() ? "" : files.PathOf("after-upgrade.bmp");

    ExpectAllPassed(RunOnTheLine(sim, "Upgrade", sample, picture));

    ASSERT_TRUE(sim.WaitForEndOfImage(10s));
    const F::Bytes sent = F::ReadBytes(sample);
    EXPECT_EQ(sent.size(), 32768u);
    EXPECT_TRUE(sim.Report().image == sent) << "stored " << sim.Report().image.size() << " bytes";
    if (!picture.empty())
        ConvertToPng(picture, folder + "/win32-after-upgrade.png");
}

TEST_F(WineDialog, CloseRefusedDuringTheRun)
{
    FirmwareTestFiles files;
    const F::Bytes image = F::RecordedImage(4096);
    const std::string file = files.Write("fw.bin", image);
    SwitchSim sim;
    ASSERT_TRUE(sim.Start());

    ExpectAllPassed(RunOnTheLine(sim, "CloseRefusedDuringTheRun", file));

    ASSERT_TRUE(sim.WaitForEndOfImage(10s));
    EXPECT_TRUE(sim.Report().image == image);
}

// The switch answers the probe and then never the version request: the
// check waits on the line for seconds while the dialog's thread serves.
TEST_F(WineDialog, KeepsServingDuringCheckVersion)
{
    FirmwareTestFiles files;
    const std::string file = files.Write("fw.bin", F::RecordedImage(512));
    SwitchSimConfig config;
    config.answerProbeUntil = 1;
    SwitchSim sim(config);
    ASSERT_TRUE(sim.Start());

    ExpectAllPassed(RunOnTheLine(sim, "KeepsServingDuringCheckVersion", file));
}

// kvm-upgrade.exe's own command line, as the Linux program's. Its text
// output is a Windows program's: CRLF.
TEST_F(WineDialog, ProgramOptions)
{
    const struct {
        std::vector<std::string> args;
        int exitCode;
        const char* out; // in stdout, starting it
        const char* err; // in stderr
    } cases[] = {
        {{"--version"}, 0, "1.0.0.4\r\n", ""},
        // The ports the user maps come first, in COM order; the ports the
        // system has (this machine's, under Wine) follow.
        {{"--map", "COM2=\\\\.\\COM27", "--map=COM1=\\\\.\\COM9", "--list-ports"}, 0,
         "COM1  \\\\.\\COM9", ""},
        {{"--map", "COM13=\\\\.\\COM1"}, 2, "", "COM13"},
        {{"--no-such-option"}, 2, "", "unknown option --no-such-option"},
        {{"-platform", "x"}, 2, "", "unknown option -platform"},
    };
    for (const auto& c : cases) {
        const auto result = WineHost::Run(Dialog(), c.args);
        SCOPED_TRACE(c.args.front() + "\n" + WineHost::Trace(result));
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.out.rfind(c.out, 0), 0u);
        EXPECT_TRUE(Contains(result.err, c.err));
    }
}

// The Windows display scale: Wine's, from the prefix's registry, read by
// every program as it starts.
void SetLogPixels(int dpi)
{
    const auto result = WineHost::Run("reg", {"add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                                              "REG_DWORD", "/d", std::to_string(dpi), "/f"});
    ASSERT_EQ(result.exitCode, 0) << WineHost::Trace(result);
}

// The dialog as it opens, as the screen shows it, at 100 % and at 150 %:
// laid out from its template's dialog units, it grows with the font.
TEST_F(WineDialog, PictureOfTheDialog)
{
    const struct {
        int dpi;
        const char* png;
    } scales[] = {{96, "win32-screenshot.png"}, {144, "win32-screenshot-150.png"}};
    FirmwareTestFiles files;
    std::uint32_t widthAt96 = 0;
    for (const auto& scale : scales) {
        SCOPED_TRACE(scale.dpi);
        SetLogPixels(scale.dpi);
        const std::string bmp = files.PathOf("start-" + std::to_string(scale.dpi) + ".bmp");
        const auto result = WineHost::Run(Dialog(), {"--screenshot", WineHost::WindowsPath(bmp)});
        ASSERT_EQ(result.exitCode, 0) << WineHost::Trace(result);
        ExpectPaintedBmp(bmp);
        const F::Bytes picture = F::ReadBytes(bmp);
        ASSERT_GT(picture.size(), 54u);
        const std::uint32_t width = picture[18] | picture[19] << 8 | picture[20] << 16;
        if (scale.dpi == 96)
            widthAt96 = width;
        else
            EXPECT_NEAR(static_cast<double>(width) / widthAt96, scale.dpi / 96.0, 0.15) << width << " / " << widthAt96;
        if (!PictureFolder().empty())
            ConvertToPng(bmp, PictureFolder() + "/" + scale.png);
    }
    SetLogPixels(96);
}

} // namespace

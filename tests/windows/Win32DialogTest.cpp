// The Win32 dialog, created from its template and driven by messages as a
// user's clicks would drive it (BM_CLICK, CB_SETCURSEL, WM_CLOSE), read back
// from its controls. Runs under Wine on an X server; the cases that need a
// switch are given its COM port by the Linux side (tests/wine), which runs
// the simulated switch and checks the bytes it stored:
//   win32_dialog_tests.exe [--port=\\.\COMn --file=FIRMWARE [--picture=BMP]]

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "kvm/SystemTexts.h"
#include "serial/CSerialPort.h"
#include "serial/PortTable.h"
#include "tests/support/FirmwareTestFiles.h"
#include "ui/win32/CUpgradeDlg.h"
#include "ui/win32/WindowPicture.h"

namespace {

using F = FirmwareTestFiles;

// What the Linux side hands over for the cases on the line.
struct Line {
    std::string port;    // a device name that opens the simulated switch
    std::string file;    // the firmware file to send
    std::string picture; // where the dialog's picture goes after the upgrade, or empty
} g_line;

const std::string kUsage =
    "Usage:\n\t1. Connect upgrade cable to COM.\n\n\t2. Select firmware file.\n\n\t3. Click Upgrade button.";
const std::string kRefusalUsage =
    "Usage:\n\t1.Connect upgrade cable to COM.\n\n\t2. Select firmware file.\n\n\t3.Click Upgrade button.";
const std::string kConfirmText =
    "During firmware upgrade, video, keyboard and mouse\nwill be locked up before KVM reset.";

// The process-wide objects of one run of the program, made afresh for each
// case; COM1 is the switch's port when there is one.
struct Rig {
    Rig()
    {
        state->port = &port;
        if (!g_line.port.empty())
            table.Map("COM1", g_line.port);
    }
    template <typename Dialog = CUpgradeDlg>
    Dialog& Open()
    {
        auto made = std::make_unique<Dialog>(*state);
        Dialog& dialog = *made;
        dlg = std::move(made);
        EXPECT_TRUE(dlg->Create());
        return dialog;
    }
    HWND Window() const { return dlg->Window(); }
    HWND Item(int id) const { return GetDlgItem(Window(), id); }

    PortTable table;
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
    CSerialPort port{&table};
    std::unique_ptr<CUpgradeDlg> dlg; // first to go
};

std::string Text(HWND window, int id)
{
    char buffer[4096] = {};
    GetDlgItemTextA(window, id, buffer, sizeof buffer);
    return buffer;
}

bool Enabled(const Rig& rig, bool enabled)
{
    for (int id : CUpgradeDlg::kOperationControls) {
        if ((IsWindowEnabled(rig.Item(id)) != FALSE) != enabled)
            return false;
    }
    return true;
}

int Progress(const Rig& rig)
{
    return static_cast<int>(SendMessageA(rig.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0));
}

void Click(const Rig& rig, int id)
{
    SendMessageA(rig.Item(id), BM_CLICK, 0, 0);
}

void SelectPort(const Rig& rig, int index)
{
    SendMessageA(rig.Item(IDC_PORT), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// Serves the window system until done() holds; false when it still does not
// after timeout (an upper bound, not a pause).
bool PumpUntil(HWND dialog, const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (dialog == nullptr || !IsWindow(dialog) || !IsDialogMessageA(dialog, &message)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        if (done())
            return true;
        const DWORD spent = GetTickCount() - start;
        if (spent >= static_cast<DWORD>(timeout.count()))
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout.count()) - spent, QS_ALLINPUT);
    }
}

RECT DialogUnits(HWND dialog, int left, int top, int width, int height)
{
    RECT rect{left, top, left + width, top + height};
    MapDialogRect(dialog, &rect);
    return rect;
}

// A control's rectangle in the dialog's client coordinates.
RECT Placed(HWND control)
{
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
           std::to_string(r.bottom - r.top);
}

// size bytes in all: filler, a valid info record and the CRC trailer.
F::Bytes WithInfoRecord(std::size_t size)
{
    return F::WithCrc(F::Join({F::Filler(size - 12), F::InfoRecord(2, 7, 12, 25)}));
}

// A dialog whose worker stops at its first log trim until the test lets it
// go on: the run is then certainly in progress, however fast the switch.
class GatedDlg : public CUpgradeDlg {
public:
    using CUpgradeDlg::CUpgradeDlg;
    ~GatedDlg() override
    {
        SetEvent(m_open);
        Operations().WaitForWorker();
        CloseHandle(m_waiting);
        CloseHandle(m_open);
    }
    void TrimLog() override
    {
        if (GetCurrentThreadId() != m_dialogThread) {
            SetEvent(m_waiting);
            WaitForSingleObject(m_open, INFINITE);
        }
        CUpgradeDlg::TrimLog();
    }
    bool WorkerWaiting() const { return WaitForSingleObject(m_waiting, 0) == WAIT_OBJECT_0; }
    void Release() { SetEvent(m_open); }

private:
    DWORD m_dialogThread = GetCurrentThreadId();
    HANDLE m_waiting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE m_open = CreateEventA(nullptr, TRUE, FALSE, nullptr);
};

// ---- The template ------------------------------------------------------------

// Template 102 as the resource holds it (DLGTEMPLATEEX and its items).
struct TemplateItem {
    DWORD exStyle = 0;
    DWORD style = 0;
    RECT units{}; // left, top, width, height
    int id = 0;
    std::string className; // a predefined class by its name
    std::string text;
};
struct DialogTemplate {
    DWORD exStyle = 0;
    DWORD style = 0;
    RECT units{};
    std::string caption;
    int pointSize = 0;
    int weight = 0;
    int italic = 0;
    int charset = 0;
    std::string face;
    std::vector<TemplateItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* at) : m_at(at), m_start(at) {}
    WORD Word() { const WORD v = static_cast<WORD>(m_at[0] | m_at[1] << 8); m_at += 2; return v; }
    DWORD Dword() { const DWORD low = Word(); return low | static_cast<DWORD>(Word()) << 16; }
    short Short() { return static_cast<short>(Word()); }
    BYTE Byte() { return *m_at++; }
    std::string Text()
    {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word())
            text.push_back(static_cast<char>(c));
        return text;
    }
    // A name or an ordinal; the predefined classes' ordinals by their names.
    std::string NameOrOrdinal()
    {
        const WORD first = Word();
        if (first == 0)
            return std::string();
        if (first == 0xFFFF) {
            switch (const WORD ordinal = Word()) {
            case 0x80: return "Button";
            case 0x82: return "Static";
            case 0x85: return "ComboBox";
            default: return "#" + std::to_string(ordinal);
            }
        }
        m_at -= 2;
        return Text();
    }
    RECT Rect()
    {
        RECT r{};
        r.left = Short();
        r.top = Short();
        r.right = Short();
        r.bottom = Short();
        return r;
    }
    void AlignDword() { m_at += (4 - (m_at - m_start) % 4) % 4; }
    void Skip(WORD bytes) { m_at += bytes; }

private:
    const BYTE* m_at;
    const BYTE* m_start;
};

DialogTemplate ReadTemplate()
{
    DialogTemplate result;
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_UPGRADE_DIALOG), MAKEINTRESOURCEA(5)); // RT_DIALOG
    if (found == nullptr)
        return result;
    TemplateReader in(static_cast<const BYTE*>(LockResource(LoadResource(module, found))));
    if (in.Word() != 1 || in.Word() != 0xFFFF)
        return result; // not a DLGTEMPLATEEX
    in.Dword();        // help id
    result.exStyle = in.Dword();
    result.style = in.Dword();
    const WORD count = in.Word();
    result.units = in.Rect();
    in.NameOrOrdinal(); // menu
    in.NameOrOrdinal(); // class
    result.caption = in.Text();
    if (result.style & DS_SETFONT) {
        result.pointSize = in.Word();
        result.weight = in.Word();
        result.italic = in.Byte();
        result.charset = in.Byte();
        result.face = in.Text();
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword();
        TemplateItem item;
        in.Dword(); // help id
        item.exStyle = in.Dword();
        item.style = in.Dword();
        item.units = in.Rect();
        item.id = static_cast<int>(in.Dword());
        item.className = in.NameOrOrdinal();
        item.text = in.NameOrOrdinal();
        in.Skip(in.Word());
        result.items.push_back(item);
    }
    return result;
}

struct ControlCase {
    int id;
    const char* className;
    const char* text;
    RECT units; // left, top, width, height in dialog units
    DWORD style;
    DWORD exStyle;
};

// A "double border" is the modal-frame extended style on a control.
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
const ControlCase kControls[] = {
    {IDOK, "Button", "Select File", {194, 4, 81, 22}, kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, WS_EX_DLGMODALFRAME},
    {IDC_STATUS, "Static", "", {5, 81, 158, 10}, kChild | WS_GROUP | SS_LEFT, 0},
    {IDC_UPGRADE, "Button", "Upgrade", {194, 34, 81, 22}, kChild | WS_TABSTOP | BS_PUSHBUTTON, WS_EX_DLGMODALFRAME},
    {IDC_PROGRESS, PROGRESS_CLASSA, "", {2, 93, 186, 16}, kChild | WS_BORDER | PBS_SMOOTH, WS_EX_TRANSPARENT},
    {IDC_CHECK_VERSION, "Button", "Check Version", {194, 64, 81, 22}, kChild | WS_TABSTOP | BS_PUSHBUTTON,
     WS_EX_DLGMODALFRAME},
    {IDC_PORT, "ComboBox", "", {235, 97, 40, 73}, kChild | CBS_DROPDOWNLIST | WS_VSCROLL | WS_GROUP | WS_TABSTOP,
     WS_EX_CLIENTEDGE | WS_EX_STATICEDGE},
    {-1, "Static", "COM Port:", {195, 97, 37, 12}, kChild | SS_RIGHT | SS_CENTERIMAGE | WS_GROUP, 0},
    {IDC_LOG, "Static", "", {1, 4, 188, 73}, kChild | SS_LEFTNOWORDWRAP, WS_EX_CLIENTEDGE | WS_EX_DLGMODALFRAME},
};

// The resource itself, in template order, which is also the tab order.
TEST(Win32Dialog, TemplateAsGiven)
{
    const DialogTemplate dialog = ReadTemplate();
    EXPECT_EQ(Describe(dialog.units), Describe(RECT{0, 0, 275, 109}));
    EXPECT_EQ(dialog.caption, "Tavrel Upgrade Utility");
    EXPECT_EQ(dialog.style, DWORD(DS_SETFONT | DS_MODALFRAME | DS_3DLOOK | WS_POPUP | WS_VISIBLE | WS_CAPTION |
                                  WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(dialog.exStyle, DWORD(WS_EX_APPWINDOW));
    EXPECT_EQ(dialog.face, "Courier New");
    EXPECT_EQ(dialog.pointSize, 9);
    EXPECT_EQ(dialog.weight, FW_NORMAL);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, DEFAULT_CHARSET);

    ASSERT_EQ(dialog.items.size(), std::size(kControls));
    for (std::size_t i = 0; i < dialog.items.size(); ++i) {
        const TemplateItem& item = dialog.items[i];
        const ControlCase& c = kControls[i];
        SCOPED_TRACE("control " + std::to_string(c.id));
        EXPECT_EQ(item.id, c.id);
        // Class names are case-blind (the resource compiler writes them in capitals).
        EXPECT_EQ(_stricmp(item.className.c_str(), c.className), 0) << item.className;
        EXPECT_EQ(item.text, c.text);
        EXPECT_EQ(Describe(item.units), Describe(c.units));
        EXPECT_EQ(item.style, c.style) << std::hex << item.style;
        EXPECT_EQ(item.exStyle, c.exStyle) << std::hex << item.exStyle;
    }
}

// Windows lays the template out in pixels itself: each control where
// MapDialogRect puts the template's figures (origin and size converted
// each on its own, as the dialog manager does).
TEST(Win32Dialog, ControlsWhereTheTemplatePutsThem)
{
    Rig rig;
    rig.Open();
    const HWND dialog = rig.Window();

    HWND control = GetWindow(dialog, GW_CHILD);
    for (const ControlCase& c : kControls) {
        SCOPED_TRACE("control " + std::to_string(c.id));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(GetDlgCtrlID(control), c.id);
        char className[64] = {};
        GetClassNameA(control, className, sizeof className);
        EXPECT_STREQ(className, c.className);

        const RECT origin = DialogUnits(dialog, c.units.left, c.units.top, 0, 0);
        const RECT size = DialogUnits(dialog, 0, 0, c.units.right, c.units.bottom);
        RECT expected{origin.left, origin.top, origin.left + size.right, origin.top + size.bottom};
        RECT placed = Placed(control);
        if (c.id == IDC_PORT) {
            // 73 units is the height with the list open (the template's,
            // checked above); closed, the box is as high as its font makes it.
            expected.bottom = expected.top + (placed.bottom - placed.top);
        }
        EXPECT_EQ(Describe(placed), Describe(expected));
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr) << "a control the template does not have";
}

TEST(Win32Dialog, WindowAsTheTemplateGivesIt)
{
    Rig rig;
    rig.Open();
    const HWND dialog = rig.Window();

    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_EQ(Describe(client), Describe(DialogUnits(dialog, 0, 0, 275, 109)));
    char caption[64] = {};
    GetWindowTextA(dialog, caption, sizeof caption);
    EXPECT_STREQ(caption, "Tavrel Upgrade Utility");

    const LONG style = GetWindowLongA(dialog, GWL_STYLE);
    for (LONG bit : {LONG(WS_POPUP), LONG(WS_CAPTION), LONG(WS_SYSMENU), LONG(WS_MINIMIZEBOX), LONG(WS_VISIBLE),
                     LONG(DS_MODALFRAME), LONG(DS_3DLOOK)})
        EXPECT_EQ(style & bit, bit) << std::hex << bit;
    EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    EXPECT_EQ(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW, WS_EX_APPWINDOW);

    LOGFONTA font{};
    ASSERT_TRUE(GetObjectA(reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)), sizeof font, &font));
    EXPECT_STREQ(font.lfFaceName, "Courier New");
    HDC screen = GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -MulDiv(9, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(font.lfWeight, FW_NORMAL);
    EXPECT_FALSE(font.lfItalic);

    // Tab order: the template's, among the controls that take the focus.
    std::vector<int> order;
    HWND at = rig.Item(IDOK);
    for (int i = 0; i < 4; ++i) {
        at = GetNextDlgTabItem(dialog, at, FALSE);
        order.push_back(GetDlgCtrlID(at));
    }
    EXPECT_EQ(order, (std::vector<int>{IDC_UPGRADE, IDC_CHECK_VERSION, IDC_PORT, IDOK}));

    // The icon of resource 128, large and small.
    const HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_BIG, 0)), icon);
    EXPECT_EQ(reinterpret_cast<HICON>(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0)), icon);
}

// ---- Start-up and Select File --------------------------------------------------

TEST(Win32Dialog, StartUpState)
{
    Rig rig;
    rig.Open();
    const HWND dialog = rig.Window();

    EXPECT_EQ(Text(dialog, IDC_STATUS), "Please select firmware file.");
    EXPECT_EQ(Text(dialog, IDC_LOG), kUsage);
    EXPECT_EQ(rig.state->firmwareValid, 0);

    std::vector<std::string> entries;
    const int count = static_cast<int>(SendMessageA(rig.Item(IDC_PORT), CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char entry[16] = {};
        SendMessageA(rig.Item(IDC_PORT), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(entry));
        entries.push_back(entry);
    }
    EXPECT_EQ(entries, (std::vector<std::string>{"AUTO", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
                                                 "COM8", "COM9", "COM10", "COM11", "COM12"}));
    EXPECT_EQ(SendMessageA(rig.Item(IDC_PORT), CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(rig.dlg->PortSelection(), "AUTO");

    PBRANGE range{};
    SendMessageA(rig.Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);
    EXPECT_EQ(Progress(rig), 0);
    EXPECT_TRUE(Enabled(rig, true));

    SetForegroundWindow(dialog);
    EXPECT_TRUE(PumpUntil(dialog, [&] { return GetFocus() == rig.Item(IDOK); }, std::chrono::seconds(10)));
}

TEST(Win32Dialog, FileDialogSettings)
{
    char buffer[MAX_PATH] = "leftover";
    const OPENFILENAMEA setup = CUpgradeDlg::FileDialogSetup(nullptr, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "*.*");
    EXPECT_EQ(setup.lpstrFile, buffer);
    EXPECT_EQ(setup.nMaxFile, sizeof buffer);
    // One filter: label "*.*", pattern "*.*", then the list's end.
    ASSERT_NE(setup.lpstrFilter, nullptr);
    EXPECT_EQ(std::string(setup.lpstrFilter, 9), std::string("*.*\0*.*\0\0", 9));
    EXPECT_EQ(setup.nFilterIndex, 1u);
    EXPECT_EQ(setup.lpstrDefExt, nullptr);
    EXPECT_EQ(setup.Flags & OFN_READONLY, DWORD(OFN_READONLY));
    EXPECT_EQ(setup.Flags & (OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST), 0u);
}

struct SelectCase {
    const char* name;
    const char* fileName;
    bool exists;
    bool crcBroken;
    const char* log;
    int valid;
    const char* warning;
};

TEST(Win32Dialog, SelectFile)
{
    const SelectCase cases[] = {
        {"valid", "update.bin", true, false,
         "Firmware infomation :\nModel : PZN442\nVersion : 7-12-25\n\nPress Check KVM to compare version date.", 1,
         ""},
        {"CRC failure", "update.bin", true, true,
         "Firmware infomation :\nModel : CRC error.\nVersion :  You may not continue upgrade\n\twith this file.", 0,
         ""},
        {"missing", "absent.bin", false, false, "Firmware infomation :\nModel : CRC error.\nVersion : ", 0,
         "Warning: File not exists!"},
        // In the ANSI code page, as the file box gives it: shown so, not as \xNN.
        {"ANSI name", "Caf\xe9.bin", true, false,
         "Firmware infomation :\nModel : PZN442\nVersion : 7-12-25\n\nPress Check KVM to compare version date.", 1,
         ""},
    };
    for (const SelectCase& c : cases) {
        SCOPED_TRACE(c.name);
        const F files;
        F::Bytes content = WithInfoRecord(4096);
        if (c.crcBroken)
            content[100] ^= 0x01;
        // The name's bytes as they are, in the ANSI code page as the file box
        // gives them (the C++ library would take them for UTF-8).
        const std::string path = files.PathOf("") + c.fileName;
        if (c.exists) {
            ASSERT_TRUE(MoveFileA(files.Write("written.bin", content).c_str(), path.c_str()));
        }
        Rig rig;
        CUpgradeDlg& dlg = rig.Open();
        std::string warned;
        dlg.SetWarningBox([&](const std::string& text, const std::string& caption) { warned = caption + ": " + text; });
        dlg.SetChooseFile([&] { return std::optional<std::string>(path); });

        Click(rig, IDOK);

        EXPECT_EQ(Text(rig.Window(), IDC_LOG), c.log);
        EXPECT_EQ(Text(rig.Window(), IDC_STATUS), c.fileName);
        EXPECT_EQ(rig.state->firmwarePath, path);
        EXPECT_EQ(rig.state->firmwareValid, c.valid);
        EXPECT_EQ(warned, c.warning);
        EXPECT_TRUE(Enabled(rig, true));
    }
}

// ---- Upgrade's refusals, and closing ----------------------------------------

TEST(Win32Dialog, UpgradeWithoutAFile)
{
    Rig rig;
    CUpgradeDlg& dlg = rig.Open();
    bool asked = false;
    dlg.SetConfirmBox([&](const std::string&, const std::string&) { return asked = true; });

    Click(rig, IDC_UPGRADE);

    EXPECT_EQ(Text(rig.Window(), IDC_STATUS), "Please select firmware file.");
    EXPECT_EQ(Text(rig.Window(), IDC_LOG), kRefusalUsage);
    EXPECT_FALSE(asked);
    EXPECT_FALSE(dlg.Operations().WorkerRunning());
    EXPECT_TRUE(Enabled(rig, true));
}

TEST(Win32Dialog, ConfirmationCancelled)
{
    const F files;
    const std::string path = files.Write("update.bin", WithInfoRecord(1024));
    Rig rig;
    CUpgradeDlg& dlg = rig.Open();
    std::vector<std::string> asked;
    dlg.SetConfirmBox([&](const std::string& text, const std::string& caption) {
        asked = {caption, text};
        return false;
    });
    dlg.SetChooseFile([&] { return std::optional<std::string>(path); });
    Click(rig, IDOK);
    SelectPort(rig, 1);
    const std::string shown = Text(rig.Window(), IDC_STATUS) + "|" + Text(rig.Window(), IDC_LOG);

    Click(rig, IDC_UPGRADE);

    EXPECT_EQ(asked, (std::vector<std::string>{"Confirm", kConfirmText}));
    EXPECT_EQ(Text(rig.Window(), IDC_STATUS) + "|" + Text(rig.Window(), IDC_LOG), shown);
    EXPECT_TRUE(Enabled(rig, true));
    EXPECT_FALSE(dlg.Operations().WorkerRunning());
    EXPECT_FALSE(rig.port.IsOpen());
}

TEST(Win32Dialog, CloseWhenIdle)
{
    for (UINT how : {UINT(WM_CLOSE), UINT(WM_COMMAND)}) {
        Rig rig;
        rig.Open();
        const HWND dialog = rig.Window();
        // The close box's WM_CLOSE is posted on as the Cancel command.
        if (how == WM_CLOSE)
            SendMessageA(dialog, WM_CLOSE, 0, 0);
        else
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); // Escape
        EXPECT_TRUE(PumpUntil(nullptr, [&] { return !IsWindow(dialog); }, std::chrono::seconds(10)));
    }
}

// The status texts of our own fit the status line; a long path loses its
// middle and keeps its start and the file's name.
TEST(Win32Dialog, StatusTextsFit)
{
    Rig rig;
    CUpgradeDlg& dlg = rig.Open();
    for (const char* text : SystemTexts::kOwnStatusTexts) {
        dlg.SetStatus(text);
        dlg.UpdateData();
        EXPECT_EQ(Text(rig.Window(), IDC_STATUS), text);
    }
    const std::string path = "C:\\Users\\someone\\Documents\\firmware\\archive\\2025\\december\\hx5tra-7-12-25.bin";
    dlg.SetStatus(path);
    dlg.UpdateData();
    const std::string shown = Text(rig.Window(), IDC_STATUS);
    EXPECT_NE(shown, path);
    EXPECT_EQ(shown.rfind("C:\\Users\\", 0), 0u) << shown;
    EXPECT_NE(shown.find("...", 0), std::string::npos) << shown;
    EXPECT_EQ(shown.substr(shown.size() - 18), "hx5tra-7-12-25.bin") << shown;
}

// ---- On the line: the simulated switch as COM1 ---------------------------------

class Win32DialogOnTheLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (g_line.port.empty() || g_line.file.empty())
            GTEST_SKIP() << "no switch given (--port, --file)";
    }
    // Picks the file and COM1, as a user would before pressing a button.
    static void Prepare(Rig& rig, CUpgradeDlg& dlg)
    {
        dlg.SetChooseFile([] { return std::optional<std::string>(g_line.file); });
        dlg.SetConfirmBox([](const std::string&, const std::string&) { return true; });
        Click(rig, IDOK);
        SelectPort(rig, 1);
        ASSERT_EQ(rig.state->firmwareValid, 1);
    }
};

// The Linux side checks that the switch stored the file byte for byte.
TEST_F(Win32DialogOnTheLine, Upgrade)
{
    Rig rig;
    CUpgradeDlg& dlg = rig.Open();
    Prepare(rig, dlg);

    Click(rig, IDC_UPGRADE);
    EXPECT_TRUE(Enabled(rig, false));
    ASSERT_TRUE(PumpUntil(rig.Window(), [&] { return Enabled(rig, true); }, std::chrono::minutes(2)));

    EXPECT_FALSE(dlg.Operations().WorkerRunning());
    EXPECT_EQ(Text(rig.Window(), IDC_STATUS), "Upgrade complete!");
    EXPECT_EQ(Progress(rig), 100);
    const std::string log = Text(rig.Window(), IDC_LOG);
    const std::string last = "Upgrading in progress............[   OK   ]";
    EXPECT_EQ(log.substr(log.size() - last.size()), last) << log;
    EXPECT_FALSE(rig.port.IsOpen());
    if (!g_line.picture.empty()) {
        RedrawWindow(rig.Window(), nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
        EXPECT_TRUE(WindowPicture::Save(rig.Window(), g_line.picture));
    }
}

// The close box and Escape are refused while the upgrade runs, and a box
// says why; the run goes on to its end, after which the window closes.
TEST_F(Win32DialogOnTheLine, CloseRefusedDuringTheRun)
{
    Rig rig;
    GatedDlg& dlg = rig.Open<GatedDlg>();
    Prepare(rig, dlg);
    std::vector<std::string> warnings;
    dlg.SetWarningBox([&](const std::string& text, const std::string& caption) { warnings.push_back(caption + ": " + text); });

    Click(rig, IDC_UPGRADE);
    ASSERT_TRUE(PumpUntil(rig.Window(), [&] { return dlg.WorkerWaiting(); }, std::chrono::seconds(30)));
    const HWND dialog = rig.Window();
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(PumpUntil(dialog, [&] { return warnings.size() >= 2; }, std::chrono::seconds(10)));
    EXPECT_TRUE(IsWindow(dialog));
    const std::string reason = std::string(SystemTexts::kCaption) + ": " + SystemTexts::kCloseRefusedText;
    EXPECT_EQ(warnings, (std::vector<std::string>{reason, reason}));

    dlg.Release();
    ASSERT_TRUE(PumpUntil(dialog, [&] { return Enabled(rig, true); }, std::chrono::minutes(2)));
    EXPECT_EQ(Text(dialog, IDC_STATUS), "Upgrade complete!");
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(PumpUntil(nullptr, [&] { return !IsWindow(dialog); }, std::chrono::seconds(10)));
    EXPECT_EQ(warnings.size(), 2u);
}

// The window system is served throughout: a 20 ms timer on the dialog's
// thread keeps ticking while the switch is probed and its version awaited
// (the Linux side makes the switch answer the probe and nothing after it).
TEST_F(Win32DialogOnTheLine, KeepsServingDuringCheckVersion)
{
    Rig rig;
    CUpgradeDlg& dlg = rig.Open();
    SelectPort(rig, 1);
    static DWORD last = 0;
    static DWORD longestGap = 0;
    last = GetTickCount();
    longestGap = 0;
    const DWORD start = last;
    SetTimer(rig.Window(), 1, 20, [](HWND, UINT, UINT_PTR, DWORD) {
        const DWORD now = GetTickCount();
        longestGap = std::max(longestGap, now - last);
        last = now;
    });

    Click(rig, IDC_CHECK_VERSION);
    EXPECT_TRUE(dlg.Operations().WorkerRunning());
    ASSERT_TRUE(PumpUntil(rig.Window(), [&] { return Enabled(rig, true); }, std::chrono::minutes(1)));
    KillTimer(rig.Window(), 1);

    EXPECT_GT(GetTickCount() - start, 2000u) << "the check waited on the line";
    // Each version request alone pauses 800 ms: a check on this thread
    // would stop the timer for at least that long.
    EXPECT_LT(longestGap, 500u);
    EXPECT_EQ(Text(rig.Window(), IDC_STATUS), "Couldn't find KVM");
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        for (auto [option, target] : {std::pair<const char*, std::string*>{"--port=", &g_line.port},
                                      {"--file=", &g_line.file},
                                      {"--picture=", &g_line.picture}}) {
            if (arg.rfind(option, 0) == 0)
                *target = arg.substr(std::string(option).size());
        }
    }
    return RUN_ALL_TESTS();
}

#include "ui/win32/CUpgradeDlg.h"

#include <commctrl.h>

#include <cstring>

#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "kvm/SystemTexts.h"
#include "ui/DialogCommands.h"

namespace {

// What the worker posts to the dialog's thread.
constexpr UINT kTextsMessage = WM_APP + 1;   // lParam: the PostedTexts to show, freed there
constexpr UINT kProgressMessage = WM_APP + 2; // wParam: the position
constexpr UINT kEnableMessage = WM_APP + 3;
constexpr UINT kFirstPosted = kTextsMessage;
constexpr UINT kLastPosted = kEnableMessage;

// A posting thread's queue holds 10000 messages; should it ever be full the
// worker waits for the dialog's thread to catch up, a while, not for ever.
constexpr int kPostAttempts = 2000;

constexpr char kEllipsis[] = "...";

// The text as the status line can show it on one line: a file's path that
// is too wide loses its middle, so that its start and the file's name stay.
std::string FitToControl(HWND control, const std::string& text)
{
    RECT client{};
    GetClientRect(control, &client);
    const LONG room = client.right - client.left;
    HDC dc = GetDC(control);
    if (dc == nullptr)
        return text;
    const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)));
    auto width = [dc](const std::string& candidate) {
        SIZE size{};
        GetTextExtentPoint32A(dc, candidate.data(), static_cast<int>(candidate.size()), &size);
        return size.cx;
    };
    std::string shown = text;
    for (std::size_t cut = 1; width(shown) > room && cut <= text.size(); ++cut) {
        const std::size_t head = (text.size() - cut + 1) / 2;
        const std::size_t tail = (text.size() - cut) / 2;
        shown = text.substr(0, head) + kEllipsis + text.substr(text.size() - tail);
    }
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return shown;
}

} // namespace

CUpgradeDlg::CUpgradeDlg(SharedState& state) : m_state(state), m_threadId(GetCurrentThreadId())
{
    m_status = SystemTexts::kSelectFile;
    m_state.logText = SystemTexts::kUsageText;
    m_icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));

    m_chooseFile = [this] { return DefaultChooseFile(); };
    m_confirmBox = [this](const std::string& text, const std::string& caption) {
        return DefaultConfirmBox(text, caption);
    };
    // No owner window, but every window of the dialog's thread disabled
    // while it shows: nothing can be clicked behind it.
    m_warningBox = [](const std::string& text, const std::string& caption) {
        MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONWARNING | MB_TASKMODAL);
    };
    m_ops = std::make_unique<KvmOperations>(m_state, *this);
}

CUpgradeDlg::~CUpgradeDlg()
{
    // A worker still running keeps calling the services until it ends: wait
    // for it while every member it may touch still exists.
    m_ops.reset();
    if (m_hWnd != nullptr)
        DestroyWindow(m_hWnd);
}

INT_PTR CUpgradeDlg::DoModal()
{
    m_modal = true;
    m_threadId = GetCurrentThreadId();
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

bool CUpgradeDlg::Create()
{
    m_modal = false;
    m_threadId = GetCurrentThreadId();
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD), nullptr, DialogProc,
                       reinterpret_cast<LPARAM>(this));
    return m_hWnd != nullptr;
}

INT_PTR CALLBACK CUpgradeDlg::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CUpgradeDlg*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        return dialog->HandleMessage(message, wParam, lParam);
    }
    auto* dialog = reinterpret_cast<CUpgradeDlg*>(GetWindowLongPtrA(window, DWLP_USER));
    return dialog != nullptr ? dialog->HandleMessage(message, wParam, lParam) : FALSE;
}

INT_PTR CUpgradeDlg::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        // Button clicks, Enter (IDOK) and the Cancel command; nothing the
        // port selector notifies is acted on.
        if (HIWORD(wParam) == BN_CLICKED)
            OnCommand(LOWORD(wParam));
        return TRUE;
    case WM_PAINT:
        return OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(OnQueryDragIcon());
    case kTextsMessage:
    case kProgressMessage:
    case kEnableMessage:
        OnPosted(message, wParam, lParam);
        return TRUE;
    case WM_DESTROY: {
        // Nothing is posted here any more; what is still queued is freed.
        m_postTarget = nullptr;
        MSG pending;
        while (PeekMessageA(&pending, m_hWnd, kFirstPosted, kLastPosted, PM_REMOVE)) {
            if (pending.message == kTextsMessage)
                delete reinterpret_cast<PostedTexts*>(pending.lParam);
        }
        return FALSE;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrA(m_hWnd, DWLP_USER, 0);
        m_hWnd = nullptr;
        m_portCombo = nullptr;
        m_progress = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL CUpgradeDlg::OnInitDialog()
{
    m_portCombo = GetDlgItem(m_hWnd, IDC_PORT);
    m_progress = GetDlgItem(m_hWnd, IDC_PROGRESS);
    m_postTarget = m_hWnd;
    UpdateData();
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    for (const char* port : kDialogPorts)
        SendMessageA(m_portCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(port));
    // The port last used, or the one the kept settings name; AUTO else.
    const LRESULT preset = SendMessageA(m_portCombo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                        reinterpret_cast<LPARAM>(m_state.portName.c_str()));
    SendMessageA(m_portCombo, CB_SETCURSEL, preset == CB_ERR ? 0 : static_cast<WPARAM>(preset), 0);
    SendMessageA(m_progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageA(m_progress, PBM_SETPOS, 0, 0);
    return TRUE; // the focus goes to the first control that takes it, Select File
}

// A minimised window shows the icon centred in it; otherwise the dialog
// manager paints.
bool CUpgradeDlg::OnPaint()
{
    if (!IsIconic(m_hWnd))
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_hWnd, &paint);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int iconWidth = GetSystemMetrics(SM_CXICON);
    const int iconHeight = GetSystemMetrics(SM_CYICON);
    RECT client{};
    GetClientRect(m_hWnd, &client);
    DrawIcon(dc, (client.right - client.left - iconWidth + 1) / 2, (client.bottom - client.top - iconHeight + 1) / 2,
             m_icon);
    EndPaint(m_hWnd, &paint);
    return true;
}

void CUpgradeDlg::OnCommand(int id)
{
    switch (id) {
    case IDOK:
        // Enter reaches here as the OK command even while Select File is
        // disabled: no file is loaded under a running operation.
        if (IsWindowEnabled(GetDlgItem(m_hWnd, IDOK)))
            OnOK();
        break;
    case IDC_UPGRADE:
        OnUpgrade();
        break;
    case IDC_CHECK_VERSION:
        OnCheckVersion();
        break;
    case IDCANCEL:
        OnCancel();
        break;
    default:
        break;
    }
}

std::string CUpgradeDlg::Status() const
{
    const std::lock_guard<std::mutex> lock(m_textMutex);
    return m_status;
}

// ---- DialogServices -------------------------------------------------------

void CUpgradeDlg::SetStatus(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(m_textMutex);
    m_status = text;
}

bool CUpgradeDlg::OnDialogThread() const
{
    return GetCurrentThreadId() == m_threadId;
}

void CUpgradeDlg::UpdateData()
{
    // Copies taken here, on the caller's thread, which is the only one
    // writing these texts at this moment; the dialog's thread only ever sees
    // the copies.
    auto copy = std::make_unique<PostedTexts>(PostedTexts{Status(), m_state.logText});
    if (!OnDialogThread()) {
        Post(kTextsMessage, 0, std::move(copy));
        return;
    }
    if (m_hWnd == nullptr)
        return; // shown by OnInitDialog
    DrainPosted();
    ApplyTexts(copy->status, copy->log);
}

void CUpgradeDlg::Post(UINT message, WPARAM wParam, std::unique_ptr<PostedTexts> copy)
{
    const HWND target = m_postTarget.load();
    for (int attempt = 0; target != nullptr && attempt < kPostAttempts; ++attempt) {
        if (PostMessageA(target, message, wParam, reinterpret_cast<LPARAM>(copy.get()))) {
            copy.release(); // the dialog's thread frees it
            return;
        }
        if (!IsWindow(target))
            return;
        Sleep(1);
    }
}

void CUpgradeDlg::DrainPosted()
{
    MSG pending;
    while (m_hWnd != nullptr && PeekMessageA(&pending, m_hWnd, kFirstPosted, kLastPosted, PM_REMOVE))
        OnPosted(pending.message, pending.wParam, pending.lParam);
}

void CUpgradeDlg::OnPosted(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case kTextsMessage: {
        const std::unique_ptr<PostedTexts> copy(reinterpret_cast<PostedTexts*>(lParam));
        if (copy)
            ApplyTexts(copy->status, copy->log);
        break;
    }
    case kProgressMessage:
        SendMessageA(m_progress, PBM_SETPOS, wParam, 0);
        break;
    case kEnableMessage:
        ApplyButtons(true);
        break;
    default:
        break;
    }
}

void CUpgradeDlg::ApplyTexts(const std::string& status, const std::string& log)
{
    // Names come in the ANSI code page, as the file box and the system give
    // them, and a static control shows them so; it takes no escape sequence.
    const HWND statusLine = GetDlgItem(m_hWnd, IDC_STATUS);
    SetWindowTextA(statusLine, FitToControl(statusLine, status).c_str());
    SetDlgItemTextA(m_hWnd, IDC_LOG, log.c_str());
}

void CUpgradeDlg::TrimLog()
{
    ApplyTrimLog(m_state, *this);
}

void CUpgradeDlg::DisableButtons()
{
    DrainPosted();
    ApplyButtons(false);
}

void CUpgradeDlg::EnableButtons()
{
    if (!OnDialogThread()) {
        Post(kEnableMessage, 0, nullptr);
        return;
    }
    DrainPosted();
    ApplyButtons(true);
}

void CUpgradeDlg::ApplyButtons(bool enabled)
{
    if (m_hWnd == nullptr)
        return;
    for (int id : kOperationControls)
        EnableWindow(GetDlgItem(m_hWnd, id), enabled ? TRUE : FALSE);
    // A disabled control loses the keyboard focus for good; it comes back
    // to Select File, so that Enter and Tab work again.
    if (enabled && GetFocus() == nullptr && GetActiveWindow() == m_hWnd)
        SendMessageA(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hWnd, IDOK)), TRUE);
}

void CUpgradeDlg::SetProgress(int percent)
{
    if (!OnDialogThread()) {
        Post(kProgressMessage, static_cast<WPARAM>(percent), nullptr);
        return;
    }
    DrainPosted();
    SendMessageA(m_progress, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

std::string CUpgradeDlg::PortSelection()
{
    const LRESULT index = SendMessageA(m_portCombo, CB_GETCURSEL, 0, 0);
    const LRESULT length = SendMessageA(m_portCombo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (index == CB_ERR || length == CB_ERR)
        return std::string();
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(m_portCombo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(std::strlen(text.c_str()));
    return text;
}

bool CUpgradeDlg::Confirm(const std::string& text, const std::string& caption)
{
    return m_confirmBox ? m_confirmBox(text, caption) : false;
}

void CUpgradeDlg::ShowWarning(const std::string& text, const std::string& caption)
{
    if (m_warningBox)
        m_warningBox(text, caption);
}

// ---- Commands ---------------------------------------------------------------

void CUpgradeDlg::OnOK()
{
    // EnableWindow says whether the control was disabled before.
    if (EnableWindow(GetDlgItem(m_hWnd, IDC_UPGRADE), TRUE))
        EnableButtons();

    const std::optional<std::string> fileName = SelectFileCommand(m_state, *this, m_chooseFile);
    if (!fileName)
        return;
    m_fileName = *fileName;
    SendMessageA(m_progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
}

// Both run their probe, pauses and waits on the worker thread, the controls
// disabled meanwhile: the dialog's thread keeps serving the window system, so
// the window never stops painting while the switch is searched for.
void CUpgradeDlg::OnUpgrade()
{
    m_ops->StartUpgrade();
}

void CUpgradeDlg::OnCheckVersion()
{
    m_ops->StartCheckVersion();
}

void CUpgradeDlg::OnCancel()
{
    if (RefuseCloseWhileRunning(m_ops.get(), *this))
        return;
    if (m_modal)
        EndDialog(m_hWnd, IDCANCEL);
    else
        DestroyWindow(m_hWnd);
}

// ---- Default boxes ------------------------------------------------------------

OPENFILENAMEA CUpgradeDlg::FileDialogSetup(HWND owner, char* buffer, DWORD size)
{
    static constexpr char kFilter[] = "*.*\0*.*\0"; // label and pattern: every file
    std::strncpy(buffer, "*.*", size);
    buffer[size - 1] = '\0';
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = kFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = buffer;
    dialog.nMaxFile = size;
    dialog.lpstrDefExt = nullptr;
    // The read-only box shown (no OFN_HIDEREADONLY) and ticked; any name may
    // be typed, existing or not (no OFN_FILEMUSTEXIST): the loader reports a
    // missing file itself.
    dialog.Flags = OFN_EXPLORER | OFN_READONLY;
    return dialog;
}

std::optional<std::string> CUpgradeDlg::DefaultChooseFile()
{
    char buffer[4 * MAX_PATH];
    OPENFILENAMEA dialog = FileDialogSetup(m_hWnd, buffer, sizeof buffer);
    if (!GetOpenFileNameA(&dialog))
        return std::nullopt;
    return std::string(buffer);
}

bool CUpgradeDlg::DefaultConfirmBox(const std::string& text, const std::string& caption)
{
    return MessageBoxA(m_hWnd, text.c_str(), caption.c_str(), MB_OKCANCEL | MB_DEFBUTTON2) == IDOK;
}

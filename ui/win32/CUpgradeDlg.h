#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "kvm/DialogServices.h"
#include "ui/win32/resource.h"

class KvmOperations;
struct SharedState;

// The utility's one window on Windows, built from dialog template 102: port
// selector, Select File / Upgrade / Check Version, status line, log pane and
// progress bar. It is also the services the operations report through. The
// worker-safe ones may be called from the upgrade worker's thread: they then
// post a copy of what is to be shown to the dialog's thread, which puts it
// into the controls in the order it was posted.
class CUpgradeDlg : public DialogServices {
public:
    static constexpr int IDD = IDD_UPGRADE_DIALOG;

    // The controls that start operations, in the order they are disabled
    // and enabled.
    static constexpr int kOperationControls[] = {IDOK, IDC_UPGRADE, IDC_CHECK_VERSION, IDC_PORT};

    explicit CUpgradeDlg(SharedState& state);
    ~CUpgradeDlg() override;
    CUpgradeDlg(const CUpgradeDlg&) = delete;
    CUpgradeDlg& operator=(const CUpgradeDlg&) = delete;

    // Runs the dialog modally; returns when it has been closed (IDCANCEL),
    // or -1 when it could not be created.
    INT_PTR DoModal();
    // The same window without a loop of its own, for a caller that runs
    // the messages itself (tests, the screenshot). False when it could not
    // be created. Closing it destroys the window.
    bool Create();
    HWND Window() const { return m_hWnd; }

    // DialogServices. SetStatus, UpdateData, TrimLog, EnableButtons and
    // SetProgress may be called from any thread; DisableButtons,
    // PortSelection, Confirm and ShowWarning on the dialog's thread only.
    void SetStatus(const std::string& text) override;
    void UpdateData() override;
    void TrimLog() override;
    void DisableButtons() override;
    void EnableButtons() override;
    void SetProgress(int percent) override;
    std::string PortSelection() override;
    bool Confirm(const std::string& text, const std::string& caption) override;
    void ShowWarning(const std::string& text, const std::string& caption) override;

    // Command handlers. OnOK is Select File (the dialog's OK command); it
    // never closes the dialog. OnCancel is Escape, the close box and Close
    // on the system menu: refused with a box while an operation runs.
    void OnOK();
    void OnUpgrade();
    void OnCheckVersion();
    void OnCancel();

    // Replaceable boxes (tests put their own answers here). The file chooser
    // returns the full path of the chosen file, or nothing on Cancel.
    using ChooseFileFn = std::function<std::optional<std::string>()>;
    using ConfirmFn = std::function<bool(const std::string& text, const std::string& caption)>;
    using WarningFn = std::function<void(const std::string& text, const std::string& caption)>;
    // An empty function counts as Cancel (and shows no warning).
    void SetChooseFile(ChooseFileFn choose) { m_chooseFile = std::move(choose); }
    void SetConfirmBox(ConfirmFn confirm) { m_confirmBox = std::move(confirm); }
    void SetWarningBox(WarningFn warning) { m_warningBox = std::move(warning); }

    // The file-open dialog's settings: initial name "*.*" in buffer, the one
    // filter "*.*", the read-only box shown and ticked, any name accepted.
    static OPENFILENAMEA FileDialogSetup(HWND owner, char* buffer, DWORD size);

    KvmOperations& Operations() { return *m_ops; }
    std::string Status() const;
    const std::string& FileName() const { return m_fileName; }
    HICON Icon() const { return m_icon; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    BOOL OnInitDialog();
    bool OnPaint();
    HICON OnQueryDragIcon() const { return m_icon; }
    void OnCommand(int id);

    // The texts of one UpdateData(), copied on the caller's thread.
    struct PostedTexts {
        std::string status;
        std::string log;
    };
    bool OnDialogThread() const;
    // Posts work for the dialog's thread; copy (may be null) goes with the
    // message and is freed there.
    void Post(UINT message, WPARAM wParam, std::unique_ptr<PostedTexts> copy);
    // Carries out what the worker has posted so far, in order.
    void DrainPosted();
    void OnPosted(UINT message, WPARAM wParam, LPARAM lParam);
    void ApplyTexts(const std::string& status, const std::string& log);
    void ApplyButtons(bool enabled);

    std::optional<std::string> DefaultChooseFile();
    bool DefaultConfirmBox(const std::string& text, const std::string& caption);

    std::string m_status;   // status line text; the operations write it
    HWND m_portCombo = nullptr;
    HWND m_progress = nullptr;
    std::string m_fileName; // name of the last confirmed file, without folder
    HICON m_icon = nullptr;

    SharedState& m_state;
    HWND m_hWnd = nullptr;
    // The window the worker posts to: set once it exists, cleared as it goes.
    std::atomic<HWND> m_postTarget{nullptr};
    bool m_modal = false;
    DWORD m_threadId = 0; // the dialog's thread, which owns the window

    ChooseFileFn m_chooseFile;
    ConfirmFn m_confirmBox;
    WarningFn m_warningBox;

    mutable std::mutex m_textMutex; // m_status: the worker writes it, the dialog's thread reads it

    // Last: destroyed (and its worker joined) before anything the worker uses.
    std::unique_ptr<KvmOperations> m_ops;
};

#include "ui/win32/CUpgradeApp.h"

#include <windows.h>

#include "ui/win32/CUpgradeDlg.h"
#include "ui/win32/WindowPicture.h"

bool CUpgradeApp::InitInstance(SharedState& state)
{
    {
        CUpgradeDlg dialog(state);
        dialog.DoModal();
    }
    return false;
}

bool CUpgradeApp::SaveScreenshot(SharedState& state, const std::string& path)
{
    CUpgradeDlg dialog(state);
    if (!dialog.Create())
        return false;
    const HWND window = dialog.Window();
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return WindowPicture::Save(window, path);
}

#include "ui/qt/CUpgradeApp.h"

#include <QPixmap>

#include "kvm/Version.h"
#include "ui/qt/CUpgradeDlg.h"

CUpgradeApp::CUpgradeApp(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("kvm-upgrade"));
    // Wayland matches the window to its menu entry and icon by this name.
    setDesktopFileName(QStringLiteral("org.kvmupgrade.KvmUpgrade"));
    setApplicationVersion(QStringLiteral(KVM_VERSION));
}

bool CUpgradeApp::InitInstance(SharedState& state)
{
    {
        CUpgradeDlg dialog(state);
        dialog.exec();
    }
    return false;
}

bool CUpgradeApp::SaveScreenshot(SharedState& state, const QString& path)
{
    CUpgradeDlg dialog(state);
    dialog.show();
    const QPixmap picture = dialog.grab();
    dialog.hide();
    return !picture.isNull() && picture.save(path, "PNG");
}

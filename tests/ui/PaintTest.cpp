// The dialog in a real window on an X server (Xvfb): it keeps painting while
// the switch is searched for, and pictures of it for the README.

#include <QComboBox>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "DialogRig.h"
#include "kvm/KvmOperations.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"
#include "ui/qt/CUpgradeDlg.h"

namespace {

// What the screen shows where widget is: the window system's picture, not
// the widget's own rendering, so that an unpainted area shows as it is.
QImage OnScreen(const QWidget& widget)
{
    const QPoint at = widget.mapToGlobal(QPoint(0, 0));
    return widget.screen()->grabWindow(0, at.x(), at.y(), widget.width(), widget.height()).toImage();
}

// At least half the pixels are not black.
bool Painted(const QImage& image)
{
    if (image.isNull())
        return false;
    qsizetype lit = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            lit += qGray(image.pixel(x, y)) > 24 ? 1 : 0;
    }
    return lit * 2 >= qsizetype(image.width()) * image.height();
}

void SaveIfAsked(const QImage& image, const char* name)
{
    const QByteArray folder = qgetenv("KVM_SCREENSHOT_DIR");
    if (!folder.isEmpty())
        image.save(QString::fromLocal8Bit(folder) + QLatin1Char('/') + QLatin1String(name));
}

} // namespace

class PaintTest : public QObject {
    Q_OBJECT

private slots:
    void repaintedDuringScan();
    void afterUpgrade();
};

// Hidden and shown again in the middle of a twelve-port scan, the window is
// painted again at once, buttons included, while the scan goes on.
void PaintTest::repaintedDuringScan()
{
    DialogRig rig;
    SwitchSimConfig silent;
    silent.silent = true;
    QVERIFY(rig.StartSwitches(12, silent));
    CUpgradeDlg& dlg = rig.Dialog();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));

    dlg.OnCheckVersion();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.StatusLineText().endsWith(QStringLiteral("is no KVM respondse.")), 10000);
    dlg.hide();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const QWidget& buttons = *dlg.Control(CUpgradeDlg::IDC_UPGRADE);
    QTRY_VERIFY_WITH_TIMEOUT(Painted(OnScreen(buttons)), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(Painted(OnScreen(*dlg.Control(CUpgradeDlg::IDOK))), 3000);
    // Painted while the scan was still going on, not after it.
    QVERIFY(dlg.Operations().WorkerRunning());
    SaveIfAsked(OnScreen(dlg), "during-scan.png");
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.Operations().WorkerRunning(), 30000);
}

void PaintTest::afterUpgrade()
{
    SwitchSim sim;
    std::string error;
    QVERIFY2(sim.Start(&error), error.c_str());
    FirmwareTestFiles files;
    using F = FirmwareTestFiles;
    const std::string path =
        files.Write("hx5tra-7-12-25.bin", F::WithCrc(F::Join({F::Filler(20000), F::InfoRecord(2, 7, 12, 25)})));
    DialogRig rig;
    rig.table.Map("COM1", sim.DevicePath());
    CUpgradeDlg& dlg = rig.Dialog();
    dlg.SetConfirmBox([](const QString&, const QString&) { return true; });
    dlg.SetChooseFile([path] { return std::optional<QString>(QString::fromStdString(path)); });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.OnOK();
    qobject_cast<QComboBox*>(dlg.Control(CUpgradeDlg::IDC_PORT))->setCurrentText("COM1");

    dlg.OnUpgrade();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.Operations().WorkerRunning(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(dlg.StatusLineText(), QStringLiteral("Upgrade complete!"), 10000);
    QVERIFY(sim.WaitForEndOfImage(std::chrono::seconds(10)));
    QCOMPARE(sim.Report().image, F::ReadBytes(path));
    QTRY_VERIFY_WITH_TIMEOUT(Painted(OnScreen(*dlg.Control(CUpgradeDlg::IDC_UPGRADE))), 3000);
    SaveIfAsked(OnScreen(dlg), "after-upgrade.png");
}

QTEST_MAIN(PaintTest)
#include "PaintTest.moc"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolTip>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "DialogRig.h"
#include "EnabledOrder.h"
#include "GatedDlg.h"
#include "kvm/KvmOperations.h"
#include "kvm/SystemTexts.h"
#include "tests/support/FirmwareTestFiles.h"
#include "tools/SwitchSim.h"
#include "ui/qt/CUpgradeDlg.h"
#include "ui/qt/LogPane.h"
#include "ui/qt/MessageBoxes.h"

namespace {

using F = FirmwareTestFiles;

const QString kUsage = QStringLiteral(
    "Usage:\n\t1. Connect upgrade cable to COM.\n\n\t2. Select firmware file.\n\n\t3. Click Upgrade button.");
const QString kRefusalUsage = QStringLiteral(
    "Usage:\n\t1.Connect upgrade cable to COM.\n\n\t2. Select firmware file.\n\n\t3.Click Upgrade button.");
const QString kSelectFile = QStringLiteral("Please select firmware file.");
const QString kConfirmText =
    QStringLiteral("During firmware upgrade, video, keyboard and mouse\nwill be locked up before KVM reset.");
constexpr int kOperationIds[] = {CUpgradeDlg::IDOK, CUpgradeDlg::IDC_UPGRADE, CUpgradeDlg::IDC_CHECK_VERSION,
                                 CUpgradeDlg::IDC_PORT};

bool OperationControlsEnabled(const CUpgradeDlg& dlg, bool enabled)
{
    for (int id : kOperationIds) {
        if (dlg.Control(id)->isEnabled() != enabled)
            return false;
    }
    return true;
}

QString Texts(const CUpgradeDlg& dlg)
{
    return dlg.StatusLineText() + QLatin1Char('|') + dlg.LogPaneText();
}

// size bytes in all: filler, a valid info record and the CRC trailer.
F::Bytes WithInfoRecord(std::size_t size, std::uint8_t index, std::uint8_t d1, std::uint8_t d2, std::uint8_t d3)
{
    return F::WithCrc(F::Join({F::Filler(size - 12), F::InfoRecord(index, d1, d2, d3)}));
}

// Picks path with Select File and COM1 in the port selector, as a user would
// before pressing Upgrade.
void SelectFileAndCom1(CUpgradeDlg& dlg, const QString& path)
{
    dlg.SetChooseFile([path] { return std::optional<QString>(path); });
    dlg.OnOK();
    qobject_cast<QComboBox*>(dlg.Control(CUpgradeDlg::IDC_PORT))->setCurrentText("COM1");
}

QImage Render(const QFont& font, const QString& text)
{
    LogPane pane;
    pane.setFont(font);
    pane.resize(300, 80);
    pane.setText(text);
    return pane.grab().toImage();
}

} // namespace

class UpgradeDlgTest : public QObject {
    Q_OBJECT

private slots:
    void startUpState();
    void templateGeometry_data();
    void templateGeometry();
    void sizeFromFontMetrics();
    void tabOrder();
    void enterKey();
    void selectFile_data();
    void selectFile();
    void cancelAfterValidFile();
    void selectFileReenablesControls();
    void trimLog_data();
    void trimLog();
    void disableAndEnableOrder();
    void servicesFromAnotherThread();
    void questionsOnTheDialogThread();
    void closeWhenIdle();
    void okCommandNeverCloses();
    void logPaneExpandsTabs_data();
    void logPaneExpandsTabs();
    void logPaneCutsLongLines();

    void upgradeWithoutValidFile();
    void cancelConfirmation();
    void upgradeEnds_data();
    void upgradeEnds();
    void boxesReadable_data();
    void boxesReadable();
    void ownTextsFit();
    void longPathElidedInTheMiddle();
    void dialogThreadKeepsServing_data();
    void dialogThreadKeepsServing();
    void closeRefusedDuringRun_data();
    void closeRefusedDuringRun();
    void destroyDuringRun();
    void nameInTheStatusLineAsItIs();
};

void UpgradeDlgTest::startUpState()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();

    QCOMPARE(dlg.StatusLineText(), kSelectFile);
    QCOMPARE(QString::fromStdString(dlg.Status()), kSelectFile);
    QCOMPARE(dlg.LogPaneText(), kUsage);
    QCOMPARE(QString::fromStdString(rig.state->logText), kUsage);
    QCOMPARE(rig.state->firmwareValid, 0);
    QVERIFY(rig.state->modelText.empty());
    QVERIFY(rig.state->versionText.empty());

    auto* combo = qobject_cast<QComboBox*>(dlg.Control(CUpgradeDlg::IDC_PORT));
    QVERIFY(combo);
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i)
        entries << combo->itemText(i);
    QCOMPARE(entries, QStringList({"AUTO", "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8",
                                   "COM9", "COM10", "COM11", "COM12"}));
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(dlg.PortSelection(), std::string("AUTO"));
    QVERIFY(!combo->isEditable());

    QVERIFY(OperationControlsEnabled(dlg, true));
    auto* progress = qobject_cast<QProgressBar*>(dlg.Control(CUpgradeDlg::IDC_PROGRESS));
    QVERIFY(progress);
    QCOMPARE(progress->minimum(), 0);
    QCOMPARE(progress->maximum(), 100);
    QCOMPARE(progress->value(), 0);
    QVERIFY(!progress->isTextVisible());

    QCOMPARE(dlg.windowTitle(), QStringLiteral("Tavrel Upgrade Utility"));
    const Qt::WindowFlags flags = dlg.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(!dlg.windowIcon().isNull());
    QCOMPARE(dlg.Icon().pixmap(QSize(32, 32)).size(), QSize(32, 32));
    QVERIFY(qobject_cast<QPushButton*>(dlg.Control(CUpgradeDlg::IDOK))->isDefault());

    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.focusWidget(), dlg.Control(CUpgradeDlg::IDOK));

    // main leaves the kept settings' port in portName; the selector starts there.
    rig.state->portName = "COM10";
    QCOMPARE(CUpgradeDlg(*rig.state).PortSelection(), std::string("COM10"));
}

void UpgradeDlgTest::templateGeometry_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("objectName");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("dlu"); // left, top, width, height

    QTest::newRow("Select File") << 1 << "control1" << "Select File" << QRect(194, 4, 81, 22);
    QTest::newRow("status line") << 1000 << "control1000" << "" << QRect(5, 81, 158, 10);
    QTest::newRow("Upgrade") << 3 << "control3" << "Upgrade" << QRect(194, 34, 81, 22);
    QTest::newRow("progress bar") << 1004 << "control1004" << "" << QRect(2, 93, 186, 16);
    QTest::newRow("Check Version") << 4 << "control4" << "Check Version" << QRect(194, 64, 81, 22);
    // Closed, the selector is as high as its label.
    QTest::newRow("port selector") << 1010 << "control1010" << "" << QRect(235, 97, 40, 12);
    QTest::newRow("COM Port:") << -1 << "comPortLabel" << "COM Port:" << QRect(195, 97, 37, 12);
    QTest::newRow("log pane") << 1013 << "control1013" << "" << QRect(1, 4, 188, 73);
}

void UpgradeDlgTest::templateGeometry()
{
    QFETCH(int, id);
    QFETCH(QString, objectName);
    QFETCH(QString, text);
    QFETCH(QRect, dlu);

    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    QWidget* control = dlg.findChild<QWidget*>(objectName);
    QVERIFY(control);
    QCOMPARE(control, dlg.Control(id));
    QCOMPARE(control->property("controlId").toInt(), id);
    if (auto* button = qobject_cast<QPushButton*>(control))
        QCOMPARE(button->text(), text);
    if (auto* label = qobject_cast<QLabel*>(control); label && !text.isEmpty())
        QCOMPARE(label->text(), text);

    const int bx = dlg.BaseUnitX();
    const int by = dlg.BaseUnitY();
    auto px = [](int units, int base, int divisor) {
        return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
    };
    const QRect expected(px(dlu.x(), bx, 4), px(dlu.y(), by, 8), px(dlu.width(), bx, 4), px(dlu.height(), by, 8));
    // Each value converted on its own: the buttons, whose right edge in the
    // template is the dialog's, may end one pixel past it after rounding.
    QCOMPARE(control->geometry(), expected);
    QVERIFY(dlg.rect().adjusted(0, 0, 1, 1).contains(control->geometry()));
}

void UpgradeDlgTest::sizeFromFontMetrics()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();

    const QFontInfo info(dlg.font());
    QVERIFY2(info.family() == QLatin1String("Courier New") || info.family() == QLatin1String("Liberation Mono"),
             qPrintable(info.family()));
    QCOMPARE(dlg.font().pointSize(), 9);
    QVERIFY(info.fixedPitch());

    const QFontMetrics metrics(dlg.font());
    const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int bx = (letters / 26 + 1) / 2;
    const int by = metrics.height();
    QCOMPARE(dlg.BaseUnitX(), bx);
    QCOMPARE(dlg.BaseUnitY(), by);
    const QSize client(static_cast<int>(std::lround(275.0 * bx / 4)), static_cast<int>(std::lround(109.0 * by / 8)));
    QCOMPARE(dlg.size(), client);
    QCOMPARE(dlg.minimumSize(), client);
    QCOMPARE(dlg.maximumSize(), client);
}

void UpgradeDlgTest::tabOrder()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();

    QList<int> chain;
    QWidget* widget = &dlg;
    while ((widget = widget->nextInFocusChain()) != &dlg) {
        if (widget->parentWidget() == &dlg && (widget->focusPolicy() & Qt::TabFocus))
            chain << widget->property("controlId").toInt();
    }
    QCOMPARE(chain, QList<int>({1, 3, 4, 1010}));

    dlg.show();
    QApplication::setActiveWindow(&dlg);
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    QCOMPARE(QApplication::focusWidget(), dlg.Control(1));
    QList<int> visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->property("controlId").toInt();
    }
    QCOMPARE(visited, QList<int>({3, 4, 1010, 1}));
}

void UpgradeDlgTest::enterKey()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    int chooserCalls = 0;
    dlg.SetChooseFile([&] {
        ++chooserCalls;
        return std::optional<QString>();
    });
    dlg.show();
    QApplication::setActiveWindow(&dlg);
    QVERIFY(QTest::qWaitForWindowActive(&dlg));

    QTest::keyClick(dlg.Control(CUpgradeDlg::IDOK), Qt::Key_Return);
    QCOMPARE(chooserCalls, 1);

    // The port selector passes Enter on to the dialog's default button.
    dlg.Control(CUpgradeDlg::IDC_PORT)->setFocus();
    QTest::keyClick(dlg.Control(CUpgradeDlg::IDC_PORT), Qt::Key_Return);
    QCOMPARE(chooserCalls, 2);

    // Another push button with the focus takes Enter itself.
    dlg.Control(CUpgradeDlg::IDC_UPGRADE)->setFocus();
    QTest::keyClick(dlg.Control(CUpgradeDlg::IDC_UPGRADE), Qt::Key_Return);
    QCOMPARE(chooserCalls, 2);
    QCOMPARE(dlg.LogPaneText(), kRefusalUsage);

    // While an operation runs, Select File is disabled and Enter does nothing.
    dlg.DisableButtons();
    QTest::keyClick(&dlg, Qt::Key_Return);
    QCOMPARE(chooserCalls, 2);
    QVERIFY(dlg.isVisible());
}

void UpgradeDlgTest::selectFile_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<F::Bytes>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("log");
    QTest::addColumn<int>("valid");
    QTest::addColumn<QString>("warning");

    const QString longer = QStringLiteral(
        "Firmware infomation :\nModel : %1\nVersion : %2\n\nPress Check KVM to compare version date.");
    const QString shorter = QStringLiteral("Firmware infomation :\nModel : %1\nVersion : %2");
    F::Bytes broken = WithInfoRecord(4096, 2, 7, 12, 25);
    broken[100] ^= 0x01;

    QTest::newRow("info record") << "update.bin" << WithInfoRecord(4096, 2, 7, 12, 25) << true
                                 << longer.arg("PZN442", "7-12-25") << 1 << "";
    QTest::newRow("date in the name") << "r315-07-11-30.bin" << F::WithCrc(F::Filler(1000)) << true
                                      << longer.arg("Corva", "07-11-30") << 1 << "";
    QTest::newRow("CRC failure") << "update.bin" << broken << true
                                 << shorter.arg("CRC error.", " You may not continue upgrade\n\twith this file.") << 0
                                 << "";
    QTest::newRow("name without a date")
        << "firmware.bin" << F::WithCrc(F::Filler(1000)) << true
        << shorter.arg("firmware.bin", "Unable to recognize date.") << 1 << "";
    QTest::newRow("missing file") << "absent.bin" << F::Bytes() << false << shorter.arg("CRC error.", "") << 0
                                  << "Warning: File not exists!";
}

void UpgradeDlgTest::selectFile()
{
    QFETCH(QString, fileName);
    QFETCH(F::Bytes, content);
    QFETCH(bool, exists);
    QFETCH(QString, log);
    QFETCH(int, valid);
    QFETCH(QString, warning);

    const F files;
    const std::string name = fileName.toStdString();
    const QString path = QString::fromStdString(exists ? files.Write(name, content) : files.PathOf(name));
    QVERIFY(!path.isEmpty());

    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    QString warned;
    dlg.SetWarningBox([&](const QString& text, const QString& caption) { warned = caption + ": " + text; });
    dlg.SetChooseFile([&] { return std::optional<QString>(path); });
    auto* progress = qobject_cast<QProgressBar*>(dlg.Control(CUpgradeDlg::IDC_PROGRESS));
    progress->setRange(0, 10);

    dlg.OnOK();

    QCOMPARE(dlg.LogPaneText(), log);
    QCOMPARE(QString::fromStdString(rig.state->logText), log);
    QCOMPARE(dlg.StatusLineText(), fileName);
    QCOMPARE(QString::fromStdString(dlg.Status()), fileName);
    QCOMPARE(QString::fromStdString(dlg.FileName()), fileName);
    QCOMPARE(QString::fromStdString(rig.state->firmwarePath), path);
    QCOMPARE(rig.state->firmwareValid, valid);
    QCOMPARE(warned, warning);
    QVERIFY(OperationControlsEnabled(dlg, true));
    QCOMPARE(progress->maximum(), 100);
    QCOMPARE(progress->minimum(), 0);
}

void UpgradeDlgTest::cancelAfterValidFile()
{
    const F files;
    const QString path = QString::fromStdString(files.Write("update.bin", WithInfoRecord(2048, 1, 3, 4, 21)));
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    dlg.SetChooseFile([&] { return std::optional<QString>(path); });
    dlg.OnOK();
    QCOMPARE(rig.state->firmwareValid, 1);
    const QString shown = Texts(dlg);

    dlg.SetChooseFile([] { return std::optional<QString>(); });
    dlg.OnOK();

    QVERIFY(rig.state->modelText.empty());
    QVERIFY(rig.state->versionText.empty());
    QCOMPARE(QString::fromStdString(rig.state->firmwarePath), path);
    QCOMPARE(rig.state->firmwareValid, 1);
    QCOMPARE(rig.state->firmwareDateKnown, 1);
    QCOMPARE(rig.state->dateField1, 3);
    QCOMPARE(rig.state->dateField2, 4);
    QCOMPARE(rig.state->dateField3, 21);
    QCOMPARE(Texts(dlg), shown);
    QVERIFY(OperationControlsEnabled(dlg, true));
}

void UpgradeDlgTest::selectFileReenablesControls()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    dlg.SetChooseFile([] { return std::optional<QString>(); });

    // Upgrade disabled: Select File enables it and everything with it.
    dlg.DisableButtons();
    dlg.OnOK();
    QVERIFY(OperationControlsEnabled(dlg, true));

    // Upgrade already enabled: nothing else is touched.
    dlg.Control(CUpgradeDlg::IDC_PORT)->setEnabled(false);
    dlg.OnOK();
    QVERIFY(!dlg.Control(CUpgradeDlg::IDC_PORT)->isEnabled());
    QVERIFY(dlg.Control(CUpgradeDlg::IDC_UPGRADE)->isEnabled());
}

void UpgradeDlgTest::trimLog_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("trimmed");
    QTest::newRow("six entries") << 6 << false;
    QTest::newRow("seven entries") << 7 << true;
}

void UpgradeDlgTest::trimLog()
{
    QFETCH(int, count);
    QFETCH(bool, trimmed);

    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    rig.state->logText = "entry";
    dlg.UpdateData();
    rig.state->logLineCount = count;
    QSignalSpy applied(&dlg, &CUpgradeDlg::textsApplied);

    QElapsedTimer timer;
    timer.start();
    dlg.TrimLog();
    const qint64 elapsed = timer.elapsed();

    if (trimmed) {
        QVERIFY2(elapsed >= 790, qPrintable(QString::number(elapsed)));
        QCOMPARE(dlg.LogPaneText(), QString());
        QVERIFY(rig.state->logText.empty());
        QCOMPARE(rig.state->logLineCount, 0);
        QCOMPARE(applied.count(), 1);
    } else {
        QCOMPARE(dlg.LogPaneText(), QStringLiteral("entry"));
        QCOMPARE(rig.state->logLineCount, count);
        QCOMPARE(applied.count(), 0);
    }
}

void UpgradeDlgTest::disableAndEnableOrder()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    EnabledOrder order;
    for (int id : {1, 1000, 3, 1004, 4, 1010, -1, 1013})
        dlg.Control(id)->installEventFilter(&order);

    dlg.DisableButtons();
    QCOMPARE(order.ids, QList<int>({1, 3, 4, 1010}));
    QVERIFY(OperationControlsEnabled(dlg, false));
    for (int id : {1000, 1004, -1, 1013})
        QVERIFY(dlg.Control(id)->isEnabled());

    order.ids.clear();
    dlg.EnableButtons();
    QCOMPARE(order.ids, QList<int>({1, 3, 4, 1010}));
    QVERIFY(OperationControlsEnabled(dlg, true));
}

void UpgradeDlgTest::servicesFromAnotherThread()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    QStringList seen;
    connect(&dlg, &CUpgradeDlg::textsApplied, &dlg,
            [&](const QString& status, const QString& log) { seen << "T " + status + "|" + log; });
    connect(&dlg, &CUpgradeDlg::progressApplied, &dlg, [&](int percent) { seen << "P " + QString::number(percent); });
    connect(&dlg, &CUpgradeDlg::buttonsEnabled, &dlg, [&](bool enabled) { seen << (enabled ? "E" : "D"); });

    constexpr int kRounds = 1000;
    QStringList expected;
    expected << "D";
    for (int i = 0; i < kRounds; ++i) {
        expected << QStringLiteral("T status %1|log line %1\n").arg(i);
        expected << QStringLiteral("P %1").arg(i % 101);
    }
    expected << "E";

    SharedState& state = *rig.state;
    std::thread worker([&dlg, &state] {
        dlg.DisableButtons();
        for (int i = 0; i < kRounds; ++i) {
            dlg.SetStatus("status " + std::to_string(i));
            state.logText = "log line " + std::to_string(i) + "\n";
            dlg.UpdateData();
            dlg.SetProgress(i % 101);
        }
        dlg.EnableButtons();
    });
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), expected.size(), 60000);
    worker.join();
    QCOMPARE(seen, expected);
    QCOMPARE(dlg.StatusLineText(), QStringLiteral("status 999"));
    QCOMPARE(dlg.LogPaneText(), QStringLiteral("log line 999\n"));
    QVERIFY(OperationControlsEnabled(dlg, true));
}

// The questions are asked before the worker starts, on the dialog's thread:
// they go straight to the boxes and the port selector.
void UpgradeDlgTest::questionsOnTheDialogThread()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    QStringList asked;
    dlg.SetConfirmBox([&](const QString& text, const QString& caption) {
        asked << caption + ": " + text;
        return true;
    });
    dlg.SetWarningBox([&](const QString& text, const QString& caption) { asked << caption + ": " + text; });
    qobject_cast<QComboBox*>(dlg.Control(CUpgradeDlg::IDC_PORT))->setCurrentText("COM7");

    const bool confirmed = dlg.Confirm("Go on?", "Confirm");
    dlg.ShowWarning("File not exists!", "Warning");
    const std::string port = dlg.PortSelection();
    QVERIFY(confirmed);
    QCOMPARE(asked, QStringList({"Confirm: Go on?", "Warning: File not exists!"}));
    QCOMPARE(port, std::string("COM7"));
}

void UpgradeDlgTest::closeWhenIdle()
{
    for (bool escape : {false, true}) {
        DialogRig rig;
        CUpgradeDlg& dlg = rig.Dialog();
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        if (escape)
            QTest::keyClick(&dlg, Qt::Key_Escape);
        else
            QVERIFY(dlg.close());
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
}

void UpgradeDlgTest::okCommandNeverCloses()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    int chooserCalls = 0;
    dlg.SetChooseFile([&] {
        ++chooserCalls;
        return std::optional<QString>();
    });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.accept();
    QVERIFY(dlg.isVisible());
    QCOMPARE(chooserCalls, 1);
    dlg.DisableButtons();
    dlg.accept();
    QCOMPARE(chooserCalls, 1);
}

void UpgradeDlgTest::logPaneExpandsTabs_data()
{
    QTest::addColumn<QString>("withTab");
    QTest::addColumn<QString>("withBlanks");
    QTest::newRow("line start") << "\tX" << "        X";
    QTest::newRow("mid stop") << "abc\tX" << "abc     X";
    QTest::newRow("at a stop") << "12345678\tX" << "12345678        X";
    QTest::newRow("two tabs") << "Usage:\n\t1.\tY" << "Usage:\n        1.      Y";
}

void UpgradeDlgTest::logPaneExpandsTabs()
{
    QFETCH(QString, withTab);
    QFETCH(QString, withBlanks);
    DialogRig rig;
    const QFont font = rig.Dialog().font();
    QVERIFY(QFontInfo(font).fixedPitch());
    const QImage tabbed = Render(font, withTab);
    QVERIFY(!tabbed.isNull());
    QCOMPARE(tabbed, Render(font, withBlanks));
    QVERIFY(tabbed != Render(font, QString()));
}

void UpgradeDlgTest::logPaneCutsLongLines()
{
    DialogRig rig;
    const QFont font = rig.Dialog().font();
    const QImage cut = Render(font, QString(400, QLatin1Char('W')));
    const QImage empty = Render(font, QString());

    // Drawn to the right edge, and nothing wrapped onto the rows below.
    const QRect firstLine(0, 0, cut.width(), 2 + QFontMetrics(font).height());
    const QRect rightEnd(cut.width() - 12, 0, 12, firstLine.height());
    QVERIFY(cut.copy(rightEnd) != empty.copy(rightEnd));
    const QRect below(0, firstLine.height(), cut.width(), cut.height() - firstLine.height());
    QCOMPARE(cut.copy(below), empty.copy(below));
}

// ---- The button paths, against the simulated switch on COM1 ----------------

void UpgradeDlgTest::upgradeWithoutValidFile()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    bool asked = false;
    dlg.SetConfirmBox([&](const QString&, const QString&) { return asked = true; });

    dlg.OnUpgrade();

    QCOMPARE(dlg.StatusLineText(), kSelectFile);
    QCOMPARE(dlg.LogPaneText(), kRefusalUsage);
    QVERIFY(!asked);
    QVERIFY(!dlg.Operations().WorkerRunning());
    QVERIFY(OperationControlsEnabled(dlg, true));
}

void UpgradeDlgTest::cancelConfirmation()
{
    SwitchSim sim;
    std::string error;
    QVERIFY2(sim.Start(&error), error.c_str());
    const F files;
    const QString path = QString::fromStdString(files.Write("update.bin", WithInfoRecord(1024, 2, 7, 12, 25)));
    DialogRig rig;
    rig.table.Map("COM1", sim.DevicePath());
    CUpgradeDlg& dlg = rig.Dialog();
    QStringList asked;
    dlg.SetConfirmBox([&](const QString& text, const QString& caption) {
        asked << caption << text;
        return false;
    });
    SelectFileAndCom1(dlg, path);
    const QString shown = Texts(dlg);

    dlg.OnUpgrade();

    QCOMPARE(asked, QStringList({"Confirm", kConfirmText}));
    QCOMPARE(Texts(dlg), shown);
    QVERIFY(OperationControlsEnabled(dlg, true));
    QVERIFY(!dlg.Operations().WorkerRunning());
    QVERIFY(!rig.port.IsOpen());
    QVERIFY(sim.Report().rawReceived.empty());
}

void UpgradeDlgTest::upgradeEnds_data()
{
    QTest::addColumn<int>("end");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("progress");
    QTest::newRow("complete") << 0 << "Upgrade complete!" << 100;
    QTest::newRow("file gone") << 1 << "Error: File can't be opened." << 0;
    QTest::newRow("block rejected") << 2 << "transmition timeout, upgrade fail." << 0;
}

void UpgradeDlgTest::upgradeEnds()
{
    QFETCH(int, end);
    QFETCH(QString, status);
    QFETCH(int, progress);

    SwitchSimConfig config;
    if (end == 2) {
        config.rejectBlock = 0;
        config.rejectCount = 10;
    }
    SwitchSim sim(config);
    std::string error;
    QVERIFY2(sim.Start(&error), error.c_str());
    const F files;
    const F::Bytes image = WithInfoRecord(2000, 2, 7, 12, 25);
    const QString path = QString::fromStdString(files.Write("update.bin", image));

    DialogRig rig;
    rig.table.Map("COM1", sim.DevicePath());
    CUpgradeDlg& dlg = rig.Dialog();
    dlg.SetConfirmBox([](const QString&, const QString&) { return true; });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    SelectFileAndCom1(dlg, path);
    if (end == 1)
        QVERIFY(QFile::remove(path));

    dlg.OnUpgrade();
    // Until the worker's last act reaches the dialog's thread, nothing can be
    // started.
    QVERIFY(OperationControlsEnabled(dlg, false));

    QTRY_VERIFY_WITH_TIMEOUT(!dlg.Operations().WorkerRunning(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(OperationControlsEnabled(dlg, true), 10000);
    QCOMPARE(dlg.StatusLineText(), status);
    auto* bar = qobject_cast<QProgressBar*>(dlg.Control(CUpgradeDlg::IDC_PROGRESS));
    QCOMPARE(bar->value(), progress);
    QVERIFY(!rig.port.IsOpen());
    if (end == 0) {
        QVERIFY(dlg.LogPaneText().endsWith(QStringLiteral("Upgrading in progress............[   OK   ]")));
        QVERIFY(sim.WaitForEndOfImage(std::chrono::seconds(10)));
        QCOMPARE(sim.Report().image, image);
    }
}

void UpgradeDlgTest::boxesReadable_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("caption");
    QTest::newRow("confirmation") << true << kConfirmText << QStringLiteral("Confirm");
    QTest::newRow("warning") << false << QStringLiteral("File not exists!") << QStringLiteral("Warning");
}

// Every text of the boxes is shown whole, and a box is wide enough for its
// caption beside a window manager's title buttons; also at QT_SCALE_FACTOR=2
// (a second run of this test).
void UpgradeDlgTest::boxesReadable()
{
    QFETCH(bool, confirm);
    QFETCH(QString, text);
    QFETCH(QString, caption);
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    const auto box = confirm ? MakeConfirmBox(&dlg, text, caption) : MakeWarningBox(&dlg, text, caption);
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));

    bool textFound = false;
    for (const QLabel* label : box->findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty())
            continue;
        textFound = textFound || label->text() == text;
        // A label that wraps needs the height its width calls for, else its whole hint.
        const bool wraps = label->wordWrap() && label->hasHeightForWidth();
        const int needed = wraps ? label->heightForWidth(label->width()) : label->sizeHint().height();
        QVERIFY2(wraps || label->width() >= label->sizeHint().width(), qPrintable(label->text()));
        QVERIFY2(label->height() >= needed, qPrintable(label->text() + QStringLiteral(" %1x%2, needs %3").arg(label->width()).arg(label->height()).arg(needed)));
    }
    QVERIFY(textFound);
    const QFontMetrics metrics(box->font());
    QVERIFY(box->width() >= 2 * metrics.horizontalAdvance(caption) + 12 * metrics.height());
    for (QAbstractButton* button : box->buttons())
        QVERIFY(button->width() >= button->sizeHint().width());
    box->close();
}

// The status texts of our own fit the status line at the dialog's font.
void UpgradeDlgTest::ownTextsFit()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    auto* line = qobject_cast<QLabel*>(dlg.Control(CUpgradeDlg::IDC_STATUS));
    const QFontMetrics metrics(line->font());
    for (const char* text : SystemTexts::kOwnStatusTexts) {
        QVERIFY2(metrics.horizontalAdvance(QString::fromLatin1(text)) <= line->contentsRect().width(), text);
        dlg.SetStatus(text);
        dlg.UpdateData();
        QCOMPARE(dlg.StatusLineText(), QString::fromLatin1(text));
    }
}

void UpgradeDlgTest::longPathElidedInTheMiddle()
{
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    auto* line = qobject_cast<QLabel*>(dlg.Control(CUpgradeDlg::IDC_STATUS));
    const QString path = QStringLiteral("/home/someone/firmware/archive/2025/december/hx5tra-7-12-25.bin");
    dlg.SetStatus(path.toStdString());
    dlg.UpdateData();

    const QString shown = dlg.StatusLineText();
    QVERIFY(shown != path);
    QVERIFY2(shown.startsWith(QStringLiteral("/home/")), qPrintable(shown));
    QVERIFY2(shown.endsWith(QStringLiteral("hx5tra-7-12-25.bin")), qPrintable(shown));
    QVERIFY(QFontMetrics(line->font()).horizontalAdvance(shown) <= line->contentsRect().width());
    QCOMPARE(line->toolTip(), path);

    dlg.SetStatus("Upgrade complete!");
    dlg.UpdateData();
    QCOMPARE(dlg.StatusLineText(), QStringLiteral("Upgrade complete!"));
    QVERIFY(line->toolTip().isEmpty());
}

void UpgradeDlgTest::dialogThreadKeepsServing_data()
{
    QTest::addColumn<bool>("scan");
    QTest::newRow("scan of 12 silent ports") << true;
    QTest::newRow("version request's pause") << false;
}

// The window system is served throughout: a 20 ms timer on the dialog's
// thread keeps ticking while the switch is searched for and waited on.
void UpgradeDlgTest::dialogThreadKeepsServing()
{
    QFETCH(bool, scan);
    DialogRig rig;
    SwitchSimConfig config;
    config.silent = scan;
    config.answerProbeUntil = scan ? 0 : 1; // the probe answered, no version request
    QVERIFY(rig.StartSwitches(scan ? 12 : 1, config));
    CUpgradeDlg& dlg = rig.Dialog();
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    qobject_cast<QComboBox*>(dlg.Control(CUpgradeDlg::IDC_PORT))->setCurrentText(scan ? "AUTO" : "COM1");

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longestGap = 0;
    QTimer tick;
    tick.setInterval(20);
    connect(&tick, &QTimer::timeout, &dlg, [&] {
        longestGap = std::max(longestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    clock.start();
    tick.start();
    dlg.OnCheckVersion();
    QVERIFY(dlg.Operations().WorkerRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.Operations().WorkerRunning(), 60000);
    tick.stop();

    QVERIFY2(clock.elapsed() > 2000, "the operation waited on the line"); // it was measured while it waited
    QVERIFY2(longestGap < 150, qPrintable(QStringLiteral("longest gap %1 ms").arg(longestGap)));
    QTRY_VERIFY_WITH_TIMEOUT(OperationControlsEnabled(dlg, true), 10000);
    QCOMPARE(dlg.StatusLineText(), scan ? QStringLiteral("Assign COM number and try again.")
                                        : QStringLiteral("Couldn't find KVM"));
}

void UpgradeDlgTest::closeRefusedDuringRun_data()
{
    QTest::addColumn<bool>("upgrade");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("endStatus");
    QTest::newRow("upgrade") << true << QString::fromLatin1(SystemTexts::kCloseRefusedText)
                             << QStringLiteral("Upgrade complete!");
    QTest::newRow("check version") << false << QString::fromLatin1(SystemTexts::kCloseRefusedCheckText)
                                   << QStringLiteral("KVM version read from COM1");
}

// The close box, Escape and reject() are refused alike while any operation
// runs, and a box says why; the status line stays the worker's.
void UpgradeDlgTest::closeRefusedDuringRun()
{
    QFETCH(bool, upgrade);
    QFETCH(QString, reason);
    QFETCH(QString, endStatus);

    SwitchSim sim;
    std::string error;
    QVERIFY2(sim.Start(&error), error.c_str());
    const F files;
    const QString path = QString::fromStdString(files.Write("update.bin", WithInfoRecord(1024, 2, 7, 12, 25)));
    DialogRig rig;
    rig.table.Map("COM1", sim.DevicePath());
    GatedDlg dlg(*rig.state);
    dlg.SetConfirmBox([](const QString&, const QString&) { return true; });
    QStringList warnings;
    dlg.SetWarningBox([&](const QString& text, const QString& caption) { warnings << caption + ": " + text; });
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    SelectFileAndCom1(dlg, path);

    if (upgrade)
        dlg.OnUpgrade();
    else
        dlg.OnCheckVersion();
    QTRY_VERIFY_WITH_TIMEOUT(dlg.WorkerWaiting(), 30000);
    QVERIFY(dlg.Operations().WorkerRunning());
    const QString status = dlg.StatusLineText();

    QVERIFY(!dlg.close());
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.reject();
    QVERIFY(dlg.isVisible());
    const QString shown = QString::fromLatin1(SystemTexts::kCaption) + ": " + reason;
    QCOMPARE(warnings, QStringList({shown, shown, shown}));
    QCOMPARE(dlg.StatusLineText(), status);

    dlg.Release();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg.Operations().WorkerRunning(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(OperationControlsEnabled(dlg, true), 10000);
    QCOMPARE(dlg.StatusLineText(), endStatus);
    QVERIFY(dlg.close());
    QVERIFY(!dlg.isVisible());
    QCOMPARE(warnings.size(), 3);
}

void UpgradeDlgTest::destroyDuringRun()
{
    SwitchSimConfig config;
    config.flashWriteDelay = std::chrono::milliseconds(5);
    SwitchSim sim(config);
    std::string error;
    QVERIFY2(sim.Start(&error), error.c_str());
    const F files;
    const QString path = QString::fromStdString(files.Write("update.bin", WithInfoRecord(32768, 2, 7, 12, 25)));
    DialogRig rig;
    rig.table.Map("COM1", sim.DevicePath());
    CUpgradeDlg& dlg = rig.Dialog();
    dlg.SetConfirmBox([](const QString&, const QString&) { return true; });
    SelectFileAndCom1(dlg, path);
    dlg.OnUpgrade();
    QVERIFY(dlg.Operations().WorkerRunning());

    // The worker goes on reporting while the dialog goes away: the dialog
    // waits for it, and nothing it posted is delivered afterwards.
    rig.dialog.reset();
    QCoreApplication::processEvents();
    QVERIFY(!rig.port.IsOpen());
    QVERIFY(sim.WaitForEndOfImage(std::chrono::seconds(10)));
}

// A file's name shows in the status line as it is, in UTF-8: \xNN is for a
// terminal, which an escape sequence could retitle; a label cannot be.
void UpgradeDlgTest::nameInTheStatusLineAsItIs()
{
    const F files;
    const std::string name = "Caf\xc3\xa9 \x1b[31m-1-2-3.bin";
    const QString path = QString::fromStdString(files.Write(name, WithInfoRecord(4096, 2, 7, 12, 25)));
    DialogRig rig;
    CUpgradeDlg& dlg = rig.Dialog();
    dlg.SetChooseFile([&] { return std::optional<QString>(path); });

    dlg.OnOK();

    QCOMPARE(dlg.StatusLineText(), QString::fromUtf8(name));
}

QTEST_MAIN(UpgradeDlgTest)
#include "UpgradeDlgTest.moc"


#include "ui/qt/CUpgradeDlg.h"

#include <algorithm>

#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>

#include "kvm/KvmOperations.h"
#include "kvm/SharedState.h"
#include "kvm/SystemTexts.h"
#include "ui/DialogCommands.h"
#include "ui/qt/DialogUnits.h"
#include "ui/qt/LogPane.h"
#include "ui/qt/MessageBoxes.h"
#include "ui/qt/kvm-upgrade.xpm"

namespace {

// The controls that start operations; disabled together while one runs.
constexpr int kOperationControls[] = {CUpgradeDlg::IDOK, CUpgradeDlg::IDC_UPGRADE,
                                      CUpgradeDlg::IDC_CHECK_VERSION, CUpgradeDlg::IDC_PORT};

// Title bar with system menu, close box and minimise box; no maximise box,
// and the frame cannot be resized.
constexpr Qt::WindowFlags kWindowFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// "Courier New" 9 pt, or where it is not installed the font made to its
// metrics, so the template's proportions still hold.
QFont DialogFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setStyleHint(QFont::TypeWriter);
    // Whole-pixel advances, as dialog units assume them, so a tab stop falls
    // exactly on a character cell.
    font.setHintingPreference(QFont::PreferFullHinting);
    if (QFontInfo(font).family() != QLatin1String("Courier New"))
        font.setFamily(QStringLiteral("Liberation Mono"));
    return font;
}

void TagControl(QWidget* control, int id, const QString& name)
{
    control->setObjectName(name);
    control->setProperty("controlId", id);
}

void TagControl(QWidget* control, int id)
{
    TagControl(control, id, QStringLiteral("control%1").arg(id));
}

} // namespace

CUpgradeDlg::CUpgradeDlg(SharedState& state, QWidget* parent)
    : QDialog(parent, kWindowFlags), m_state(state)
{
    m_status = SystemTexts::kSelectFile;
    m_state.logText = SystemTexts::kUsageText;
    m_icon = QIcon(QPixmap(kvm_upgrade_xpm));

    m_chooseFile = [this] { return DefaultChooseFile(); };
    m_confirmBox = [this](const QString& text, const QString& caption) {
        return DefaultConfirmBox(text, caption);
    };
    m_warningBox = [this](const QString& text, const QString& caption) {
        DefaultWarningBox(text, caption);
    };

    BuildControls();
    m_ops = std::make_unique<KvmOperations>(m_state, *this);

    UpdateData();
    setWindowIcon(m_icon);
    for (const char* port : kDialogPorts)
        m_portCombo->addItem(QString::fromLatin1(port));
    // The port last used, or the one the kept settings name; AUTO else.
    m_portCombo->setCurrentIndex(std::max(0, m_portCombo->findText(QString::fromStdString(m_state.portName))));
    m_selectButton->setFocus();
}

CUpgradeDlg::~CUpgradeDlg()
{
    // A worker still running keeps calling the services until it ends: wait
    // for it while every member it may touch still exists.
    m_ops.reset();
}

void CUpgradeDlg::BuildControls()
{
    setWindowTitle(QString::fromLatin1(SystemTexts::kCaption));
    const QFont font = DialogFont();
    setFont(font);
    const DialogUnits units(font);
    m_baseX = units.BaseX();
    m_baseY = units.BaseY();
    setFixedSize(units.X(kTemplateWidth), units.Y(kTemplateHeight));

    // Created in template order, which is also the tab order.
    m_selectButton = new QPushButton(QStringLiteral("Select File"), this);
    TagControl(m_selectButton, IDOK);
    m_selectButton->setGeometry(units.Rect(194, 4, 81, 22));
    m_selectButton->setAutoDefault(true);
    m_selectButton->setDefault(true);

    m_statusLabel = new QLabel(this);
    TagControl(m_statusLabel, IDC_STATUS);
    m_statusLabel->setGeometry(units.Rect(5, 81, 158, 10));
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_statusLabel->setWordWrap(false);

    m_upgradeButton = new QPushButton(QStringLiteral("Upgrade"), this);
    TagControl(m_upgradeButton, IDC_UPGRADE);
    m_upgradeButton->setGeometry(units.Rect(194, 34, 81, 22));
    m_upgradeButton->setAutoDefault(true);

    m_progress = new QProgressBar(this);
    TagControl(m_progress, IDC_PROGRESS);
    m_progress->setGeometry(units.Rect(2, 93, 186, 16));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);

    m_checkButton = new QPushButton(QStringLiteral("Check Version"), this);
    TagControl(m_checkButton, IDC_CHECK_VERSION);
    m_checkButton->setGeometry(units.Rect(194, 64, 81, 22));
    m_checkButton->setAutoDefault(true);

    // The template's 73 units are the height with the list open; closed,
    // the box is as high as its label.
    m_portCombo = new QComboBox(this);
    TagControl(m_portCombo, IDC_PORT);
    m_portCombo->setGeometry(units.Rect(235, 97, 40, 12));
    m_portCombo->setEditable(false);
    m_portCombo->setMaxVisibleItems(qMax(1, units.Y(73 - 12) / qMax(1, m_portCombo->fontMetrics().height())));

    m_portLabel = new QLabel(QStringLiteral("COM Port:"), this);
    TagControl(m_portLabel, IDC_STATIC, QStringLiteral("comPortLabel"));
    m_portLabel->setGeometry(units.Rect(195, 97, 37, 12));
    m_portLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_logPane = new LogPane(this);
    TagControl(m_logPane, IDC_LOG);
    m_logPane->setGeometry(units.Rect(1, 4, 188, 73));

    connect(m_selectButton, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_upgradeButton, &QPushButton::clicked, this, [this] { OnUpgrade(); });
    connect(m_checkButton, &QPushButton::clicked, this, [this] { OnCheckVersion(); });
}

QWidget* CUpgradeDlg::Control(int id) const
{
    switch (id) {
    case IDOK:
        return m_selectButton;
    case IDC_STATUS:
        return m_statusLabel;
    case IDC_UPGRADE:
        return m_upgradeButton;
    case IDC_PROGRESS:
        return m_progress;
    case IDC_CHECK_VERSION:
        return m_checkButton;
    case IDC_PORT:
        return m_portCombo;
    case IDC_STATIC:
        return m_portLabel;
    case IDC_LOG:
        return m_logPane;
    default:
        return nullptr;
    }
}

QString CUpgradeDlg::StatusLineText() const
{
    return m_statusLabel->text();
}

QString CUpgradeDlg::LogPaneText() const
{
    return m_logPane->text();
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

void CUpgradeDlg::UpdateData()
{
    // Copies taken here, on the caller's thread, which is the only one
    // writing these texts at this moment; the dialog's thread only ever sees
    // the copies.
    std::string status = Status();
    std::string log = m_state.logText;
    const bool here = m_queue.OnOwnerThread();
    m_queue.Run([this, status = std::move(status), log = std::move(log), here] {
        ApplyTexts(QString::fromStdString(status), QString::fromStdString(log), here);
    });
}

void CUpgradeDlg::ApplyTexts(const QString& status, const QString& log, bool paintNow)
{
    // The texts arrive decoded from UTF-8, a byte of no character as U+FFFD;
    // a label takes no escape sequence, so nothing else needs hiding.
    // A long path is cut in the middle, keeping its start and the file's
    // name; the whole of it is in the tooltip.
    const QFontMetrics metrics(m_statusLabel->font());
    const int room = m_statusLabel->contentsRect().width();
    if (metrics.horizontalAdvance(status) > room) {
        m_statusLabel->setText(metrics.elidedText(status, Qt::ElideMiddle, room));
        m_statusLabel->setToolTip(status);
    } else {
        m_statusLabel->setText(status);
        m_statusLabel->setToolTip(QString());
    }
    m_logPane->setText(log);
    if (paintNow) {
        // The probe and the version check block the dialog's thread; paint
        // now so their texts show while they wait for the switch.
        m_statusLabel->repaint();
        m_logPane->repaint();
    }
    emit textsApplied(status, log);
}

void CUpgradeDlg::TrimLog()
{
    ApplyTrimLog(m_state, *this);
}

void CUpgradeDlg::DisableButtons()
{
    m_queue.Run([this] { ApplyButtons(false); });
}

void CUpgradeDlg::EnableButtons()
{
    m_queue.Run([this] { ApplyButtons(true); });
}

void CUpgradeDlg::ApplyButtons(bool enabled)
{
    for (int id : kOperationControls)
        Control(id)->setEnabled(enabled);
    emit buttonsEnabled(enabled);
}

void CUpgradeDlg::SetProgress(int percent)
{
    m_queue.Run([this, percent] {
        m_progress->setValue(percent);
        emit progressApplied(percent);
    });
}

std::string CUpgradeDlg::PortSelection()
{
    return m_portCombo->currentText().toStdString();
}

bool CUpgradeDlg::AskConfirm(const QString& text, const QString& caption)
{
    return m_confirmBox ? m_confirmBox(text, caption) : false;
}

void CUpgradeDlg::Warn(const QString& text, const QString& caption)
{
    if (m_warningBox)
        m_warningBox(text, caption);
}

bool CUpgradeDlg::Confirm(const std::string& text, const std::string& caption)
{
    return AskConfirm(QString::fromStdString(text), QString::fromStdString(caption));
}

void CUpgradeDlg::ShowWarning(const std::string& text, const std::string& caption)
{
    Warn(QString::fromStdString(text), QString::fromStdString(caption));
}

// ---- Commands ---------------------------------------------------------------

void CUpgradeDlg::OnOK()
{
    const bool upgradeWasDisabled = !m_upgradeButton->isEnabled();
    m_upgradeButton->setEnabled(true);
    if (upgradeWasDisabled)
        EnableButtons();

    const std::optional<std::string> fileName = SelectFileCommand(m_state, *this, [this] {
        const std::optional<QString> chosen = m_chooseFile ? m_chooseFile() : std::nullopt;
        return chosen ? std::optional<std::string>(chosen->toStdString()) : std::nullopt;
    });
    if (!fileName)
        return;
    m_fileName = *fileName;
    m_progress->setRange(0, 100);
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

void CUpgradeDlg::accept()
{
    // The OK command is Select File; it only acts while Select File can be
    // pressed, so no file is loaded under a running operation.
    if (m_selectButton->isEnabled())
        OnOK();
}

void CUpgradeDlg::reject()
{
    if (RefuseCloseWhileRunning(m_ops.get(), *this))
        return;
    QDialog::reject();
}

void CUpgradeDlg::closeEvent(QCloseEvent* event)
{
    if (RefuseCloseWhileRunning(m_ops.get(), *this)) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

// ---- Default boxes ------------------------------------------------------------

std::optional<QString> CUpgradeDlg::DefaultChooseFile()
{
    QFileDialog dialog(this);
    // Any name may be typed, existing or not: the loader reports a missing
    // file itself. "*" lists every file, with or without an extension.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(QStringLiteral("*.* (*)"));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty())
        return std::nullopt;
    return files.first();
}

bool CUpgradeDlg::DefaultConfirmBox(const QString& text, const QString& caption)
{
    return MakeConfirmBox(this, text, caption)->exec() == QMessageBox::Ok;
}

void CUpgradeDlg::DefaultWarningBox(const QString& text, const QString& caption)
{
    MakeWarningBox(this, text, caption)->exec();
}

#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "kvm/DialogServices.h"
#include "ui/qt/DialogThreadQueue.h"

class KvmOperations;
class LogPane;
class QCloseEvent;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
struct SharedState;

// The utility's one window: port selector, Select File / Upgrade / Check
// Version, status line, log pane and progress bar. It is also the services
// the operations report through; the worker-safe ones may be called from the
// upgrade worker's thread, and are then carried out on the dialog's thread in
// the order they were called.
class CUpgradeDlg : public QDialog, public DialogServices {
    Q_OBJECT
public:
    // Control ids of the dialog template. The "COM Port:" label has none.
    static constexpr int IDOK = 1;           // Select File, the default button
    static constexpr int IDC_STATUS = 1000;
    static constexpr int IDC_UPGRADE = 3;
    static constexpr int IDC_PROGRESS = 1004;
    static constexpr int IDC_CHECK_VERSION = 4;
    static constexpr int IDC_PORT = 1010;
    static constexpr int IDC_STATIC = -1;
    static constexpr int IDC_LOG = 1013;

    // Template size of the client area, in dialog units.
    static constexpr int kTemplateWidth = 275;
    static constexpr int kTemplateHeight = 109;

    explicit CUpgradeDlg(SharedState& state, QWidget* parent = nullptr);
    ~CUpgradeDlg() override;

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

    // Button handlers; OnOK is Select File (the dialog's OK command).
    void OnOK();
    void OnUpgrade();
    void OnCheckVersion();

    // Enter and the OK command select a file; they never close the dialog.
    void accept() override;
    // Escape, the close box and Close on the system menu end the dialog,
    // except while an operation runs: a box then says why.
    void reject() override;

    // Replaceable boxes (tests put their own answers here). The file chooser
    // returns the full path of the chosen file, or nothing on Cancel.
    using ChooseFileFn = std::function<std::optional<QString>()>;
    using ConfirmFn = std::function<bool(const QString& text, const QString& caption)>;
    using WarningFn = std::function<void(const QString& text, const QString& caption)>;
    // An empty function counts as Cancel (and shows no warning).
    void SetChooseFile(ChooseFileFn choose) { m_chooseFile = std::move(choose); }
    void SetConfirmBox(ConfirmFn confirm) { m_confirmBox = std::move(confirm); }
    void SetWarningBox(WarningFn warning) { m_warningBox = std::move(warning); }

    KvmOperations& Operations() { return *m_ops; }
    SharedState& State() { return m_state; }
    std::string Status() const;
    const std::string& FileName() const { return m_fileName; }
    const QIcon& Icon() const { return m_icon; }
    // The control with a template id, nullptr for an unknown id.
    QWidget* Control(int id) const;
    QString StatusLineText() const;
    QString LogPaneText() const;
    int BaseUnitX() const { return m_baseX; }
    int BaseUnitY() const { return m_baseY; }

signals:
    // Emitted on the dialog's thread each time texts reach the two controls.
    void textsApplied(const QString& status, const QString& log);
    void progressApplied(int percent);
    void buttonsEnabled(bool enabled);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool AskConfirm(const QString& text, const QString& caption);
    void Warn(const QString& text, const QString& caption);
    void ApplyTexts(const QString& status, const QString& log, bool paintNow);
    void ApplyButtons(bool enabled);
    void BuildControls();

    std::optional<QString> DefaultChooseFile();
    bool DefaultConfirmBox(const QString& text, const QString& caption);
    void DefaultWarningBox(const QString& text, const QString& caption);

    std::string m_status;       // status line text; the operations write it
    QComboBox* m_portCombo = nullptr;
    QProgressBar* m_progress = nullptr;
    std::string m_fileName;     // name of the last confirmed file, without folder
    QIcon m_icon;

    SharedState& m_state;
    QPushButton* m_selectButton = nullptr;
    QPushButton* m_upgradeButton = nullptr;
    QPushButton* m_checkButton = nullptr;
    QLabel* m_statusLabel = nullptr;
    QLabel* m_portLabel = nullptr;
    LogPane* m_logPane = nullptr;
    int m_baseX = 0;
    int m_baseY = 0;

    ChooseFileFn m_chooseFile;
    ConfirmFn m_confirmBox;
    WarningFn m_warningBox;

    mutable std::mutex m_textMutex; // m_status: the worker writes it, the dialog's thread reads it
    DialogThreadQueue m_queue{*this}; // work handed to the dialog's thread

    // Last: destroyed (and its worker joined) before anything the worker uses.
    std::unique_ptr<KvmOperations> m_ops;
};

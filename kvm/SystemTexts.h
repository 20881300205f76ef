#pragma once

// The texts this utility shows, the dialogs' and the operations', in one
// place. The wording stays as users know it, odd spellings included.
namespace SystemTexts {

// The dialog's title, and the caption of the boxes it shows itself.
inline constexpr const char* kCaption = "Tavrel Upgrade Utility";

// The log pane before any file is chosen.
inline constexpr const char* kUsageText =
    "Usage:\n\t1. Connect upgrade cable to COM.\n\n\t2. Select firmware file.\n\n\t3. Click Upgrade button.";

// Shown in a box instead of closing the dialog while an operation runs.
inline constexpr const char* kCloseRefusedText = "Upgrade in progress - closing now could leave the KVM unusable.";
inline constexpr const char* kCloseRefusedCheckText =
    "Check Version in progress - the window can be closed when it ends.";

// The verdict that ends a log entry.
inline constexpr const char* kVerdictOk = "[   OK   ]";
inline constexpr const char* kVerdictFailed = "[ Failed ]";
inline constexpr const char* kVerdictPassed = "[ Passed ]";

// Status line.
inline constexpr const char* kSelectFile = "Please select firmware file.";
inline constexpr const char* kScanning = "Auto Scaning COM ports.";
inline constexpr const char* kSearching = "Searching KVM..Plesase Wait";
inline constexpr const char* kNotFound = "Couldn't find KVM";
inline constexpr const char* kTimeout = "transmition timeout, upgrade fail.";
inline constexpr const char* kAssignPort = "Assign COM number and try again.";
inline constexpr const char* kUpgrading = "Do not remove cable or power..";
inline constexpr const char* kUpgradeComplete = "Upgrade complete!";

// Boxes.
inline constexpr const char* kFileNotExists = "File not exists!";
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kConfirmCaption = "Confirm";
inline constexpr const char* kConfirmUpgrade =
    "During firmware upgrade, video, keyboard and mouse\nwill be locked up before KVM reset.";

// The log's answer to Upgrade without a valid file.
inline constexpr const char* kRefusalUsage =
    "Usage:\n\t1.Connect upgrade cable to COM.\n\n\t2. Select firmware file.\n\n\t3.Click Upgrade button.";

// The status texts of this utility's own that the upgrade worker shows when
// it refuses to send a file. Each fits the dialog's status line at its font
// (a test measures every one in kOwnStatusTexts).
inline constexpr const char* kFileCannotBeOpened = "Error: File can't be opened.";
inline constexpr const char* kFileTooLarge = "Error: File is over 131072 bytes.";
inline constexpr const char* kFileEmpty = "Error: File is empty.";
inline constexpr const char* kFileAllZero = "Error: File holds only zero bytes.";
inline constexpr const char* kFileChanged = "Error: File has changed, CRC error.";

inline constexpr const char* kOwnStatusTexts[] = {kFileTooLarge, kFileEmpty, kFileAllZero, kFileChanged};

} // namespace SystemTexts

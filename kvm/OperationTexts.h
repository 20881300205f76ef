#pragma once

// The status texts of this utility's own that the upgrade worker shows when
// it refuses to send a file. Each fits the dialog's status line at its font
// (a test measures them); the switch-facing texts stay as users know them.
namespace OperationTexts {

inline constexpr const char* kFileCannotBeOpened = "Error: File can't be opened.";
inline constexpr const char* kFileTooLarge = "Error: File is over 131072 bytes.";
inline constexpr const char* kFileEmpty = "Error: File is empty.";
inline constexpr const char* kFileAllZero = "Error: File holds only zero bytes.";
inline constexpr const char* kFileChanged = "Error: File has changed, CRC error.";

inline constexpr const char* kOwnStatusTexts[] = {kFileTooLarge, kFileEmpty, kFileAllZero, kFileChanged};

} // namespace OperationTexts

#pragma once

#include <string>

// What the operations need of a front end: the dialog implements it with its
// controls, the command line with stdout/stderr. Every call may come from the
// upgrade worker's thread; an implementation must be safe for that.
class DialogServices {
public:
    virtual ~DialogServices() = default;

    // The status line text (the dialog's m_status). Written by the operations,
    // shown at the next UpdateData().
    virtual void SetStatus(const std::string& text) = 0;

    // UpdateData(FALSE): shows the current status text and the shared log
    // text. Implementations copy both on the calling thread.
    virtual void UpdateData() = 0;

    // The log trim rule: once logLineCount reaches 7, pause 800 ms, empty the
    // log, show it, and reset the count (see ApplyTrimLog).
    virtual void TrimLog() = 0;

    // Controls 1, 3, 4 and 1010 (Select File, Upgrade, Check Version, port
    // selector), in that order.
    virtual void DisableButtons() = 0;
    virtual void EnableButtons() = 0;

    // The progress bar position, 0 to 100.
    virtual void SetProgress(int percent) = 0;

    // The port selector's current text: "AUTO" or "COM1".."COM12".
    virtual std::string PortSelection() = 0;

    // A modal OK/Cancel box, Cancel the default; true for OK.
    virtual bool Confirm(const std::string& text, const std::string& caption) = 0;

    // A modal warning box with an OK button (the loader's "File not exists!").
    virtual void ShowWarning(const std::string& text, const std::string& caption) = 0;
};

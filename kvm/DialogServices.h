#pragma once

#include <string>
#include <string_view>

// What the operations need of a front end: the dialog implements it with its
// controls, the command line with stdout/stderr.
//
// Threads: an operation starts on the front end's thread (the calling
// thread), and Upgrade, StartUpgrade and StartCheckVersion hand the rest of
// it to the upgrade worker's thread. The worker calls only the services
// marked worker-safe below; an implementation must make those safe from a
// second thread, and may serve the others on the calling thread alone.
class DialogServices {
public:
    virtual ~DialogServices() = default;

    // Worker-safe. The status line text (the dialog's m_status). Written by
    // the operations, shown at the next UpdateData().
    virtual void SetStatus(const std::string& text) = 0;

    // Worker-safe. UpdateData(FALSE): shows the current status text and the
    // shared log text. Implementations copy both on the calling thread.
    virtual void UpdateData() = 0;

    // Worker-safe. The log trim rule: once logLineCount reaches 7, pause
    // 800 ms, empty the log, show it, and reset the count (see ApplyTrimLog).
    virtual void TrimLog() = 0;

    // Controls 1, 3, 4 and 1010 (Select File, Upgrade, Check Version, port
    // selector), in that order. DisableButtons: calling thread only (before
    // the worker starts). EnableButtons: worker-safe, the worker's last act.
    virtual void DisableButtons() = 0;
    virtual void EnableButtons() = 0;

    // Worker-safe. The progress bar position, 0 to 100.
    virtual void SetProgress(int percent) = 0;

    // Calling thread only. The port selector's current text: "AUTO" or
    // "COM1".."COM12"; read once, before the worker starts.
    virtual std::string PortSelection() = 0;

    // Calling thread only. A modal OK/Cancel box, Cancel the default; true
    // for OK.
    virtual bool Confirm(const std::string& text, const std::string& caption) = 0;

    // Calling thread only. A modal warning box with an OK button (the
    // loader's "File not exists!").
    virtual void ShowWarning(const std::string& text, const std::string& caption) = 0;

    // Worker-safe. Text from outside (a file's name, the switch's model
    // text) as this front end shows it, before it goes into the log, the
    // status line or the report. A window's control takes no escape sequence,
    // so by default the text stays as it is; a terminal does, and the command
    // line writes control bytes as \xNN.
    virtual std::string OutsideText(std::string_view text) const { return std::string(text); }
};

#pragma once

#include <functional>
#include <optional>
#include <string>

class DialogServices;
class KvmOperations;
struct SharedState;

// What the dialog's commands do, the same whatever window system draws it:
// each dialog keeps only its widgets and calls these.

// The port selector's entries, in order: the scan first, then each port.
inline constexpr const char* kDialogPorts[] = {"AUTO", "COM1", "COM2",  "COM3",  "COM4",  "COM5", "COM6",
                                               "COM7", "COM8", "COM9", "COM10", "COM11", "COM12"};

// The file box: the chosen file's full path, nothing on Cancel.
using ChooseFileFn = std::function<std::optional<std::string>()>;

// Select File, once the dialog has enabled Upgrade again: empties the model
// and version texts, asks choose, and for a file checks it, shows what was
// found in the log and then the file's name on the status line. Returns that
// name (without folder); nothing on Cancel or an empty answer, when nothing
// else changes.
std::optional<std::string> SelectFileCommand(SharedState& state, DialogServices& services,
                                             const ChooseFileFn& choose);

// Closing the dialog while an operation runs would leave the switch
// half-written or the port held: refused with a box that says which
// operation runs. True when refused. ops may be null (not made yet, or gone).
bool RefuseCloseWhileRunning(const KvmOperations* ops, DialogServices& services);

#pragma once

#include <string>

struct SharedState;

// The application object: created first of all, it runs the one dialog
// modally and the program ends when the dialog closes.
class CUpgradeApp {
public:
    // Constructs the dialog with no parent, runs it modally and destroys it.
    // Returns false: there is nothing left to run once the dialog has closed.
    bool InitInstance(SharedState& state);

    // Shows the dialog as it opens and writes what the screen shows of it
    // into a BMP file. True when the file was written.
    static bool SaveScreenshot(SharedState& state, const std::string& path);
};

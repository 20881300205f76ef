#pragma once

#include <QApplication>
#include <QString>

struct SharedState;

// The application object: created first of all, it runs the one dialog
// modally and the program ends when the dialog closes.
class CUpgradeApp : public QApplication {
public:
    CUpgradeApp(int& argc, char** argv);

    // Constructs the dialog with no parent, runs it modally and destroys it.
    // Returns false: there is nothing left to run once the dialog has closed.
    bool InitInstance(SharedState& state);

    // Renders the dialog as it stands at start into a PNG file (no display
    // needed on the offscreen platform). True when the file was written.
    static bool SaveScreenshot(SharedState& state, const QString& path);
};

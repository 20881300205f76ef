#pragma once

// The ids of the dialog's resources, shared by the resource script and the
// code. Plain macros: the resource compiler reads this file too.

#define IDR_MAINFRAME 128       // the program's icon
#define IDD_UPGRADE_DIALOG 102  // the one dialog

#define IDC_STATUS 1000         // status line
#define IDC_UPGRADE 3           // Upgrade button
#define IDC_PROGRESS 1004       // progress bar
#define IDC_CHECK_VERSION 4     // Check Version button
#define IDC_PORT 1010           // port selector
#define IDC_LOG 1013            // log pane
// Select File is IDOK (1), the dialog's OK command; the "COM Port:" label
// has IDC_STATIC (-1).

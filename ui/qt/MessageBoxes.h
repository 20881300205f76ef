#pragma once

#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

// The dialog's two boxes: the confirmation (OK and Cancel, Cancel the
// default) and the warning (an OK button and the warning icon). Built here,
// not inside their exec(), so that their size can be checked.
std::unique_ptr<QMessageBox> MakeConfirmBox(QWidget* parent, const QString& text, const QString& caption);
std::unique_ptr<QMessageBox> MakeWarningBox(QWidget* parent, const QString& text, const QString& caption);

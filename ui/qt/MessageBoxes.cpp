#include "ui/qt/MessageBoxes.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {

// A box sizes itself to its text; with a short text ("File not exists!")
// the window manager is left too little room for the caption beside its
// own title buttons and cuts it. The spacer keeps the box wide enough for
// the caption, its icon and three title buttons, in the box's own units so
// that it scales with the rest.
void MakeRoomForCaption(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr)
        return;
    const QFontMetrics metrics(box.font());
    const int width = 2 * metrics.horizontalAdvance(box.windowTitle()) + 12 * metrics.height();
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding), grid->rowCount(), 0,
                  1, grid->columnCount());
}

std::unique_ptr<QMessageBox> MakeBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                     const QString& caption, QMessageBox::StandardButtons buttons)
{
    auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, parent);
    MakeRoomForCaption(*box);
    return box;
}

} // namespace

std::unique_ptr<QMessageBox> MakeConfirmBox(QWidget* parent, const QString& text, const QString& caption)
{
    auto box = MakeBox(parent, QMessageBox::NoIcon, text, caption, QMessageBox::Ok | QMessageBox::Cancel);
    box->setDefaultButton(QMessageBox::Cancel);
    box->setEscapeButton(QMessageBox::Cancel);
    return box;
}

std::unique_ptr<QMessageBox> MakeWarningBox(QWidget* parent, const QString& text, const QString& caption)
{
    return MakeBox(parent, QMessageBox::Warning, text, caption, QMessageBox::Ok);
}

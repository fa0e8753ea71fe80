#include "user_scale_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include "app/qt_prompter.h"
#include "engine/tables.h"

namespace tarrowin::app {

const std::array<const char*, 12> UserScaleDialog::kNoteLabels = {
    "C", "D-flat", "D", "E-flat", "E", "F", "G-flat", "G", "A-flat", "A", "B-flat", "B"};

UserScaleDialog::UserScaleDialog(const QString& title, QWidget* parent) : OkOnlyDialog(parent) {
    setWindowTitle(title);
    auto* notes = new QGroupBox(QStringLiteral("Notes"), this);
    auto* grid = new QGridLayout(notes);
    // Two rows of six, the octave read left to right.
    for (int s = 0; s < 12; ++s) {
        auto* box = new QCheckBox(QLatin1String(kNoteLabels[static_cast<size_t>(s)]), notes);
        boxes_[static_cast<size_t>(s)] = box;
        grid->addWidget(box, s / 6, s % 6);
        // toggled, not clicked: a screen reader's Toggle action toggles without a click.
        connect(box, &QCheckBox::toggled, this, [this](bool on) { count_ += on ? 1 : -1; });
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(notes);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &UserScaleDialog::accept);
}

void UserScaleDialog::load(const ScaleList& userScale) { setMarks(userScaleMarks(userScale)); }

void UserScaleDialog::setMarks(const std::array<bool, 12>& marks) {
    for (size_t s = 0; s < 12; ++s) boxes_[s]->setChecked(marks[s]);
    boxes_[0]->setFocus();
}

std::array<bool, 12> UserScaleDialog::marks() const {
    std::array<bool, 12> m{};
    for (size_t s = 0; s < 12; ++s) m[s] = boxes_[s]->isChecked();
    return m;
}

ScaleList UserScaleDialog::scale() const { return buildUserScale(marks()); }

void UserScaleDialog::accept() {
    if (count_ < kMinNotes) {
        showMessage(this, QStringLiteral("Please choose at least three notes."), QStringLiteral("too few notes"),
                    MessageIcon::Information);
        return;
    }
    QDialog::accept();
}

}  // namespace tarrowin::app

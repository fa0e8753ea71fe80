#include "round_counter_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/qt_prompter.h"

namespace tarrowin::app {

RoundCounterDialog::RoundCounterDialog(const std::array<bool, kVoices>& voicesOn, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Round counter"));
    auto* layout = new QVBoxLayout(this);

    auto* voiceBox = new QGroupBox(QStringLiteral("Voice"), this);
    auto* grid = new QGridLayout(voiceBox);
    voices_ = new QButtonGroup(this);
    for (int v = 0; v < kVoices; ++v) {
        auto* b = new QRadioButton(QStringLiteral("Voice %1").arg(v + 1), voiceBox);
        b->setEnabled(voicesOn[static_cast<size_t>(v)]);
        voices_->addButton(b, v);
        grid->addWidget(b, v % 4, v / 4);  // four columns of four
    }
    layout->addWidget(voiceBox);

    auto* directionBox = new QGroupBox(QStringLiteral("Direction"), this);
    auto* direction = new QHBoxLayout(directionBox);
    up_ = new QRadioButton(QStringLiteral("Up"), directionBox);
    auto* down = new QRadioButton(QStringLiteral("Down"), directionBox);
    up_->setChecked(true);
    direction->addWidget(up_);
    direction->addWidget(down);
    layout->addWidget(directionBox);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &RoundCounterDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &RoundCounterDialog::reject);
    layout->addWidget(buttons);
}

int RoundCounterDialog::voice() const { return voices_->checkedId(); }
bool RoundCounterDialog::up() const { return up_->isChecked(); }

void RoundCounterDialog::accept() {
    if (voice() < 0) {
        showMessage(this, QStringLiteral("Please select a voice"), QStringLiteral("Tarrowin"), MessageIcon::Exclamation);
        return;
    }
    QDialog::accept();
}

}  // namespace tarrowin::app

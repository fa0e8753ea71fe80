#include "voice_toggles.h"

#include <QGridLayout>
#include <QPushButton>

#include "app/accessibility.h"

namespace tarrowin::app {

VoiceToggles::VoiceToggles(QWidget* parent) : QGroupBox(QStringLiteral("Voices"), parent) {
    auto* grid = new QGridLayout(this);
    grid->setSpacing(2);
    for (int v = 0; v < kVoices; ++v) {
        auto* toggle = new QPushButton(QString::number(v + 1), this);
        toggle->setCheckable(true);
        toggle->setAutoDefault(false);
        toggle->setFixedWidth(toggle->fontMetrics().horizontalAdvance(QStringLiteral("16")) + 22);
        describeControl(toggle, QStringLiteral("Voice %1").arg(v + 1));
        toggles_[static_cast<size_t>(v)] = toggle;
        grid->addWidget(toggle, v / 8, v % 8);
        // toggled, not clicked: a screen reader's Toggle action toggles without a click.
        connect(toggle, &QPushButton::toggled, this, [this, v](bool on) { Q_EMIT toggled(v, on); });
    }
}

void VoiceToggles::showChoice(const std::array<bool, kVoices>& chosen) {
    for (int v = 0; v < kVoices; ++v) {
        const QSignalBlocker block(toggles_[static_cast<size_t>(v)]);
        toggles_[static_cast<size_t>(v)]->setChecked(chosen[static_cast<size_t>(v)]);
    }
}

}  // namespace tarrowin::app

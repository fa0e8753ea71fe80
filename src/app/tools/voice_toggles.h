#pragma once
// The group "Voices" of the Randomizer and the Multiple Voice Editor: sixteen push-like
// toggles "1".."16" that choose the voices an action works on.

#include <QGroupBox>
#include <array>

#include "engine/settings.h"

class QPushButton;

namespace tarrowin::app {

class VoiceToggles : public QGroupBox {
    Q_OBJECT
   public:
    explicit VoiceToggles(QWidget* parent);

    // Shows the choice without reporting it.
    void showChoice(const std::array<bool, kVoices>& chosen);
    QPushButton* toggle(int v) const { return toggles_[static_cast<size_t>(v)]; }

   Q_SIGNALS:
    void toggled(int voice, bool on);

   private:
    std::array<QPushButton*, kVoices> toggles_{};
};

}  // namespace tarrowin::app

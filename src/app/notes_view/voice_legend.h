#pragma once
// The legend of the piano roll: one check box per voice in the voice's colour, which shows
// or hides the voice's notes. In a narrow window the boxes go on over a second line.

#include <QWidget>
#include <array>

#include "engine/settings.h"

class QCheckBox;

namespace tarrowin::app {

class VoiceLegend : public QWidget {
    Q_OBJECT
   public:
    explicit VoiceLegend(QWidget* parent = nullptr);
    QCheckBox* box(int v) const { return boxes_[static_cast<size_t>(v)]; }

   Q_SIGNALS:
    void shownChanged(int v, bool shown);

   protected:
    // The swatches follow the theme: the roll's dark colours on a dark window.
    void changeEvent(QEvent* event) override;

   private:
    void paintSwatches();
    std::array<QCheckBox*, kVoices> boxes_{};
};

}  // namespace tarrowin::app

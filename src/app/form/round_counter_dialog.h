#pragma once
// "Round counter": the voice whose note length the counters are rounded to, and the
// direction. Only voices that are on can be chosen; OK needs a voice.

#include <QDialog>
#include <array>

#include "engine/settings.h"

class QButtonGroup;
class QRadioButton;

namespace tarrowin::app {

class RoundCounterDialog : public QDialog {
    Q_OBJECT
   public:
    RoundCounterDialog(const std::array<bool, kVoices>& voicesOn, QWidget* parent = nullptr);

    int voice() const;  // 0..15, -1 when none is chosen
    bool up() const;

    void accept() override;

   private:
    QButtonGroup* voices_;
    QRadioButton* up_;
};

}  // namespace tarrowin::app

#pragma once
// "Current note from Start Counter": the note each of the 16 voices plays at the Start
// counter, in four rows of four inside "Voices"; voices that are off are greyed. It has no
// buttons: Enter, Escape and the close box close it.

#include <QDialog>
#include <array>

#include "reports/current_note.h"

class QLabel;

namespace tarrowin::app {

class CurrentNoteDialog : public QDialog {
    Q_OBJECT
   public:
    CurrentNoteDialog(const std::array<CurrentNoteLabel, kVoices>& labels, QWidget* parent = nullptr);

    QLabel* numberLabel(int v) const { return numbers_[static_cast<size_t>(v)]; }
    QLabel* noteLabel(int v) const { return notes_[static_cast<size_t>(v)]; }

   protected:
    void keyPressEvent(QKeyEvent* event) override;

   private:
    std::array<QLabel*, kVoices> numbers_{};
    std::array<QLabel*, kVoices> notes_{};
};

}  // namespace tarrowin::app

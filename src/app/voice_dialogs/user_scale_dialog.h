#pragma once
// The notes of a user-defined scale: twelve boxes "C" .. "B" for the semitones 0..11. OK
// is the only way out, and only with at least three notes. Titled "User scale - voice N"
// for a voice row and "User Scale" in the Multiple Voice Editor; the caller passes the
// boxes (or a scale) in and reads marks() or scale() after OK.

#include <array>

#include "app/ok_only_dialog.h"
#include "engine/settings.h"

class QCheckBox;

namespace tarrowin::app {

class UserScaleDialog : public OkOnlyDialog {
    Q_OBJECT
   public:
    static constexpr int kMinNotes = 3;
    static const std::array<const char*, 12> kNoteLabels;  // "C", "D-flat", ... "B"

    explicit UserScaleDialog(const QString& title, QWidget* parent = nullptr);

    // Clears the boxes and ticks those of the scale's semitones.
    void load(const ScaleList& userScale);
    void setMarks(const std::array<bool, 12>& marks);
    std::array<bool, 12> marks() const;
    // The ticked semitones as a user scale: ascending, moved down to start at 0.
    ScaleList scale() const;
    // The number of ticked boxes.
    int count() const { return count_; }

    // OK with fewer than three notes says so, and the dialog stays.
    void accept() override;

   private:
    std::array<QCheckBox*, 12> boxes_{};
    int count_ = 0;
};

}  // namespace tarrowin::app

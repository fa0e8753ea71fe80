#pragma once
// The "Notes" window: the piano roll of what plays, with its zoom buttons, the voice legend
// and the text of the note under the pointer. It follows the document, the play mode and
// the percussion channel, computing the notes off the window's thread, and while something
// plays that it shows, a playhead follows the playing position.

#include <QWidget>
#include <memory>
#include <optional>

#include "roll_computation.h"

class QLabel;
class QTimer;

namespace tarrowin::app {

class Workspace;
class PianoRoll;
class VoiceLegend;

class NotesWindow : public QWidget {
    Q_OBJECT
   public:
    // How often the playhead reads the playing position.
    static constexpr int kPlayheadIntervalMs = 40;

    NotesWindow(Workspace& workspace, QWidget* parent);

    PianoRoll* roll() const { return roll_; }
    VoiceLegend* legend() const { return legend_; }
    QString summary() const;

    // Recomputes the notes when what they depend on has changed: the settings or the
    // composition, the play mode, the percussion channel. Nothing while the window is hidden.
    void refresh();
    // True while notes are computed for the newest change.
    bool computing() const { return computation_.busy(); }
    // The playhead runs while something plays.
    void setPlaying(bool playing);
    // Puts the playhead at the position playing now (none when what plays is not shown).
    void followPlayhead();
    void saveImage();

   Q_SIGNALS:
    void closed();
    // New notes are on show.
    void notesShown();

   protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

   private:
    RollInput input() const;
    void showNotes(std::shared_ptr<const RollNotes> notes);

    Workspace& ws_;
    PianoRoll* roll_;
    VoiceLegend* legend_;
    QLabel* summary_;
    QLabel* hover_;
    QTimer* playhead_;
    RollComputation computation_;
    std::optional<RollInput> computed_;  // the input of the newest request
};

}  // namespace tarrowin::app

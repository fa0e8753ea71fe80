#pragma once
// The "Notes" window: the piano roll of what plays, with its zoom buttons, the voice legend
// and the text of the note under the pointer. It follows the document, the play mode and
// the percussion channel, computing the notes off the window's thread, and while something
// plays that it shows, a playhead follows the playing position. A live play with Lock off
// runs on past End until Stop: the notes then reach ahead of the playing position, computed
// a stretch at a time, and go back to Start..End when the play has ended. Escape closes it;
// it keeps its zoom between openings and runs.

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
    // How far the notes reach ahead of a live play running on past End, at least (eight bars
    // of 4/4); a view showing more ticks than that reaches a screenful ahead. New notes are
    // computed when the playing position comes within half of this of their end.
    static constexpr int32_t kLookaheadTicks = 256;

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
    // Puts the playhead at the position playing now (none when what plays is not shown),
    // first asking for notes further on when a play running past End nears their end.
    void followPlayhead();
    void saveImage();

   Q_SIGNALS:
    void closed();
    // New notes are on show.
    void notesShown();

   protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

   private:
    RollInput input() const;
    bool playsOnPastEnd() const;
    void reachAheadOfPlay();
    void showNotes(std::shared_ptr<const RollNotes> notes);

    Workspace& ws_;
    PianoRoll* roll_;
    VoiceLegend* legend_;
    QLabel* summary_;
    QLabel* hover_;
    QTimer* playhead_;
    RollComputation computation_;
    std::optional<RollInput> computed_;  // the input of the newest request
    // While a live play runs on past End: the End counter the notes are computed to. Kept
    // until the play has finished and the window has stored its End counter.
    std::optional<int32_t> liveEnd_;
    bool zoomRestored_ = false;
};

}  // namespace tarrowin::app

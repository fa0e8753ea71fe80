#pragma once
// A play as the document sees it. Play first takes what is typed into the form; the play
// and what it changes in the document (the events "Update Settings playing composition"
// loads, the End counter an unlocked live play leaves) are one step of the undo history,
// closed when the play has finished; a play begun on an older document (before New or
// Open) leaves the new one alone. The play options follow the document: New and Open put
// them back to their start, and a composition that shrinks takes the choices that no longer
// exist with it. Windows listen to playEnded, which comes once the document holds what
// the play left, whatever order they were connected in.

#include <QObject>

#include "command_state.h"
#include "playback_controller.h"

namespace tarrowin::app {

class DocumentController;

class PlaySession : public QObject {
    Q_OBJECT
   public:
    PlaySession(DocumentController& document, PlaybackController& playback, QObject* parent = nullptr);

    // Play in the play mode. Nothing starts while something plays or a typed value is
    // refused (the form has said why); the result says why nothing plays.
    PlayResult play();

   Q_SIGNALS:
    // A play is about to start from what the document holds now (recovery keeps a copy).
    void aboutToPlay();
    // A play or an audition has finished and the document holds what it left.
    void playEnded(const tarrowin::PlaybackFinish& finish);

   private:
    void documentReplaced();
    // With Edit While Playing, every change of the current settings reaches the live play
    // at its next tick; each is its own undo step, apart from the play's.
    void documentChanged();
    void eventStarted(int index);
    void playFinished(const PlaybackFinish& finish);

    DocumentController& document_;
    PlaybackController& playback_;
    // Each New or Open starts a new generation; a play remembers the one it began in.
    int generation_ = 0;
    int playGeneration_ = -1;
};

// The part of the window's state that the playback decides: what plays, the play options.
UiState playbackState(const PlaybackController& playback);

}  // namespace tarrowin::app

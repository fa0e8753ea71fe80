#pragma once
// What the window adds for seeing and hearing a piece: the notes view (a piano roll of what
// plays), the audio export through the built-in synthesizer and the choice of its SoundFont.

#include <QObject>

#include "app/command_state.h"

class QMainWindow;

namespace tarrowin::app {

class Workspace;
class TarrowinView;

class SoundAndNotes : public QObject {
    Q_OBJECT
   public:
    SoundAndNotes(Workspace& workspace, TarrowinView& view, QMainWindow* mainWindow);
    ~SoundAndNotes() override;

    bool notesShown() const;
    void setNotesShown(bool on);
    // "Export &Audio...": what "Save &Midi file..." would write, rendered to WAV or FLAC.
    void exportAudio();
    // "Sound&Font...".
    void chooseSoundFont();
    // The playhead follows the play state.
    void stabilize(const UiState& state);

   Q_SIGNALS:
    void notesShownChanged(bool on);

   private:
    struct Impl;
    Impl* impl_;
};

}  // namespace tarrowin::app

#pragma once
// What the window adds for seeing and hearing a piece: the notes view (a piano roll of what
// plays), the audio export through the built-in synthesizer and the choice of its SoundFont.

#include <QObject>

#include "app/command_state.h"

class QMainWindow;

namespace tarrowin::app {

class Workspace;
class TarrowinView;
class NotesWindow;
class AudioExport;

class SoundAndNotes : public QObject {
    Q_OBJECT
   public:
    SoundAndNotes(Workspace& workspace, TarrowinView& view, QMainWindow* mainWindow);
    ~SoundAndNotes() override;

    bool notesShown() const;
    // "&Notes": shows or hides the "Notes" window; closing the window unchecks the command.
    void setNotesShown(bool on);
    // The window, once it was shown (else null).
    NotesWindow* notesWindow() const { return notes_; }
    // "&Export Audio...": what "Save &Midi file..." would write, rendered to WAV or FLAC.
    void exportAudio();
    // "Sound&Font...": the SoundFont of the built-in synthesizer, remembered across sessions.
    // A file FluidSynth cannot load is refused with its reason and the old choice stays.
    void chooseSoundFont();
    // The playhead follows the play state; the notes follow the play mode and the
    // percussion channel.
    void stabilize(const UiState& state);

   Q_SIGNALS:
    void notesShownChanged(bool on);

   private:
    // The remembered SoundFont to the built-in synthesizer, from its next open on.
    void applySoundFont();

    Workspace& ws_;
    QMainWindow* mainWindow_;
    NotesWindow* notes_ = nullptr;
    AudioExport* audio_;
    bool shown_ = false;
    bool playing_ = false;
};

}  // namespace tarrowin::app

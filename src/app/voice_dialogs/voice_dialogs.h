#pragma once
// The per-voice dialogs as the main form and the Algorithms menu open them: each reads the
// voice from the document, runs its dialog, and commits the result as one undoable step.
// The form keeps one instance of the MIDI, modulation, user-scale and note-value dialogs
// per voice; the algorithm dialogs are made for each use.

#include <QObject>

#include "engine/settings.h"

class QWidget;

namespace tarrowin::app {

class Workspace;

class VoiceDialogs : public QObject {
    Q_OBJECT
   public:
    VoiceDialogs(Workspace& workspace, QWidget* parent);
    ~VoiceDialogs() override;

    // "Set": the voice's MIDI settings ("Extra - voice N").
    void editMidiSettings(int v);
    // The row's Modulate box has just been ticked: OK keeps it ticked with the dialog's
    // values, any other close leaves it unticked.
    void editModulation(int v);
    // The Scale list was closed on "User defined" (also when it already was).
    void editUserScale(int v);
    // The Note value list was closed on "Other" (also when it already was).
    void editNoteValue(int v);
    // An item of the Algorithms menu: the algorithm at once, then its parameter dialog.
    void chooseAlgorithm(int v, Algorithm a);
    // New and Open: the dialogs take the new document's voices.
    void initialUpdate();

   private:
    struct Impl;
    Workspace& ws_;
    QWidget* parent_;
    Impl* impl_ = nullptr;
};

}  // namespace tarrowin::app

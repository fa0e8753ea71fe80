#pragma once
// The per-voice dialogs as the main form and the Algorithms menu open them: each reads the
// voice from the document, runs its dialog, and commits the result as one undoable step.
// One MIDI, modulation, user-scale and note-value dialog is kept per voice and reloaded
// from the voice at every opening; the algorithm dialogs are made for each use.
//
// The dialogs themselves know nothing of the document: each takes its title and values
// in and gives its result out, so other windows reuse them (the Multiple Voice Editor's
// "Modulate", "Other value", "User Scale" and the coefficient dialogs).

#include <QObject>
#include <QString>
#include <array>
#include <memory>

#include "engine/settings.h"

class QWidget;

namespace tarrowin::app {

class Workspace;
class VoiceMidiDialog;
class ModulateDialog;
class UserScaleDialog;
class NoteValueDialog;

class VoiceDialogs : public QObject {
    Q_OBJECT
   public:
    VoiceDialogs(Workspace& workspace, QWidget* parent);
    ~VoiceDialogs() override;

    // "Set": the voice's MIDI settings ("Extra - voice N"). OK stores them; Cancel nothing.
    void editMidiSettings(int v);
    // The row's Modulate box has just been ticked: OK keeps it ticked with the dialog's
    // values, any other close leaves it unticked.
    void editModulation(int v);
    // The Scale list was closed on "User defined" (also when it already was): the voice
    // takes the scale of the ticked notes.
    void editUserScale(int v);
    // The Note value list was closed on "Other" (also when it already was).
    void editNoteValue(int v);
    // An item of the Algorithms menu: the algorithm at once, then its parameter dialog;
    // Cancel keeps the old coefficients with the new algorithm.
    void chooseAlgorithm(int v, Algorithm a);

    // "LogMap Voice 3": the caption of a voice's coefficient dialog; empty for Morse-Thue.
    static QString coefficientTitle(Algorithm a, int v);

   private:
    VoiceMidiDialog& midiDialog(int v);
    ModulateDialog& modulateDialog(int v);
    UserScaleDialog& userScaleDialog(int v);
    NoteValueDialog& noteValueDialog(int v);

    Workspace& ws_;
    QWidget* parent_;
    // Made at a voice's first opening and kept.
    std::array<VoiceMidiDialog*, kVoices> midi_{};
    std::array<ModulateDialog*, kVoices> modulate_{};
    std::array<UserScaleDialog*, kVoices> userScale_{};
    std::array<NoteValueDialog*, kVoices> noteValue_{};
};

}  // namespace tarrowin::app

#include "voice_dialogs.h"

#include <QWidget>

#include "app/workspace.h"
#include "coefficient_dialog.h"
#include "engine/tables.h"
#include "modulate_dialog.h"
#include "note_value_dialog.h"
#include "user_scale_dialog.h"
#include "voice_midi_dialog.h"

namespace tarrowin::app {

namespace {

using Scope = DocumentController::Scope;

QString voiceStep(const char* what, int v) { return QStringLiteral("%1 voice %2").arg(QLatin1String(what)).arg(v + 1); }

// Made once for the voice with `make`, then the same dialog every time.
template <class Dialog, class Make>
Dialog& kept(std::array<Dialog*, kVoices>& dialogs, int v, Make make) {
    Dialog*& d = dialogs[static_cast<size_t>(v)];
    if (!d) d = make();
    return *d;
}

}  // namespace

VoiceDialogs::VoiceDialogs(Workspace& workspace, QWidget* parent) : QObject(parent), ws_(workspace), parent_(parent) {}
VoiceDialogs::~VoiceDialogs() {
    // The dialogs are children of the parent window and go with it; without one, here.
    const auto drop = [](auto& dialogs) {
        for (auto* d : dialogs)
            if (d && !d->parent()) delete d;
    };
    drop(midi_);
    drop(modulate_);
    drop(userScale_);
    drop(noteValue_);
}

VoiceMidiDialog& VoiceDialogs::midiDialog(int v) {
    return kept(midi_, v, [&] { return new VoiceMidiDialog(v, parent_); });
}
ModulateDialog& VoiceDialogs::modulateDialog(int v) {
    return kept(modulate_, v, [&] { return new ModulateDialog(QStringLiteral("Modulation - voice %1").arg(v + 1), parent_); });
}
UserScaleDialog& VoiceDialogs::userScaleDialog(int v) {
    return kept(userScale_, v, [&] { return new UserScaleDialog(QStringLiteral("User scale - voice %1").arg(v + 1), parent_); });
}
NoteValueDialog& VoiceDialogs::noteValueDialog(int v) {
    return kept(noteValue_, v, [&] { return new NoteValueDialog(QStringLiteral("Note Value - voice %1").arg(v + 1), parent_); });
}

void VoiceDialogs::editMidiSettings(int v) {
    VoiceMidiDialog& dialog = midiDialog(v);
    const CTarrowinDoc& doc = ws_.document.doc();
    // With Edit While Playing the dialog opens during a live play, which keeps the tuning it
    // began with (Options > Tuning waits for the play's end too), and the channels it was
    // planned on when it retunes.
    const bool playing = ws_.playback.isPlaying();
    dialog.load(VoiceMidiValues::of(doc.voice(v)), ws_.playback.output().percussionChannel(),
                doc.tuning().tuned[static_cast<size_t>(v)], playing, playing && doc.tuning().retunes());
    if (dialog.exec() != QDialog::Accepted) return;
    const VoiceMidiValues values = dialog.values();
    const bool tuned = dialog.tuned();
    ws_.document.edit(voiceStep("Extra", v), Scope::Current, [v, values, tuned](CTarrowinDoc& d) {
        d.editVoice(v, [&](VoiceSettings& s) { values.applyTo(s); });
        TuningSettings t = d.tuning();
        t.tuned[static_cast<size_t>(v)] = tuned;
        d.setTuning(t);
    });
}

void VoiceDialogs::editModulation(int v) {
    const VoiceSettings& voice = ws_.document.doc().voice(v);
    ModulateDialog& dialog = modulateDialog(v);
    dialog.load(voice.modulateMode, voice.modulateEvery);
    const bool ok = dialog.exec() == QDialog::Accepted;
    const int32_t mode = dialog.mode(), every = dialog.every();
    // Ticking the box marks the document modified even when the dialog is cancelled; the
    // form then shows the box unticked again.
    ws_.document.edit(voiceStep("Modulate", v), Scope::Current, [=](CTarrowinDoc& d) {
        d.setModulate(v, ok);
        if (ok) d.setModulation(v, mode, every);
    });
}

void VoiceDialogs::editUserScale(int v) {
    UserScaleDialog& dialog = userScaleDialog(v);
    dialog.load(ws_.document.doc().voice(v).userScale);
    dialog.exec();  // ends only through OK, with at least three notes
    const ScaleList scale = dialog.scale();
    ws_.document.edit(voiceStep("Scale", v), Scope::Current, [v, scale](CTarrowinDoc& d) {
        d.editVoice(v, [&](VoiceSettings& s) {
            s.scaleIndex = kUserDefinedScale;
            s.setUserScale(scale);
        });
    });
}

void VoiceDialogs::editNoteValue(int v) {
    NoteValueDialog& dialog = noteValueDialog(v);
    dialog.load(noteTicks(ws_.document.doc().voice(v).noteValue));
    dialog.exec();  // ends only through OK, with a value in range
    const auto ticks = static_cast<float>(dialog.value());
    ws_.document.edit(voiceStep("Note value", v), Scope::Current,
                      [v, ticks](CTarrowinDoc& d) { d.setNoteValue(v, kOtherNoteValue, ticks); });
}

void VoiceDialogs::chooseAlgorithm(int v, Algorithm a) {
    std::vector<float> values;
    if (auto dialog = makeCoefficientDialog(a, coefficientTitle(a, v), ws_.document.doc().voice(v), parent_)) {
        if (dialog->exec() == QDialog::Accepted)
            for (int i = 0; i < dialog->count(); ++i) values.push_back(dialog->value(i));
    }
    // The algorithm and the accepted coefficients are one step; the document is marked
    // modified even when nothing changed.
    ws_.document.edit(voiceStep("Algorithm", v), Scope::Current, [v, a, values](CTarrowinDoc& d) {
        d.setAlgorithm(v, a);
        if (values.empty()) return;
        d.editVoice(v, [&](VoiceSettings& s) {
            const auto rules = coefficientRules(a);
            for (size_t i = 0; i < rules.size(); ++i) s.*rules[i].member = values[i];
        });
    });
}

QString VoiceDialogs::coefficientTitle(Algorithm a, int v) {
    static const std::array<const char*, kAlgorithms> names = {"",       "LogMap", "1/f",    "Henon",
                                                               "Hopalong", "Martin", "Ginger", "Lorenz"};
    const char* name = names[static_cast<size_t>(a)];
    return *name ? QStringLiteral("%1 Voice %2").arg(QLatin1String(name)).arg(v + 1) : QString();
}

}  // namespace tarrowin::app

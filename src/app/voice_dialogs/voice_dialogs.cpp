#include "voice_dialogs.h"

#include <QWidget>

#include "app/workspace.h"

// A first wiring without the dialogs: each command stores what the dialog would start
// from. The dialogs replace it.
namespace tarrowin::app {

struct VoiceDialogs::Impl {};

VoiceDialogs::VoiceDialogs(Workspace& workspace, QWidget* parent) : QObject(parent), ws_(workspace), parent_(parent) {}
VoiceDialogs::~VoiceDialogs() = default;

void VoiceDialogs::editMidiSettings(int) {}
void VoiceDialogs::editModulation(int v) {
    ws_.document.edit(QStringLiteral("Modulate voice %1").arg(v + 1), DocumentController::Scope::Current,
                      [v](CTarrowinDoc& d) { d.setModulate(v, true); });
}
void VoiceDialogs::editUserScale(int v) {
    ws_.document.edit(QStringLiteral("Scale voice %1").arg(v + 1), DocumentController::Scope::Current,
                      [v](CTarrowinDoc& d) { d.setScaleIndex(v, 15); });
}
void VoiceDialogs::editNoteValue(int v) {
    ws_.document.edit(QStringLiteral("Note value voice %1").arg(v + 1), DocumentController::Scope::Current,
                      [v](CTarrowinDoc& d) { d.setNoteValue(v, 11, d.voice(v).noteValue); });
}
void VoiceDialogs::chooseAlgorithm(int v, Algorithm a) {
    ws_.document.edit(QStringLiteral("Algorithm voice %1").arg(v + 1), DocumentController::Scope::Current,
                      [v, a](CTarrowinDoc& d) { d.setAlgorithm(v, a); });
}
void VoiceDialogs::initialUpdate() {}

}  // namespace tarrowin::app

#include "command_state.h"

namespace tarrowin::app {

CommandState commandState(Command c, const UiState& s) {
    const bool idle = !s.playing;
    switch (c) {
        // Under a session manager the document lives where the session keeps it.
        case Command::New:
        case Command::Open:
        case Command::SaveAs: return {idle && !s.sessionManaged, false};
        case Command::Save:
        case Command::SaveMidi:
        case Command::ExportAudio:
        case Command::PlayMidi:
        case Command::Exit:
        case Command::GetCurrentNote:
        case Command::Randomizer:
        case Command::MultiVoiceEditor:
        case Command::MidiOut:
        case Command::PercussionChannel:
        case Command::SoundFont:
        case Command::Tuning:
        case Command::MidiPlayer: return {idle, false};
        case Command::Undo: return {idle && s.canUndo, false};
        case Command::Redo: return {idle && s.canRedo, false};
        case Command::Play: return {idle && !s.coolingDown, false};
        case Command::CurrentSettings: return {idle, !s.compositionMode};
        case Command::Composition: return {idle && s.eventsExist, s.compositionMode};
        case Command::UpdateWhilePlaying: return {s.eventsExist && s.compositionMode, s.updateWhilePlaying};
        case Command::CompositionMaker: return {idle && !s.makerOpen, false};
        case Command::ReplaceEvent: return {idle && s.eventsExist, false};
        case Command::CompositionInfo: return {!s.infoOpen && s.eventsExist, false};
        case Command::CreateImage: return {idle && !s.imageOpen && s.eventsExist, false};
        case Command::SyncInternal: return {idle, s.sync == SyncMode::Internal};
        case Command::SyncFollowJack: return {idle, s.sync == SyncMode::FollowJack};
        case Command::SyncJackMaster: return {idle, s.sync == SyncMode::JackMaster};
        case Command::SyncMidiClock: return {idle, s.sync == SyncMode::MidiClock};
        case Command::SendMidiClock: return {idle, s.sendMidiClock};
        case Command::EditWhilePlaying: return {true, s.editWhilePlaying};
        case Command::RecordPerformance: return {true, s.recording};
        case Command::Toolbar: return {true, s.toolbarShown};
        case Command::StatusBar: return {true, s.statusBarShown};
        case Command::Notes: return {true, s.notesShown};
        case Command::Stop:
        case Command::RemoteControl:
        case Command::Calculator:
        case Command::HelpTopics:
        case Command::WhatsThis:
        case Command::About:
        case Command::Count: break;
    }
    return {true, false};
}

remote::PlayState playStateOf(const UiState& s) {
    remote::PlayState p{s.playing, s.auditioning, s.compositionRunning, s.coolingDown, s.locked, s.eventsExist};
    p.liveEditing = s.editWhilePlaying && s.playing && !s.auditioning && !s.compositionRunning;
    return p;
}

}  // namespace tarrowin::app

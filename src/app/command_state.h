#pragma once
// Which commands of the menus and the toolbar are enabled and checked, from the state the
// window is in. One function decides it for every command, so the menus, the toolbar and
// the tests agree.

#include <array>
#include <cstddef>

#include "playback/tick_source.h"
#include "remote/remote_rules.h"

namespace tarrowin::app {

enum class Command {
    New, Open, Save, SaveAs, SaveMidi, ExportAudio, PlayMidi, Exit,
    Undo, Redo,
    Play, Stop, CurrentSettings, Composition, UpdateWhilePlaying, RecordPerformance,
    GetCurrentNote, CompositionMaker, ReplaceEvent, Randomizer, MultiVoiceEditor, CompositionInfo, CreateImage,
    MidiOut, PercussionChannel, SoundFont, Tuning, MidiPlayer, RemoteControl,
    SyncInternal, SyncFollowJack, SyncJackMaster, SyncMidiClock, SendMidiClock, EditWhilePlaying,
    Calculator,
    Toolbar, StatusBar, Notes,
    HelpTopics, WhatsThis, About,
    Count
};
inline constexpr size_t kCommands = static_cast<size_t>(Command::Count);

// What the enabling rules read.
struct UiState {
    bool playing = false;      // the playing flag: a play or an audition runs
    bool auditioning = false;  // what plays is the Composition Maker's audition of one event
    bool compositionRunning = false;  // what plays is the composition
    bool locked = false;       // the Lock button
    bool coolingDown = false;  // the tick after Stop
    bool compositionMode = false;
    bool updateWhilePlaying = false;
    bool eventsExist = false;
    bool canUndo = false;
    bool canRedo = false;
    bool makerOpen = false;
    bool infoOpen = false;
    bool imageOpen = false;
    bool toolbarShown = true;
    bool statusBarShown = true;
    bool notesShown = false;
    bool sessionManaged = false;  // a session manager holds the document's file
    SyncMode sync = SyncMode::Internal;  // Options > Sync
    bool sendMidiClock = false;          // Options > Send MIDI clock
    bool editWhilePlaying = false;       // Options > Edit While Playing
    bool recording = false;              // Playback Controls > Record Performance
};

struct CommandState {
    bool enabled = true;
    bool checked = false;
    bool operator==(const CommandState&) const = default;
};

CommandState commandState(Command c, const UiState& s);

// The play state the rules of the settings read (the form, the Algorithms menu, remote
// control), from the window's.
remote::PlayState playStateOf(const UiState& s);

}  // namespace tarrowin::app

#include "command_table.h"

#include <array>

namespace tarrowin::app {

namespace {

using C = Command;

// In the order of the Command enumeration.
const std::array<CommandInfo, kCommands> kCommandTable = {{
    {C::New, "&New", "Create a new document", "New", "Ctrl+N", "document-new", ":/icons/new.svg", false},
    {C::Open, "&Open...", "Open an existing document", "Open", "Ctrl+O", "document-open", ":/icons/open.svg", false},
    {C::Save, "&Save", "Save the active document", "Save", "Ctrl+S", "document-save", ":/icons/save.svg", false},
    {C::SaveAs, "Save &As...", "Save the active document with a new name", "Save As", "", "document-save-as",
     ":/icons/save-as.svg", false},
    {C::SaveMidi, "Save &Midi file...", "Creates a MIDI (*.mid) file", "Write MIDI file", "", "document-export",
     ":/icons/save-midi.svg", false},
    {C::ExportAudio, "&Export Audio...", "Renders what the MIDI file holds into a WAV or FLAC file", "Export audio", "",
     "audio-x-generic", ":/icons/export-audio.svg", false},
    {C::PlayMidi, "&Play Midi file...", "Play midi file with the designated player", "Play Midi file", "",
     "audio-x-generic", ":/icons/play-midi.svg", false},
    {C::Exit, "E&xit", "Quit the application; prompts to save documents", "Exit", "", "application-exit", "", false},
    {C::Undo, "&Undo", "Undo the last change", "Undo", "Ctrl+Z", "edit-undo", ":/icons/undo.svg", false},
    {C::Redo, "&Redo", "Redo the change last undone", "Redo", "Ctrl+Shift+Z;Ctrl+Y", "edit-redo", ":/icons/redo.svg",
     false},
    {C::Play, "&Play", "Start playing composition", "Play", "", "media-playback-start", ":/icons/play.svg", false},
    {C::Stop, "&Stop", "Stop playing composition", "Stop", "", "media-playback-stop", ":/icons/stop.svg", false},
    {C::CurrentSettings, "&Current Settings", "Play according to the settings in the main window",
     "Play desktop settings", "", "", ":/icons/current-settings.svg", true},
    {C::Composition, "Composition", "Play composition made with the Composition Maker", "Play composition", "", "",
     ":/icons/composition.svg", true},
    {C::UpdateWhilePlaying, "Update Settings playing composition",
     "Settings will be updated for every Event while playing composition", "Update settings playing composition", "",
     "", ":/icons/update-settings.svg", true},
    {C::RecordPerformance, "&Record Performance",
     "Keep what plays, edits and voice switches included, and save it as a MIDI file when the recording ends",
     "Record Performance", "", "media-record", ":/icons/record.svg", true},
    {C::GetCurrentNote, "&Get Current Note...", "Find out which note corresponds to the current settings and counter",
     "Get current note", "", "", ":/icons/current-note.svg", false},
    {C::CompositionMaker, "&Composition Maker...", "The Composition Maker helps you create custom compositions",
     "Composition maker", "", "", ":/icons/composition-maker.svg", false},
    {C::ReplaceEvent, "Replace Event with Current &Settings ", "Fill up the selected event with current settings",
     "Replace Event with Current Settings", "", "", ":/icons/replace-event.svg", false},
    {C::Randomizer, "Composition &Randomizer...", "Randomize your settings/composition", "Composition Randomizer", "",
     "", ":/icons/randomizer.svg", false},
    {C::MultiVoiceEditor, "Multiple Voice &Editor...", "Edit multiple voices at once", "Multiple Voice Editor", "", "",
     ":/icons/voice-editor.svg", false},
    {C::CompositionInfo, "Composition &Info...", "Displays information on your composition", "Composition Information",
     "", "", ":/icons/composition-info.svg", false},
    {C::CreateImage, "Create image from composition...", "Create a visual representation of your composition",
     "Translate your composition into an image", "", "", ":/icons/image.svg", false},
    {C::MidiOut, "&Midi Out...", "Select MIDI Output Device", "Midi Out", "", "", ":/icons/midi-out.svg", false},
    {C::PercussionChannel, "Set &Percussion Channel...", "Set Channel of percussion instruments",
     "Set Percussion Channel", "", "", ":/icons/percussion.svg", false},
    {C::SoundFont, "Sound&Font...", "Choose the SoundFont of the built-in synthesizer", "SoundFont", "", "", "",
     false},
    {C::Tuning, "&Tuning...", "Tune the voices with a Scala scale and keyboard map", "Tuning", "", "", "", false},
    {C::MidiPlayer, "Midi File Pla&yer...", "Choose the program that plays a MIDI file", "Midi File Player", "", "",
     "", false},
    {C::RemoteControl, "Rem&ote Control (OSC)...", "Play and edit from OSC controllers over the network",
     "Remote Control (OSC)", "", "", "", false},
    {C::SyncInternal, "&Internal", "Play on Tarrowin's own clock", "Internal sync", "", "", "", true},
    {C::SyncFollowJack, "&Follow JACK transport",
     "Play while the JACK transport rolls, from its position and at its master's tempo", "Follow JACK transport", "",
     "", "", true},
    {C::SyncJackMaster, "JACK &timebase master",
     "Lead the JACK transport: Play and Stop start and stop it, its position comes from Tarrowin",
     "JACK timebase master", "", "", "", true},
    {C::SyncMidiClock, "Follow &MIDI clock",
     "Play to a MIDI clock that comes in through the port \"Tarrowin clock in\"", "Follow MIDI clock", "", "", "",
     true},
    {C::SendMidiClock, "Send MIDI cloc&k", "Send MIDI clock, Start, Continue and Stop on the output device",
     "Send MIDI clock", "", "", "", true},
    {C::EditWhilePlaying, "Edit &While Playing",
     "Keep the voices' settings and the tempo open while the current settings play; each change plays at the next tick",
     "Edit While Playing", "", "", "", true},
    {C::Calculator, "Ca&lculator...", "Opens the calculator", "Calculator", "", "accessories-calculator",
     ":/icons/calculator.svg", false},
    {C::Toolbar, "&Toolbar", "Show or hide the toolbar", "Toggle ToolBar", "", "", "", true},
    {C::StatusBar, "&Status Bar", "Show or hide the status bar", "Toggle StatusBar", "", "", "", true},
    {C::Notes, "&Notes", "Show or hide the notes of what plays", "Toggle Notes", "F2", "", "", true},
    {C::HelpTopics, "&Help Topics", "List Help topics", "Help Topics", "F1", "help-contents", ":/icons/help.svg", false},
    {C::WhatsThis, "What's &This?", "Display help for a clicked item", "Help", "Shift+F1", "help-whatsthis", "", false},
    {C::About, "&About Tarrowin...", "Display program information, version number and copyright", "About", "",
     "help-about", ":/icons/about.svg", false},
}};

}  // namespace

const CommandInfo& commandInfo(Command c) { return kCommandTable[static_cast<size_t>(c)]; }

const std::vector<Command>& syncCommands() {
    static const std::vector<Command> sync = {C::SyncInternal, C::SyncFollowJack, C::SyncJackMaster, C::SyncMidiClock};
    return sync;
}

SyncMode syncModeOf(Command c) {
    switch (c) {
        case C::SyncFollowJack: return SyncMode::FollowJack;
        case C::SyncJackMaster: return SyncMode::JackMaster;
        case C::SyncMidiClock: return SyncMode::MidiClock;
        default: return SyncMode::Internal;
    }
}

const std::vector<MenuLayout>& menuLayout() {
    static const std::vector<MenuLayout> menus = {
        {"&File",
         {C::New, C::Open, C::Save, C::SaveAs, C::SaveMidi, C::ExportAudio, C::PlayMidi, kSeparator, C::Exit}},
        {"&Edit", {C::Undo, C::Redo}},
        {"&Playback Controls",
         {C::Play, C::Stop, C::RecordPerformance, kSeparator, C::CurrentSettings, C::Composition,
          C::UpdateWhilePlaying}},
        {"&Options",
         {C::GetCurrentNote, C::CompositionMaker, C::ReplaceEvent, C::Randomizer, C::MultiVoiceEditor,
          C::CompositionInfo, C::CreateImage, kSeparator, C::MidiOut, C::PercussionChannel, C::SoundFont,
          C::Tuning, C::MidiPlayer, C::RemoteControl, C::SyncInternal, C::SyncFollowJack, C::SyncJackMaster,
          C::SyncMidiClock, C::SendMidiClock, C::EditWhilePlaying, C::Calculator}},
        {"&View", {C::Toolbar, C::StatusBar, C::Notes}},
        {"&Help", {C::HelpTopics, C::WhatsThis, kSeparator, C::About}},
    };
    return menus;
}

const std::vector<Command>& toolbarLayout() {
    static const std::vector<Command> bar = {
        C::New, C::Open, C::Save, C::SaveAs, C::Undo, C::Redo, C::SaveMidi, C::PlayMidi, kSeparator,
        C::Play, C::Stop, C::RecordPerformance, C::CurrentSettings, C::Composition, C::UpdateWhilePlaying, kSeparator,
        C::GetCurrentNote, C::CompositionMaker, C::ReplaceEvent, C::Randomizer, C::MultiVoiceEditor,
        C::CompositionInfo, C::CreateImage, C::MidiOut, C::PercussionChannel, C::Calculator, kSeparator,
        C::About, C::HelpTopics,
    };
    return bar;
}

}  // namespace tarrowin::app

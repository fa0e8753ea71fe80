// "demo": the first notes of the 16 voices of a new document, as the note engine gives them.

#include <CLI/CLI.hpp>

#include <iomanip>
#include <iostream>

#include "command_registry.h"
#include "engine/note_engine.h"
#include "engine/tables.h"

namespace tarrowin::cli {
namespace {

void printDemo(int notesPerVoice) {
    const Settings settings = Settings::defaults();
    NoteEngine engine(settings.voices);
    engine.prepareRun(settings.global.startCounter);
    std::cout << "Tarrowin 2.5: the first " << notesPerVoice << " notes of each voice of a new document\n";
    for (int v = 0; v < kVoices; ++v) {
        const VoiceSettings& voice = settings.voices[static_cast<size_t>(v)];
        std::cout << "Voice " << std::setw(2) << v + 1 << (voice.enabled ? " (on) " : " (off)") << ":";
        int found = 0;
        for (int64_t t = 0; found < notesPerVoice; ++t) {
            if (auto pitch = engine.evaluate(v, t)) {
                std::cout << ' ' << std::setw(4) << noteName(foldKey(*pitch));
                ++found;
            }
        }
        std::cout << '\n';
    }
}

void setup(CLI::App& app) {
    auto* cmd = app.add_subcommand("demo", "Print the first notes of the voices of a new document");
    static int notes = 8;
    cmd->add_option("--notes", notes, "Notes per voice")->check(CLI::Range(1, 64));
    cmd->callback([] { printDemo(notes); });
}

const CommandRegistration registration(90, setup);

}  // namespace
}  // namespace tarrowin::cli

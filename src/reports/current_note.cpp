#include "current_note.h"

#include "engine/note_engine.h"
#include "engine/tables.h"
#include "report_text.h"

namespace tarrowin {

std::array<CurrentNoteLabel, kVoices> currentNoteLabels(const Settings& settings) {
    std::array<CurrentNoteLabel, kVoices> labels;
    const int32_t start = settings.global.startCounter;
    NoteEngine engine(settings.voices);
    clearCountdowns(engine.state());
    for (int v = 0; v < kVoices; ++v) {
        const VoiceSettings& voice = settings.voices[static_cast<size_t>(v)];
        CurrentNoteLabel& label = labels[static_cast<size_t>(v)];
        label.greyed = voice.enabled == 0;
        if (reports::modulatesRandomly(voice)) {
            label.text = "N/A";
            continue;
        }
        engine.resetVoice(v);
        if (auto last = engine.warmUpVoice(v, start)) label.note = *last;
        if (auto due = engine.evaluate(v, start)) label.note = *due;
        if (label.note < 0 || label.note > 127) {
            label.text = "none";
        } else {
            const long long step = static_cast<long long>(start / engine.noteLength(v)) + voice.offset;
            label.text = noteName(label.note) + reports::format(" (%lld)", step);
        }
    }
    return labels;
}

}  // namespace tarrowin

#include "remote_rules.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "document/document_validation.h"
#include "engine/tables.h"

namespace tarrowin::remote {

namespace {

struct Range {
    int64_t min;
    int64_t max;
};

template <class Rules>
Range ruleRange(const Rules& rules, std::string_view name) {
    const auto rule = std::find_if(rules.begin(), rules.end(), [&](const auto& r) { return r.name == name; });
    return {rule->min, rule->max};
}

// A voice's setting as a message sets it: the form's column that names the undo step, the
// document's value rule (empty: a row of a list the window offers), the value held and the
// document's own edit.
struct SettingInfo {
    VoiceSetting setting;
    const char* header;
    const char* rule;
    int32_t (*held)(const VoiceSettings&);
    void (*apply)(CTarrowinDoc&, int v, int32_t value);
};
constexpr std::array<SettingInfo, 8> kSettings = {{
    {VoiceSetting::Param1, "Param1", "param1", [](const VoiceSettings& s) { return s.param1; },
     [](CTarrowinDoc& d, int v, int32_t x) { d.setParam1(v, x); }},
    {VoiceSetting::Param2, "Param2", "param2", [](const VoiceSettings& s) { return s.param2; },
     [](CTarrowinDoc& d, int v, int32_t x) { d.setParam2(v, x); }},
    {VoiceSetting::Offset, "Offset", "offset", [](const VoiceSettings& s) { return s.offset; },
     [](CTarrowinDoc& d, int v, int32_t x) { d.setOffset(v, x); }},
    // A message gives the number of octaves, as the list shows it; the document keeps its row.
    {VoiceSetting::Octaves, "Octaves", "octaves", [](const VoiceSettings& s) { return s.octaves; },
     [](CTarrowinDoc& d, int v, int32_t x) { d.setOctaves(v, x - 1); }},
    {VoiceSetting::Note, "Note", "startNote", [](const VoiceSettings& s) { return s.startNote; },
     [](CTarrowinDoc& d, int v, int32_t x) { d.setStartNote(v, x); }},
    {VoiceSetting::Scale, "Scale", "", [](const VoiceSettings& s) { return s.scaleIndex; },
     [](CTarrowinDoc& d, int v, int32_t x) { d.setScaleIndex(v, x); }},
    {VoiceSetting::NoteValue, "Note value", "", [](const VoiceSettings& s) { return s.noteValueIndex; },
     [](CTarrowinDoc& d, int v, int32_t x) { d.setNoteValue(v, x, static_cast<float>(noteValueTicks(x))); }},
    {VoiceSetting::Dynamic, "Dynamic", "dynamicIndex", [](const VoiceSettings& s) { return s.dynamicIndex; },
     [](CTarrowinDoc& d, int v, int32_t x) { d.setDynamic(v, x); }},
}};

const SettingInfo& infoOf(VoiceSetting s) { return kSettings[static_cast<size_t>(s)]; }

// The values a message may set: the window's fields and lists. "User defined" and "Other"
// are not among them, since the window asks for the scale or the length that goes with them.
Range rangeOf(VoiceSetting s) {
    switch (s) {
        case VoiceSetting::Scale: return {0, kUserDefinedScale - 1};
        case VoiceSetting::NoteValue: return {0, kOtherNoteValue - 1};
        default: return ruleRange(kVoiceIntRules, infoOf(s).rule);
    }
}

std::string voiceName(int v) { return "voice " + std::to_string(v + 1); }

std::optional<std::string> outside(int64_t value, Range r) {
    if (value >= r.min && value <= r.max) return std::nullopt;
    return "Please enter an integer between " + std::to_string(r.min) + " and " + std::to_string(r.max) + ".";
}

std::optional<std::string> voiceSettingRefusal(const Request& r, const CTarrowinDoc& doc, const PlayState& state) {
    if (!settingsEditable(state)) return "The settings of " + voiceName(r.voice) + " cannot change while Tarrowin plays";
    if (doc.voice(r.voice).enabled == 0) return "Voice " + std::to_string(r.voice + 1) + " is off: its settings change only while it is on";
    if (r.setting == VoiceSetting::Scale && r.value == kUserDefinedScale)
        return std::string("\"User defined\" is chosen in the window, which asks for the scale");
    if (r.setting == VoiceSetting::NoteValue && r.value == kOtherNoteValue)
        return std::string("\"Other\" is chosen in the window, which asks for the length");
    return outside(r.value, rangeOf(r.setting));
}

std::optional<std::string> counterRefusal(const Request& r, const PlayState& state) {
    const bool start = r.kind == RequestKind::StartCounter;
    if (!countersEditable(state)) return std::string(start ? "Start" : "End") + " cannot change while Tarrowin plays";
    if (!start && state.locked) return std::string("End cannot change while the counters are locked");
    return outside(r.value, {0, kMaxCounter});
}

}  // namespace

bool countersEditable(const PlayState& state) { return !state.playing || state.auditioning; }
bool settingsEditable(const PlayState& state) { return countersEditable(state) || state.liveEditing; }

std::optional<std::string> refusal(const Request& r, const CTarrowinDoc& doc, const PlayState& state) {
    switch (r.kind) {
        case RequestKind::Play:
            if (state.playing) return std::string("Tarrowin is playing already");
            if (state.coolingDown) return std::string("Tarrowin is stopping: play again in a moment");
            return std::nullopt;
        case RequestKind::Mode:
            if (state.playing) return std::string("The play mode cannot change while Tarrowin plays");
            if (r.value != 0 && !state.eventsExist) return std::string("The document has no composition to play");
            return std::nullopt;
        case RequestKind::Tempo:
            if (!settingsEditable(state)) return std::string("The tempo cannot change while Tarrowin plays");
            return outside(r.value, ruleRange(kGlobalRules, "tempo"));
        case RequestKind::StartCounter:
        case RequestKind::EndCounter: return counterRefusal(r, state);
        case RequestKind::VoiceOn:
            if (state.playing && state.compositionRunning && !state.auditioning)
                return std::string("Voices cannot be switched on or off while the composition plays");
            return outside(r.value, {0, 1});
        case RequestKind::VoiceSetting: return voiceSettingRefusal(r, doc, state);
        case RequestKind::Stop:
        case RequestKind::State: return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Edit> editFor(const Request& r, const CTarrowinDoc& doc) {
    const auto value = static_cast<int32_t>(r.value);
    const GlobalSettings& g = doc.global();
    switch (r.kind) {
        case RequestKind::Tempo:
            if (value == g.tempo) return std::nullopt;
            return Edit{"Tempo", [value](CTarrowinDoc& d) { d.setTempo(value); }, true};
        case RequestKind::StartCounter:
            if (value == g.startCounter) return std::nullopt;
            return Edit{"Start counter", [value](CTarrowinDoc& d) { d.setStartCounter(value); }};
        case RequestKind::EndCounter:
            if (value == g.endCounter) return std::nullopt;
            return Edit{"End counter", [value](CTarrowinDoc& d) { d.setEndCounter(value); }};
        case RequestKind::VoiceOn: {
            const bool on = value != 0;
            if (on == (doc.voice(r.voice).enabled != 0)) return std::nullopt;
            return Edit{std::string(on ? "Switch on " : "Switch off ") + voiceName(r.voice),
                        [v = r.voice, on](CTarrowinDoc& d) { d.setEnabled(v, on); }};
        }
        case RequestKind::VoiceSetting: break;
        default: return std::nullopt;
    }
    const SettingInfo& info = infoOf(r.setting);
    if (value == info.held(doc.voice(r.voice))) return std::nullopt;
    return Edit{std::string(info.header) + " " + voiceName(r.voice),
                [apply = info.apply, v = r.voice, value](CTarrowinDoc& d) { apply(d, v, value); }};
}

StateReport stateReport(const CTarrowinDoc& doc, const PlayState& state, bool compositionMode, int32_t position,
                        int playingEvent) {
    StateReport report;
    report.playing = state.playing;
    report.composition = compositionMode;
    report.position = state.playing ? position : doc.global().startCounter;
    report.tempo = doc.global().tempo;
    const Composition& c = doc.composition();
    if (state.playing && state.compositionRunning && playingEvent >= 0 && playingEvent < c.count())
        report.tempo = c.event(playingEvent).global.tempo;
    return report;
}

}  // namespace tarrowin::remote

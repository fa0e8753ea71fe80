#include "multiple_voice_editor.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "engine/tables.h"

namespace tarrowin {

namespace {

size_t at(ChangeFlag f) { return static_cast<size_t>(f); }

// The toolkit's refusal of a number outside an edit box's range.
Message rangeMessage(int32_t low, int32_t high) {
    char text[80];
    std::snprintf(text, sizeof text, "Please enter an integer between %d and %d.", low, high);
    return Message{text, kAppCaption, MessageIcon::Exclamation};
}

void setCoefficients(VoiceSettings& voice, Algorithm a, const Coefficients& c) {
    switch (a) {
        case Algorithm::LogisticMap: voice.logisticMu = c.logisticMu; break;
        case Algorithm::OneOverFNoise: voice.noiseCoefficient = c.noiseCoefficient; break;
        case Algorithm::Henon:
            voice.henonA = c.henonA;
            voice.henonB = c.henonB;
            break;
        case Algorithm::Hopalong: voice.hopalongAngle = c.hopalongAngle; break;
        case Algorithm::Martin: voice.martinAngle = c.martinAngle; break;
        case Algorithm::Gingerbreadman:
            voice.gingerX0 = c.gingerX0;
            voice.gingerY0 = c.gingerY0;
            break;
        case Algorithm::Lorenz: voice.lorenzCoefficient = c.lorenzCoefficient; break;
        case Algorithm::MorseThue: break;
    }
}

}  // namespace

const std::array<std::string_view, kAlgorithms> kEditorAlgorithmLabels = {
    "Morse-Thue", "Log map", "1/f noise", "Henon", "Hopalong", "Martin", "Gingerbreadman", "Lorenz",
};

void Coefficients::storeInto(VoiceSettings& voice) const {
    for (int a = 0; a < kAlgorithms; ++a) setCoefficients(voice, static_cast<Algorithm>(a), *this);
}

Coefficients Coefficients::of(const VoiceSettings& v) {
    return {v.logisticMu, v.noiseCoefficient, v.henonA, v.henonB, v.hopalongAngle, v.martinAngle,
            v.gingerX0,   v.gingerY0,         v.lorenzCoefficient};
}

std::string_view changeFlagLabel(ChangeFlag flag) {
    static const std::array<std::string_view, kChangeFlags> labels = {
        "Algorithm", "Param1", "Param2", "Modulate", "Octaves", "Note",     "Scale",       "Note Value",
        "Instrument", "Mode",  "Pan",    "Dynamic",  "Inverted", "Match Scale", "Coefficient",
    };
    return labels[at(flag)];
}

MultipleVoiceEditor::MultipleVoiceEditor() : userScale(scaleIntervals(0)) {}

void MultipleVoiceEditor::open(const CTarrowinDoc& doc) {
    const auto n = static_cast<size_t>(doc.composition().count());
    eventSelection.assign(n, false);
    eventFlags.assign(n, false);
}

VoiceEditorEnabling MultipleVoiceEditor::enabling(const CTarrowinDoc& doc) const {
    VoiceEditorEnabling e;
    e.valueControl = change;
    e.valueControl[at(ChangeFlag::MatchScale)] = flag(ChangeFlag::Inverted) && flag(ChangeFlag::MatchScale) && newInverted;
    e.eventControls = !doc.composition().isEmpty();
    return e;
}

std::array<bool, 12> MultipleVoiceEditor::userScaleEditorMarks() const { return userScaleMarks(userScale); }

void MultipleVoiceEditor::userScaleEditorClosed(const std::array<bool, 12>& marks) { userScale = buildUserScale(marks); }

std::optional<std::string_view> MultipleVoiceEditor::coefficientDialogTitle() const {
    static const std::array<std::string_view, kAlgorithms> titles = {
        "", "LogMap", "1/f Noise", "Henon", "Hopalong", "Martin", "Ginger", "Lorenz",
    };
    if (algorithmChoice <= 0 || algorithmChoice >= kAlgorithms) return std::nullopt;
    return titles[static_cast<size_t>(algorithmChoice)];
}

std::optional<Message> MultipleVoiceEditor::check(bool selectedEvents) const {
    if (!kParam1Range.contains(newParam1)) return rangeMessage(kParam1Range.min, kParam1Range.max);
    if (!kParam2Range.contains(newParam2)) return rangeMessage(kParam2Range.min, kParam2Range.max);
    if (std::none_of(voices.begin(), voices.end(), [](bool b) { return b; })) return errorMessage("No voices selected!");
    if (selectedEvents && std::none_of(eventSelection.begin(), eventSelection.end(), [](bool b) { return b; })) {
        return errorMessage("No events selected!");
    }
    const struct {
        ChangeFlag flag;
        int32_t choice;
        int32_t rows;
        const char* text;
    } choices[] = {
        {ChangeFlag::Octaves, octavesChoice, 4, "No Octaves selected!"},
        {ChangeFlag::Note, noteChoice, kStartNotes, "No Note selected!"},
        {ChangeFlag::Scale, scaleChoice, kScaleRows, "No Scale selected!"},
        {ChangeFlag::NoteValue, noteValueChoice, kNoteValueRows, "No Note Value selected!"},
        {ChangeFlag::Mode, modeChoice, 2, "No Mode selected!"},
        {ChangeFlag::Instrument, instrumentChoice, kInstruments, "No Instrument selected!"},
        {ChangeFlag::Dynamic, newDynamic, kDynamics, "No Dynamic selected!"},
        {ChangeFlag::Algorithm, algorithmChoice, kAlgorithms, "No Algorithm selected!"},
    };
    // A choice that is not a line of its list counts as none.
    for (const auto& c : choices) {
        if (flag(c.flag) && (c.choice < 0 || c.choice >= c.rows)) return errorMessage(c.text);
    }
    return std::nullopt;
}

void MultipleVoiceEditor::applyToVoice(VoiceSettings& voice) const {
    if (flag(ChangeFlag::Param1)) voice.param1 = newParam1;
    if (flag(ChangeFlag::Param2)) voice.param2 = newParam2;
    if (flag(ChangeFlag::Modulate)) {
        voice.modulate = newModulate ? 1 : 0;
        voice.modulateEvery = newModulateEvery;
        voice.modulateMode = newModulateMode;
    }
    if (flag(ChangeFlag::Octaves)) voice.setOctaves(octavesChoice);
    if (flag(ChangeFlag::Note)) voice.startNote = noteChoice;
    if (flag(ChangeFlag::NoteValue)) voice.setNoteValue(noteValueChoice, static_cast<float>(otherNoteValue));
    if (flag(ChangeFlag::Instrument)) voice.instrument = instrumentChoice;
    if (flag(ChangeFlag::Mode)) voice.tied = modeChoice;
    if (flag(ChangeFlag::Pan)) voice.pan = newPan;
    if (flag(ChangeFlag::Dynamic)) voice.setDynamic(newDynamic);
    if (flag(ChangeFlag::Inverted)) {
        const int32_t wasInverted = voice.inverted, wasMatch = voice.matchScale;
        voice.inverted = newInverted ? 1 : 0;
        if (flag(ChangeFlag::MatchScale)) voice.matchScale = newMatchScale ? 1 : 0;
        // The scale follows the inversion even when "Scale" is not changed.
        if (voice.inverted != wasInverted || voice.matchScale != wasMatch) voice.rebuildScale();
    }
    if (flag(ChangeFlag::Algorithm)) {
        const auto a = static_cast<Algorithm>(algorithmChoice);
        voice.setAlgorithm(a);
        if (flag(ChangeFlag::Coefficient)) setCoefficients(voice, a, coefficients);
    }
    if (flag(ChangeFlag::Scale)) {
        if (scaleChoice == kUserDefinedScale) {
            voice.userScale = userScale;
            sortScale(voice.userScale);
        }
        voice.setScaleIndex(scaleChoice);
    }
}

VoiceEditOutcome MultipleVoiceEditor::changeSettings(CTarrowinDoc& doc, Prompter& prompter) const {
    VoiceEditOutcome out;
    if (prompter.refused(check(false))) return out;
    for (int v = 0; v < kVoices; ++v) {
        if (!voices[static_cast<size_t>(v)]) continue;
        applyToVoice(doc.mutableCurrent().voices[static_cast<size_t>(v)]);
        out.voices[static_cast<size_t>(v)] = true;
    }
    doc.SetModifiedFlag();
    out.done = true;
    return out;
}

VoiceEditOutcome MultipleVoiceEditor::changeSelectedEvents(CTarrowinDoc& doc, Prompter& prompter) {
    VoiceEditOutcome out;
    if (prompter.refused(check(true))) return out;
    eventFlags = eventSelection;
    Composition& composition = doc.mutableComposition();
    const int n = std::min(composition.count(), static_cast<int>(eventFlags.size()));
    for (int i = 0; i < n; ++i) {
        if (!eventFlags[static_cast<size_t>(i)]) continue;
        for (int v = 0; v < kVoices; ++v) {
            if (voices[static_cast<size_t>(v)]) applyToVoice(composition.event(i).voices[static_cast<size_t>(v)]);
        }
        out.events.push_back(i);
    }
    out.voices = voices;
    out.done = true;
    return out;
}

}  // namespace tarrowin

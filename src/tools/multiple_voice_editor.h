#pragma once
// The Multiple Voice Editor without its window: the chosen voices, the change flags and the
// values they set, the common checks, and the one per-voice rule that "Change Settings"
// applies to the current settings and "Change Selected Events" to the chosen events.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "document/document.h"
#include "prompter.h"

namespace tarrowin {

// The change flags of the left column, in the order shown.
enum class ChangeFlag : int {
    Algorithm, Param1, Param2, Modulate, Octaves, Note, Scale, NoteValue,
    Instrument, Mode, Pan, Dynamic, Inverted, MatchScale, Coefficient,
};
inline constexpr int kChangeFlags = 15;
std::string_view changeFlagLabel(ChangeFlag flag);

// The lines of the editor's algorithm combo box: "Morse-Thue", "Log map", "1/f noise", ...
extern const std::array<std::string_view, kAlgorithms> kEditorAlgorithmLabels;

// The coefficients "Set Coefficient" stores, one set for every algorithm.
struct Coefficients {
    float logisticMu = 3.9f;
    float noiseCoefficient = 0.5f;
    float henonA = 1.7f;
    float henonB = 0.4f;
    float hopalongAngle = 3.14159f;
    float martinAngle = 3.14159f;
    float gingerX0 = -0.1f;
    float gingerY0 = 0.0f;
    float lorenzCoefficient = 0.8f;
    bool operator==(const Coefficients&) const = default;

    // The same fields of a voice: the parameter dialogs edit a voice's coefficients.
    void storeInto(VoiceSettings& voice) const;
    static Coefficients of(const VoiceSettings& voice);
};

struct VoiceEditorEnabling {
    // The value control of each change flag; the "Match Scale" entry is its value box.
    std::array<bool, kChangeFlags> valueControl{};
    // "Change Selected Events" and the events' "All"/"None".
    bool eventControls = false;
};

// What an action changed, for the form (or the event list) to follow.
struct VoiceEditOutcome {
    bool done = false;  // false: refused by a check, nothing changed
    std::array<bool, kVoices> voices{};
    std::vector<int> events;  // "Change Selected Events": the events changed
};

class MultipleVoiceEditor {
   public:
    static constexpr int32_t kNone = -1;  // a combo box or radio group with nothing chosen

    std::array<bool, kVoices> voices{};
    std::array<bool, kChangeFlags> change{};
    int32_t newParam1 = 2;
    int32_t newParam2 = 1;
    bool newModulate = false;
    int32_t newModulateMode = 0;
    int32_t newModulateEvery = 5;
    int32_t octavesChoice = kNone;
    int32_t noteChoice = kNone;
    int32_t scaleChoice = kNone;
    int32_t noteValueChoice = kNone;
    int32_t otherNoteValue = 8;
    int32_t instrumentChoice = kNone;
    int32_t modeChoice = kNone;
    int32_t newPan = 0;
    int32_t newDynamic = kNone;
    bool newInverted = false;
    bool newMatchScale = false;
    int32_t algorithmChoice = kNone;
    Coefficients coefficients;
    ScaleList userScale;  // the Major list
    std::vector<bool> eventSelection;  // the lines selected in the events list
    std::vector<bool> eventFlags;

    MultipleVoiceEditor();

    bool flag(ChangeFlag f) const { return change[static_cast<size_t>(f)]; }
    void setFlag(ChangeFlag f, bool on) { change[static_cast<size_t>(f)] = on; }
    // Left-column "All" / "None": every change flag, no value.
    void allFlags() { change.fill(true); }
    void noFlags() { change.fill(false); }

    // Opening: one events line per event, none selected, every event flag off.
    void open(const CTarrowinDoc& doc);
    VoiceEditorEnabling enabling(const CTarrowinDoc& doc) const;
    void selectAllEvents() { eventSelection.assign(eventSelection.size(), true); }
    void selectNoEvents() { eventSelection.assign(eventSelection.size(), false); }

    // The user-scale editor opened by choosing "User defined": the semitones it shows
    // marked, and the scale taken from its marks when it closes (ascending, from 0).
    std::array<bool, 12> userScaleEditorMarks() const;
    void userScaleEditorClosed(const std::array<bool, 12>& marks);

    // "Set Coefficient": the title of the parameter dialog of the chosen algorithm
    // ("LogMap", "1/f Noise", "Henon", ...); none for Morse-Thue or no choice.
    std::optional<std::string_view> coefficientDialogTitle() const;

    // The checks both actions make, in order; selectedEvents for "Change Selected Events".
    std::optional<Message> check(bool selectedEvents) const;
    // The per-voice rule: each checked field takes its value, in a fixed order.
    void applyToVoice(VoiceSettings& voice) const;

    // "Change Settings": the rule on every chosen voice of the current settings; marks the
    // document modified. Voices are not switched on or off.
    VoiceEditOutcome changeSettings(CTarrowinDoc& doc, Prompter& prompter) const;
    // "Change Selected Events": the rule on the chosen voices of every selected event. The
    // current settings stay and the document is not marked modified.
    VoiceEditOutcome changeSelectedEvents(CTarrowinDoc& doc, Prompter& prompter);
};

}  // namespace tarrowin

#pragma once
// The Composition Randomizer without its window: every member of the dialog with its
// construction default, the pickers it keeps, the enabling rules of its boxes, and its two
// actions. "Randomize !" replaces the chosen settings of the chosen voices with random
// values drawn from what the pickers allow; "Create" appends random events through Add.
// Both draw from a UniformRandom in a fixed order, so one seed always gives the same result.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "document/document.h"
#include "event_commands.h"
#include "prompter.h"
#include "pickers.h"
#include "uniform_random.h"

namespace tarrowin {

// The "Voices Randomizer" check boxes, each gating one kind of draw.
enum class RandomBox : int {
    Algorithm, Param1, Param2, Coefficient, Modulate, Octaves, Note, Scale,
    NoteVal, Instrument, Mode, Dynamic, Inverted, MatchScl, Pan, Tempo,
};
inline constexpr int kRandomBoxes = 16;
// "Algorithm", ..., "Note Val", ..., "Match Scl", "Pan", "Tempo".
std::string_view randomBoxLabel(RandomBox box);

// The "Start Counter" radio group.
inline constexpr int32_t kFromLastEvent = 0;
inline constexpr int32_t kStartFromZero = 1;
inline constexpr int32_t kRandomizeStart = 2;

// Which dialog a box opens when it becomes checked.
enum class PickerRequest { None, Algorithms, Param1Range, Param2Range, Octaves, Notes, Scales, NoteValues, Instruments, Dynamics };

// Which of the dependent controls are enabled.
struct RandomizerEnabling {
    bool allowSilence = false;
    bool minVoicesOn = false;  // the edit and its label
    bool createUserScales = false;
    bool createOnlyUserScales = false;
    bool matchScl = false;
    bool operator==(const RandomizerEnabling&) const = default;
};

// What "Randomize !" changed that the main form shows beyond the document's values.
struct RandomizeOutcome {
    bool done = false;  // false: refused, nothing changed
    std::array<bool, kVoices> randomized{};  // the voices whose settings were drawn
    // A voice that drew "Other": its note-value editor holds n and line 11 of its note-value
    // combo box reads "Other (n)".
    std::array<std::optional<int32_t>, kVoices> otherNoteValue{};
    // A voice that got a new user scale: the semitones marked in its user-scale editor.
    std::array<std::optional<std::array<bool, 12>>, kVoices> userScaleMarks{};
    // The tempo was drawn: the form's tempo, the playback tempo, its scroll bar and label.
    bool tempoChanged = false;
};

// What "Create" did, for the Composition Maker and the main form to follow.
struct CreateOutcome {
    // false: refused by a check of its own (the message was shown) and nothing changed.
    // true: the Composition Maker is opened if closed and brought to the front.
    bool started = false;
    std::vector<EventEdit> added;        // each event appended, in order
    bool stoppedAtCounterLimit = false;  // ended early; nothing loaded, play mode unchanged
    // Event 0 was loaded: the "Play from Event" combo box selects line 0, the play mode
    // becomes "Composition" and that combo box and "Update" are enabled.
    bool loadedFirstEvent = false;
    // After the load: the voices with scale index 15, whose user-scale editors reload from
    // their userScale.
    std::array<bool, kVoices> reloadUserScaleEditor{};
};

class CompositionRandomizer {
   public:
    CompositionRandomizer();

    std::array<bool, kRandomBoxes> boxes{};  // all on
    bool box(RandomBox b) const { return boxes[static_cast<size_t>(b)]; }

    std::array<bool, kVoices> voiceChoice{};
    int32_t param1From = 2, param1To = 100;
    int32_t param2From = 1, param2To = 100;
    uint32_t numberOfEvents = 10;
    uint32_t minCounter = 50;
    uint32_t maxCounter = 200;
    bool voicesOnOff = false;
    bool allowSilence = false;
    int32_t minVoicesOn = 1;
    bool createUserScales = true;
    bool createOnlyUserScales = false;
    int32_t startCounterMode = kFromLastEvent;
    int32_t randomStartMin = 0, randomStartMax = 1000;
    bool sequential = true;
    std::array<bool, kInstruments> allowedInstruments{};
    std::array<bool, kStartNotes> allowedNotes{};
    std::array<bool, kScaleRows - 1> allowedScales{};
    AlgorithmsPicker algorithms;
    NoteValuesPicker noteValues;
    ScalesPicker scales;
    OctavesPicker octaves;
    DynamicsPicker dynamics;

    // Opening: the voice choices follow the voices' on/off state, minVoicesOn is 1.
    void open(const CTarrowinDoc& doc);
    RandomizerEnabling enabling() const;

    // A click on a box; says which picker opens (only when the box became checked).
    PickerRequest setBox(RandomBox b, bool on);
    // "Create User Scales"; clearing it clears "Create Only User Scales".
    void setCreateUserScales(bool on);
    // "All" / "None": the sixteen boxes, without opening a picker.
    void allBoxes() { boxes.fill(true); }
    void noBoxes() { boxes.fill(false); }

    // After the pickers have closed.
    void scalesPickerClosed();
    InstrumentsPicker instrumentsPicker() const { return InstrumentsPicker(allowedInstruments); }
    void instrumentsPickerClosed(const InstrumentsPicker& picker) { allowedInstruments = picker.flags(); }
    NotesPicker notesPicker() const { return NotesPicker(allowedNotes); }
    void notesPickerClosed(const NotesPicker& picker) { allowedNotes = picker.flags(); }
    RangePicker param1RangePicker() const { return RangePicker::param1Range(param1From, param1To); }
    void param1RangeClosed(const RangePicker& r) { param1From = r.from, param1To = r.to; }
    RangePicker param2RangePicker() const { return RangePicker::param2Range(param2From, param2To); }
    void param2RangeClosed(const RangePicker& r) { param2From = r.from, param2To = r.to; }

    // The refusal of a draw that could not end: a checked box whose allowed set is empty
    // or whose range is invalid, with the message of the picker that would have refused it.
    std::optional<Message> checkDraws() const;
    // "Randomize !". Marks the document modified.
    RandomizeOutcome randomize(CTarrowinDoc& doc, UniformRandom& random, Prompter& prompter);

    // The checks of "Create", in order, then checkDraws.
    std::optional<Message> checkCreate(const CTarrowinDoc& doc) const;
    // "Create": numberOfEvents random events appended through Add, then event 0 loaded.
    CreateOutcome create(CTarrowinDoc& doc, UniformRandom& random, Prompter& prompter);

    // On only while "Create" runs; "Randomize !" then leaves the form alone.
    bool creating() const { return creating_; }

   private:
    void randomizeVoice(VoiceSettings& voice, int v, UniformRandom& random, RandomizeOutcome& out) const;
    bool creating_ = false;
};

}  // namespace tarrowin

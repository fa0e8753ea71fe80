#pragma once
// The Tarrowin document: the current settings of the 16 voices, the composition of up to
// 1000 events, and the modified flag that decides whether closing asks to save.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "engine/settings.h"
#include "engine/tuning.h"

namespace tarrowin {

inline constexpr int kMaxEvents = 1000;

// A fixed message box text with its caption.
struct UserMessage {
    std::string_view caption;
    std::string_view text;
};
// Refusals of the commands that add an event from the current settings.
inline constexpr UserMessage kEventLimitMessage{"Tarrowin", "Sorry, you have reached the limit of events (1000)"};
inline constexpr UserMessage kCounterRangeMessage{"Error", "Minimum difference between Start and End counters  is 1"};

// One event: a full copy of the global and voice settings, with its own counter range in
// `global.startCounter` .. `global.endCounter`. A constructed event has no scale lists.
using CompositionEvent = Settings;

// The ordered events of a composition; at most kMaxEvents. The last index is count() - 1,
// so -1 when the composition is empty.
class Composition {
   public:
    int count() const { return static_cast<int>(events_.size()); }
    bool isEmpty() const { return events_.empty(); }
    int lastIndex() const { return count() - 1; }
    bool isFull() const { return count() >= kMaxEvents; }
    const CompositionEvent& event(int i) const { return events_.at(static_cast<size_t>(i)); }
    CompositionEvent& event(int i) { return events_.at(static_cast<size_t>(i)); }
    const std::vector<CompositionEvent>& events() const { return events_; }

    // Raw edits that keep the limit: false (and nothing changed) when full or out of range.
    bool append(const CompositionEvent& e);
    bool insert(int index, const CompositionEvent& e);  // before index, 0..count()
    bool remove(int index);
    void clear() { events_.clear(); }
    // Events first .. first + count - 1 give way to `with`; false (and nothing changed) when
    // the range is outside the composition or the result would pass the limit.
    bool replaceRange(int first, int count, const std::vector<CompositionEvent>& with);

    bool operator==(const Composition& other) const { return events_ == other.events_; }

   private:
    std::vector<CompositionEvent> events_;
};

// The tuning of a document that has none: equal temperament, shared by every such document.
const std::shared_ptr<const TuningSettings>& defaultTuning();

class CTarrowinDoc {
   public:
    // Construction defaults: the new-document settings with every startNote at 48. New or
    // Open always follows before anything reads the document.
    CTarrowinDoc();

    // New: every current setting to its default, Major lists, reserved = 1, no events.
    void OnNewDocument();

    const Settings& current() const { return current_; }
    const GlobalSettings& global() const { return current_.global; }
    const VoiceSettings& voice(int v) const { return current_.voices[static_cast<size_t>(v)]; }
    int32_t reserved() const { return reserved_; }
    const Composition& composition() const { return composition_; }
    // The tuning, its method and the voices it retunes; the default leaves every key as it is.
    const TuningSettings& tuning() const { return *tuning_; }
    // The same, shared and never changed in place: a snapshot for a player or an undo step.
    const std::shared_ptr<const TuningSettings>& sharedTuning() const { return tuning_; }

    // Direct access for the document's own commands (event editing, file reading, bulk
    // tools). Callers decide whether their change marks the document modified.
    Settings& mutableCurrent() { return current_; }
    Composition& mutableComposition() { return composition_; }
    void setReserved(int32_t value) { reserved_ = value; }
    // Replaces the tuning; the document is marked modified when it differs.
    void setTuning(const TuningSettings& tuning);
    // The same without marking (undo and redo put a recorded tuning back).
    void restoreTuning(std::shared_ptr<const TuningSettings> tuning);

    bool isModified() const { return modified_; }
    void SetModifiedFlag(bool modified = true) { modified_ = modified; }

    // Edits of the current settings. Each stores the value (keeping the derived fields in
    // step) and marks the document modified.
    void setEnabled(int v, bool on);
    void setParam1(int v, int32_t value);
    void setParam2(int v, int32_t value);
    void setOffset(int v, int32_t value);
    void setModulate(int v, bool on);
    void setModulation(int v, int32_t mode, int32_t every);
    void setScaleIndex(int v, int32_t index);
    void setInversion(int v, bool inverted, bool matchScale);
    void setUserScale(int v, const ScaleList& list);
    void setDynamic(int v, int32_t index);
    void setNoteValue(int v, int32_t index, float ticks);
    void setOctaves(int v, int32_t index);
    void setStartNote(int v, int32_t note);
    void setAlgorithm(int v, Algorithm a);
    // Any other voice field (instrument, channel, pan, coefficients, ...): fn edits the
    // voice in place; the document is marked modified.
    void editVoice(int v, const std::function<void(VoiceSettings&)>& fn);
    void setTempo(int32_t tempo);
    void setStartCounter(int32_t value);
    void setEndCounter(int32_t value);
    // The numerator alone does not mark the document modified; the denominator does.
    void setTimeSigNumerator(int16_t value);
    void setTimeSigDenominator(int16_t value);

    // Fills an event with a deep copy of the current settings. Does not mark the document.
    void CopyCurrentSettingsIntoEvent(CompositionEvent& event) const;
    // Makes event `index` the current settings. Does not mark the document. False (and
    // nothing changed) for an index outside the composition.
    bool LoadEventIntoCurrentSettings(int index);

    // Add and Insert of a new event filled from the current settings: refused with the
    // limit message when the composition is full, then with the counter message unless
    // endCounter > startCounter. Neither marks the document modified.
    std::optional<UserMessage> addCurrentSettingsAsEvent();
    // Before event `index` (0..count()); an index outside that range adds nothing.
    std::optional<UserMessage> insertCurrentSettingsAsEvent(int index);
    // The refusal those two would give now, if any.
    std::optional<UserMessage> newEventRefusal() const;

    // Replaces the whole document (an Open that read a file completely) and clears the
    // modified flag. Without a tuning, the default one.
    void replaceContents(const Settings& current, int32_t reserved, const Composition& composition,
                         std::shared_ptr<const TuningSettings> tuning = nullptr);

   private:
    void touched() { modified_ = true; }
    VoiceSettings& voiceRef(int v) { return current_.voices[static_cast<size_t>(v)]; }

    Settings current_;
    int32_t reserved_ = 1;
    Composition composition_;
    std::shared_ptr<const TuningSettings> tuning_;
    bool modified_ = false;
};

}  // namespace tarrowin

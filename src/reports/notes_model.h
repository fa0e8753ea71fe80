#pragma once
// The notes of a piano roll: every note the MIDI file export strikes, as a bar from its
// note on to the note off that ends it, voice by voice, with the events' boundaries and
// time signatures. The notes are collected from the export's own performance run, so the
// roll shows exactly what the file holds.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/performance.h"
#include "engine/settings.h"
#include "engine/tuning.h"

namespace tarrowin {

// What the roll shows: the current settings from Start to End, or the whole composition.
enum class RollMode { CurrentSettings, Composition };

// 16 bytes: a long piece holds millions of them.
struct RollNote {
    int32_t start = 0;   // ticks from the beginning of the run
    int32_t end = 0;     // the tick of the note off that ends it (the run's end when none does)
    int32_t step = 0;    // the voice's own count of notes
    uint16_t slot = 0;   // the run's event it was struck in (index into RollNotes::events)
    uint8_t key = 0;     // the MIDI key struck
    uint8_t channel = 0;
    uint8_t velocity = 0;
    // The voice is off here: the file holds a silent strike (composition), or nothing at all
    // (current settings, where the roll still shows what the voice would play).
    bool off = false;

    bool operator==(const RollNote&) const = default;
};

// One event of the run (the current settings are one event).
struct RollEvent {
    int index = 0;        // the composition's event number (0 for the current settings)
    int32_t date = 0;     // where it begins in the run
    int32_t length = 0;   // its ticks
    GlobalSettings global;  // its counters, tempo and time signature
};

// A line of the time grid.
struct GridLine {
    int32_t date = 0;
    bool bar = false;       // a bar line (else a beat line)
    int32_t counter = 0;    // the counter there, as the main form counts
};

// The keys that sound somewhere in a span of ticks, one bit per key.
struct KeyMask {
    std::array<uint64_t, 2> bits{};

    void set(int key) { bits[static_cast<size_t>(key >> 6)] |= uint64_t{1} << (key & 63); }
    bool has(int key) const { return (bits[static_cast<size_t>(key >> 6)] >> (key & 63)) & 1; }
    bool empty() const { return (bits[0] | bits[1]) == 0; }
    KeyMask& operator|=(const KeyMask& o) {
        bits[0] |= o.bits[0];
        bits[1] |= o.bits[1];
        return *this;
    }
};

// Per voice, the keys that sound in each bucket of ticks, at bucket widths growing by four
// from level to level: a zoomed-out roll reads a few thousand masks instead of every note.
// The finest level has at most kMaxBuckets buckets, which bounds its memory.
class RollOverview {
   public:
    static constexpr int32_t kFinestTicks = 4;
    static constexpr int32_t kMaxBuckets = 16384;

    void build(const std::array<std::vector<RollNote>, kVoices>& voices, int32_t length);
    int levels() const { return static_cast<int>(levels_.size()); }
    int32_t bucketTicks(int level) const { return finest_ << (2 * level); }
    // The level of the widest buckets that are not wider than `ticks`; -1 when none is.
    int levelFor(double ticks) const;
    // The keys of voice v's notes (those that are off, or on) in buckets [first, last).
    KeyMask keys(int v, int level, bool off, int64_t first, int64_t last) const;

   private:
    int32_t finest_ = kFinestTicks;
    // levels_[level][voice]: two masks per bucket, the notes that are on and those off.
    std::vector<std::array<std::vector<KeyMask>, kVoices>> levels_;
};

class RollNotes {
   public:
    RollMode mode = RollMode::CurrentSettings;
    // Each voice's notes in order; a voice's notes never overlap.
    std::array<std::vector<RollNote>, kVoices> voices;
    std::vector<RollEvent> events;
    int32_t length = 0;  // the run's ticks
    int lowestKey = 0;   // the range of keys struck; 0..-1 when nothing is
    int highestKey = -1;
    // The notes stopped at kMaxRollNotes: the roll holds the run up to `length` only.
    bool truncated = false;
    // A voice modulates at random: every play and export draws its own transpositions, and
    // these notes are one draw of many.
    bool randomModulation = false;
    // The document's tuning: a tuned voice's keys are named with their degree and cents.
    std::shared_ptr<const TuningSettings> tuning;
    RollOverview overview;

    size_t count() const;
    bool empty() const { return count() == 0; }

    // Voice v's notes that sound somewhere in [from, to).
    std::span<const RollNote> notesIn(int v, int32_t from, int32_t to) const;
    // The note of voice v sounding at `date`, if any.
    const RollNote* noteAt(int v, int32_t date) const;
    // The topmost voice among `shown` with a note on `key` at `date`, as the roll draws
    // them: the notes of voices that are on over those that are off, and within each the
    // highest voice number last. -1 when none.
    int voiceAt(int32_t date, int key, const std::array<bool, kVoices>& shown) const;

    // The event that plays at `date` (the last of several that begin there).
    const RollEvent* eventAt(int32_t date) const;
    // The main form's counter at a date of the run.
    int32_t counterAt(int32_t date) const;
    // Where a player's position falls in the run: composition event `event` (ignored for
    // the current settings) at counter `counter`. None when it lies outside the run.
    std::optional<int32_t> dateOf(int event, int32_t counter) const;

    // The beat and bar lines in [from, to): beats of the time signature's denominator, bars
    // of its numerator, both counted from each event's beginning. Beat lines closer than
    // `minTicks` are left out, and then bars are thinned out to every 2nd, 4th, ... bar;
    // no line comes closer than `minTicks` to the one before.
    std::vector<GridLine> gridLines(int32_t from, int32_t to, double minTicks) const;

    // "Voice 3: E5 (key 64), counter 120, step 15", with the event in a composition and
    // the percussion instrument's name on a drum key. A tuned voice's key tells its scale
    // degree and how far it lies from its equal-tempered pitch: "E5 (key 64, degree 4,
    // +13.7 cents)", or that the map leaves it out and it is struck silently.
    std::string describe(int v, const RollNote& note, int32_t percussionChannel) const;
};

// The ticks of one beat for a time-signature denominator (a quarter note is 8 ticks); a
// denominator that is not a power of two up to 32 counts as 4.
int32_t beatTicks(int32_t denominator);

// Beyond this many notes (256 MB) a roll stops collecting.
inline constexpr size_t kMaxRollNotes = 16'000'000;

// Runs the export of the current settings or of the composition and collects its notes.
// In the current settings, the voices that are off are collected from a second run of
// their own and marked off. None when `cancel` turned true on the way.
std::optional<RollNotes> computeRollNotes(RollMode mode, const Settings& current, std::span<const Settings> events,
                                          int32_t percussionChannel = kDefaultPercussionChannel,
                                          const std::atomic<bool>* cancel = nullptr,
                                          size_t maxNotes = kMaxRollNotes,
                                          std::shared_ptr<const TuningSettings> tuning = nullptr);

}  // namespace tarrowin

#include "notes_model.h"

#include <algorithm>
#include <bit>
#include <cstdio>

#include "engine/retuning.h"
#include "engine/tables.h"

namespace tarrowin {

namespace {

constexpr size_t at(int v) { return static_cast<size_t>(v); }

// Turns the export's messages into notes: the voice a strike names owns the note off and
// the note on after it, and a note lasts until its voice's next note off or the end.
class RollSink final : public PerformanceSink, public PerformanceControl {
   public:
    RollSink(RollNotes& roll, bool off, const std::atomic<bool>* cancel, size_t maxNotes)
        : roll_(roll), off_(off), cancel_(cancel), room_(maxNotes - std::min(maxNotes, roll.count())) {
        open_.fill(kNone);
    }

    void eventBegins(int index, const GlobalSettings& global, int64_t date) override {
        if (!roll_.events.empty()) closeEvent(static_cast<int32_t>(date));
        RollEvent e;
        e.index = index;
        e.date = static_cast<int32_t>(date);
        e.global = global;
        roll_.events.push_back(e);
    }

    void voiceStrikes(int v, int32_t counter) override {
        voice_ = v;
        step_ = counter;
    }

    // A strike's note off ends the voice's previous note where its note on begins the next,
    // so only the note on is needed; the closing note offs of the export end at end().
    void message(int64_t date, const ShortMessage& m) override {
        if (voice_ < 0 || (m.status & 0xF0) != 0x90) return;
        const auto d = static_cast<int32_t>(date);
        std::vector<RollNote>& notes = roll_.voices[at(voice_)];
        size_t& open = open_[at(voice_)];
        if (open != kNone) notes[open].end = d;
        RollNote n;
        n.start = d;
        n.end = d;
        n.step = step_;
        n.slot = static_cast<uint16_t>(roll_.events.size() - 1);
        n.key = m.data1;
        n.channel = static_cast<uint8_t>(m.status & 0x0F);
        n.velocity = m.data2;
        n.off = off_ || m.data2 == 0;
        open = notes.size();
        notes.push_back(n);
        voice_ = -1;
        if (room_ > 0) --room_;
    }

    void end(int64_t date) override {
        const auto d = static_cast<int32_t>(date);
        if (!roll_.events.empty()) closeEvent(d);
        for (int v = 0; v < kVoices; ++v) {
            if (open_[at(v)] != kNone) roll_.voices[at(v)][open_[at(v)]].end = d;
            open_[at(v)] = kNone;
        }
        roll_.length = std::max(roll_.length, d);
    }

    bool playing() override {
        return room_ > 0 && (cancel_ == nullptr || !cancel_->load(std::memory_order_relaxed));
    }
    bool full() const { return room_ == 0; }

   private:
    static constexpr size_t kNone = SIZE_MAX;

    void closeEvent(int32_t date) {
        RollEvent& last = roll_.events.back();
        last.length = date - last.date;
    }

    RollNotes& roll_;
    const bool off_;
    const std::atomic<bool>* cancel_;
    size_t room_;  // notes that may still be collected
    std::array<size_t, kVoices> open_{};
    int voice_ = -1;
    int32_t step_ = 0;
};

// False when cancelled. A run that reaches the limit of notes stops there, and the roll
// holds it up to that point.
bool run(PerformanceMode mode, const Settings& current, std::span<const Settings> events, int32_t percussionChannel,
         RollNotes& roll, bool off, const std::atomic<bool>* cancel, size_t maxNotes) {
    RollSink sink(roll, off, cancel, maxNotes);
    PerformanceOptions options;
    options.mode = mode;
    options.percussionChannel = percussionChannel;
    // The keys as the voices strike them, with the keys a tuning leaves out silent: the roll
    // shows what sounds, whichever way a device is told the pitches.
    const Retuning::Planned tuning =
        roll.tuning ? Retuning::plan(*roll.tuning, TuningOutput::Device, options, current, events) : Retuning::Planned{};
    options.retuning = tuning.retuning.get();
    if (perform(options, current, events, sink, sink) == PerformanceEnd::Completed) return true;
    if (!sink.full()) return false;
    roll.truncated = true;
    return true;
}

// Puts the notes of a second run (the voices that are off) beside those of the first, up
// to its length.
void mergeVoices(RollNotes& into, RollNotes&& from, int32_t length) {
    for (int v = 0; v < kVoices; ++v) {
        std::vector<RollNote>& notes = from.voices[at(v)];
        if (notes.empty() || !into.voices[at(v)].empty()) continue;
        while (!notes.empty() && notes.back().start >= length) notes.pop_back();
        if (!notes.empty()) notes.back().end = std::min(notes.back().end, length);
        into.voices[at(v)] = std::move(notes);
    }
}

void findKeyRange(RollNotes& roll) {
    int low = 128;
    int high = -1;
    for (const auto& notes : roll.voices) {
        for (const RollNote& n : notes) {
            low = std::min<int>(low, n.key);
            high = std::max<int>(high, n.key);
        }
    }
    roll.lowestKey = high < 0 ? 0 : low;
    roll.highestKey = high;
}

}  // namespace

void RollOverview::build(const std::array<std::vector<RollNote>, kVoices>& voices, int32_t length) {
    levels_.clear();
    finest_ = kFinestTicks;
    while (length / finest_ >= kMaxBuckets) finest_ *= 4;
    int64_t buckets = (int64_t{length} + finest_ - 1) / finest_;
    auto& finest = levels_.emplace_back();
    for (int v = 0; v < kVoices; ++v) {
        std::vector<KeyMask>& masks = finest[at(v)];
        if (voices[at(v)].empty()) continue;
        masks.assign(static_cast<size_t>(buckets) * 2, KeyMask{});
        for (const RollNote& n : voices[at(v)]) {
            const int64_t last = std::min<int64_t>(buckets - 1, (n.end - 1) / finest_);
            for (int64_t b = n.start / finest_; b <= last; ++b) masks[static_cast<size_t>(b) * 2 + n.off].set(n.key);
        }
    }
    // Each coarser level joins four buckets of the one below, until a level has one bucket.
    while (buckets > 1) {
        const int64_t coarser = (buckets + 3) / 4;
        std::array<std::vector<KeyMask>, kVoices> level;
        for (int v = 0; v < kVoices; ++v) {
            const std::vector<KeyMask>& below = levels_.back()[at(v)];
            if (below.empty()) continue;
            std::vector<KeyMask>& masks = level[at(v)];
            masks.assign(static_cast<size_t>(coarser) * 2, KeyMask{});
            for (size_t i = 0; i < below.size(); ++i) masks[(i / 2) / 4 * 2 + i % 2] |= below[i];
        }
        levels_.push_back(std::move(level));
        buckets = coarser;
    }
}

int RollOverview::levelFor(double ticks) const {
    int level = -1;
    while (level + 1 < levels() && bucketTicks(level + 1) <= ticks) ++level;
    return level;
}

KeyMask RollOverview::keys(int v, int level, bool off, int64_t first, int64_t last) const {
    KeyMask keys;
    const std::vector<KeyMask>& masks = levels_[static_cast<size_t>(level)][at(v)];
    const int64_t buckets = static_cast<int64_t>(masks.size() / 2);
    for (int64_t b = std::max<int64_t>(0, first); b < std::min(last, buckets); ++b) {
        keys |= masks[static_cast<size_t>(b) * 2 + (off ? 1 : 0)];
    }
    return keys;
}

int32_t beatTicks(int32_t denominator) {
    if (denominator < 1 || denominator > 32 || !std::has_single_bit(static_cast<uint32_t>(denominator))) return 8;
    return 32 / denominator;
}

size_t RollNotes::count() const {
    size_t n = 0;
    for (const auto& notes : voices) n += notes.size();
    return n;
}

std::span<const RollNote> RollNotes::notesIn(int v, int32_t from, int32_t to) const {
    const std::vector<RollNote>& notes = voices[at(v)];
    // A voice's notes do not overlap, so their ends rise with their starts.
    const auto first = std::upper_bound(notes.begin(), notes.end(), from,
                                        [](int32_t t, const RollNote& n) { return t < n.end; });
    const auto last = std::lower_bound(first, notes.end(), to, [](const RollNote& n, int32_t t) { return n.start < t; });
    return {first, last};
}

const RollNote* RollNotes::noteAt(int v, int32_t date) const {
    const auto span = notesIn(v, date, date + 1);
    return span.empty() ? nullptr : &span.front();
}

int RollNotes::voiceAt(int32_t date, int key, const std::array<bool, kVoices>& shown) const {
    // The notes of voices that are on lie over those of voices that are off.
    for (const bool off : {false, true}) {
        for (int v = kVoices - 1; v >= 0; --v) {
            if (!shown[at(v)]) continue;
            const RollNote* n = noteAt(v, date);
            if (n != nullptr && n->key == key && n->off == off) return v;
        }
    }
    return -1;
}

const RollEvent* RollNotes::eventAt(int32_t date) const {
    const auto after = std::upper_bound(events.begin(), events.end(), date,
                                        [](int32_t t, const RollEvent& e) { return t < e.date; });
    return after == events.begin() ? nullptr : &*(after - 1);
}

int32_t RollNotes::counterAt(int32_t date) const {
    const RollEvent* e = eventAt(date);
    return e == nullptr ? date : e->global.startCounter + (date - e->date);
}

std::optional<int32_t> RollNotes::dateOf(int event, int32_t counter) const {
    for (const RollEvent& e : events) {
        if (mode == RollMode::Composition && e.index != event) continue;
        const int32_t offset = counter - e.global.startCounter;
        if (offset < 0 || offset > e.length) return std::nullopt;
        return e.date + offset;
    }
    return std::nullopt;
}

std::vector<GridLine> RollNotes::gridLines(int32_t from, int32_t to, double minTicks) const {
    std::vector<GridLine> lines;
    for (size_t i = 0; i < events.size(); ++i) {
        const RollEvent& e = events[i];
        const int32_t begin = std::max(from, e.date);
        const int32_t end = std::min(to, e.date + e.length);
        if (begin >= end) continue;
        const int32_t beat = beatTicks(e.global.timeSigDenominator);
        const int32_t beatsPerBar = std::max<int32_t>(1, e.global.timeSigNumerator);
        const bool showBeats = beat >= minTicks;
        int64_t barEvery = 1;  // bars drawn: every 1st, 2nd, 4th, ...
        while (static_cast<double>(beat) * beatsPerBar * static_cast<double>(barEvery) < minTicks) barEvery *= 2;
        const int64_t barTicks = int64_t{beat} * beatsPerBar;
        // The first beat at or after `begin`, on the event's own grid.
        int64_t t = e.date + (std::max<int64_t>(0, begin - e.date) + beat - 1) / beat * beat;
        for (; t < end; t += beat) {
            const int64_t sinceStart = t - e.date;
            const bool bar = sinceStart % barTicks == 0;
            if (bar ? (sinceStart / barTicks) % barEvery != 0 : !showBeats) continue;
            // Short events each begin a bar: too close to the line before, it is left out.
            if (!lines.empty() && static_cast<double>(t - lines.back().date) < minTicks) continue;
            lines.push_back({static_cast<int32_t>(t), bar, e.global.startCounter + static_cast<int32_t>(sinceStart)});
            if (!showBeats) t += barTicks * barEvery - beat;  // jump to the next bar shown
        }
    }
    return lines;
}

std::string RollNotes::describe(int v, const RollNote& note, int32_t percussionChannel) const {
    std::string name;
    const int drum = note.key - kPercussionKeyBase;
    if (note.channel == (percussionChannel & 0x0F) && drum >= 0 && drum < kPercussionKeys) {
        name = std::string(kPercussionLabels[static_cast<size_t>(drum)]);
    } else {
        name = noteName(note.key);
    }
    std::string key = "key " + std::to_string(note.key);
    bool silentKey = false;
    const bool tuned = tuning && tuning->retunes() && tuning->tuned[static_cast<size_t>(v)] &&
                       note.channel != (percussionChannel & 0x0F);
    if (tuned) {
        const Tuning& t = tuning->tuning;
        if (!t.key(note.key).mapped) {
            key += ", not in the tuning's map: silent";
            silentKey = true;
        } else if (const std::optional<int> degree = t.degreeInPeriod(note.key)) {
            char cents[32];
            std::snprintf(cents, sizeof cents, "%+.1f cents", t.deviationCents(note.key));
            key += ", degree " + std::to_string(*degree) + ", " + cents;
        }
    }
    std::string text = "Voice " + std::to_string(v + 1) + ": " + name + " (" + key + "), counter " +
                       std::to_string(counterAt(note.start)) + ", step " + std::to_string(note.step);
    if (mode == RollMode::Composition) text += ", event " + std::to_string(events[note.slot].index);
    if (note.off && !silentKey) text += " (voice off)";
    return text;
}

std::optional<RollNotes> computeRollNotes(RollMode mode, const Settings& current, std::span<const Settings> events,
                                          int32_t percussionChannel, const std::atomic<bool>* cancel, size_t maxNotes,
                                          std::shared_ptr<const TuningSettings> tuning) {
    RollNotes roll;
    roll.mode = mode;
    roll.tuning = std::move(tuning);
    if (mode == RollMode::Composition) {
        if (!run(PerformanceMode::ExportComposition, current, events, percussionChannel, roll, false, cancel, maxNotes)) {
            return std::nullopt;
        }
    } else {
        if (!run(PerformanceMode::ExportCurrent, current, {}, percussionChannel, roll, false, cancel, maxNotes)) {
            return std::nullopt;
        }
        // The export leaves the voices that are off out; the roll shows them faint with
        // what they would play when switched on.
        Settings offVoices = current;
        bool anyOff = false;
        for (VoiceSettings& voice : offVoices.voices) {
            voice.enabled = voice.enabled != 0 ? 0 : 1;
            anyOff = anyOff || voice.enabled != 0;
        }
        if (anyOff && !roll.truncated) {
            RollNotes off;
            off.tuning = roll.tuning;
            if (!run(PerformanceMode::ExportCurrent, offVoices, {}, percussionChannel, off, true, cancel,
                     maxNotes - roll.count())) {
                return std::nullopt;
            }
            // The voices that are off are shown as far as the voices that are on reach.
            mergeVoices(roll, std::move(off), roll.length);
        }
    }
    const auto random = [](const Settings& e) {
        return std::any_of(e.voices.begin(), e.voices.end(),
                           [](const VoiceSettings& v) { return v.modulate != 0 && v.modulateMode == 1; });
    };
    roll.randomModulation = mode == RollMode::Composition ? std::any_of(events.begin(), events.end(), random)
                                                          : random(current);
    findKeyRange(roll);
    roll.overview.build(roll.voices, roll.length);
    return roll;
}

}  // namespace tarrowin

#include "tempo_map.h"

#include <algorithm>
#include <cmath>

namespace tarrowin {

namespace {
constexpr int64_t kEndless = INT64_MAX;
}

TempoMap TempoMap::ofCurrent(const GlobalSettings& g, bool toEnd) {
    const int64_t ticks = toEnd ? std::max<int64_t>(0, int64_t{g.endCounter} - g.startCounter) : kEndless;
    return TempoMap({{ticks, g.tempo, g.timeSigNumerator, g.timeSigDenominator}});
}

TempoMap TempoMap::ofEvents(const std::vector<Settings>& events, int first) {
    std::vector<Part> parts;
    for (size_t i = static_cast<size_t>(std::max(first, 0)); i < events.size(); ++i) {
        const GlobalSettings& g = events[i].global;
        parts.push_back({std::max<int64_t>(0, int64_t{g.endCounter} - g.startCounter), g.tempo, g.timeSigNumerator,
                         g.timeSigDenominator});
    }
    return TempoMap(std::move(parts));
}

int64_t TempoMap::length() const {
    int64_t total = 0;
    for (const Part& p : parts_) {
        if (p.ticks == kEndless) return kEndless;
        total += p.ticks;
    }
    return total;
}

double TempoMap::framesPerTick(int32_t tempo, double rate, bool wholeMilliseconds) const {
    tempo = std::max(1, tempo);
    if (wholeMilliseconds) return tickLengthMs(tempo) * rate / 1000.0;
    return rate * 60.0 / (double(tempo) * kTicksPerBeat);
}

double TempoMap::frameOfTick(double tick, double rate, bool wholeMilliseconds) const {
    if (const TempoChange* c = changeAtTick(tick)) {
        return c->frame + (tick - c->tick) * framesPerTick(c->tempo, rate, wholeMilliseconds);
    }
    double frame = 0;
    for (size_t i = 0; i < parts_.size(); ++i) {
        const Part& p = parts_[i];
        const double perTick = framesPerTick(p.tempo, rate, wholeMilliseconds);
        if (i + 1 == parts_.size() || tick < double(p.ticks)) return frame + tick * perTick;
        frame += double(p.ticks) * perTick;
        tick -= double(p.ticks);
    }
    return frame;
}

double TempoMap::tickAtFrame(double frame, double rate, bool wholeMilliseconds) const {
    if (const TempoChange* c = changeAtFrame(frame)) {
        return c->tick + (frame - c->frame) / framesPerTick(c->tempo, rate, wholeMilliseconds);
    }
    double tick = 0;
    for (size_t i = 0; i < parts_.size(); ++i) {
        const Part& p = parts_[i];
        const double perTick = framesPerTick(p.tempo, rate, wholeMilliseconds);
        const double span = double(p.ticks) * perTick;
        if (i + 1 == parts_.size() || frame < span) return tick + frame / perTick;
        tick += double(p.ticks);
        frame -= span;
    }
    return tick;
}

TempoChange TempoMap::changeTempo(double tick, int32_t tempo, double rate, bool wholeMilliseconds) {
    const TempoChange change{tick, frameOfTick(tick, rate, wholeMilliseconds), tempo};
    take(change);
    return change;
}

void TempoMap::take(const TempoChange& change) {
    while (changeCount_ > 0 && changes_[changeCount_ - 1].tick >= change.tick) --changeCount_;
    if (changeCount_ == kChanges) {
        std::move(changes_.begin() + 1, changes_.end(), changes_.begin());
        --changeCount_;
    }
    changes_[changeCount_++] = change;
}

const TempoChange* TempoMap::changeAtTick(double tick) const {
    for (size_t i = changeCount_; i-- > 0;) {
        if (changes_[i].tick <= tick) return &changes_[i];
    }
    return nullptr;
}

const TempoChange* TempoMap::changeAtFrame(double frame) const {
    for (size_t i = changeCount_; i-- > 0;) {
        if (changes_[i].frame <= frame) return &changes_[i];
    }
    return nullptr;
}

BarBeat TempoMap::barBeatAt(double frame, double rate) const {
    BarBeat at;
    // The bars are counted in ticks, so that a change of tempo moves on from where it was.
    double tick = std::max(0.0, tickAtFrame(frame, rate, false));
    double barsBefore = 0;       // whole bars of the parts before this one
    double bbtTicksBefore = 0;   // and their BBT ticks
    for (size_t i = 0; i < parts_.size(); ++i) {
        const Part& p = parts_[i];
        const int32_t beatsPerBar = std::max<int32_t>(1, p.numerator);
        if (i + 1 < parts_.size() && tick >= double(p.ticks)) {
            const double beats = double(p.ticks) / kTicksPerBeat;
            const double bars = std::ceil(beats / beatsPerBar);  // a part ends its last bar
            barsBefore += bars;
            bbtTicksBefore += bars * beatsPerBar * kBbtTicksPerBeat;
            tick -= double(p.ticks);
            continue;
        }
        const double beats = tick / kTicksPerBeat;
        const auto barInPart = static_cast<int64_t>(std::floor(beats / beatsPerBar));
        const double beatInBar = beats - double(barInPart) * beatsPerBar;
        at.bar = static_cast<int32_t>(barsBefore + double(barInPart) + 1);
        at.beat = static_cast<int32_t>(std::floor(beatInBar)) + 1;
        at.tick = std::min(static_cast<int32_t>(kBbtTicksPerBeat) - 1,
                           static_cast<int32_t>((beatInBar - std::floor(beatInBar)) * kBbtTicksPerBeat));
        at.barStartTick = bbtTicksBefore + double(barInPart) * beatsPerBar * kBbtTicksPerBeat;
        at.ticksPerBeat = kBbtTicksPerBeat;
        const TempoChange* change = changeAtFrame(frame);
        at.beatsPerMinute = change != nullptr ? change->tempo : p.tempo;
        at.beatsPerBar = beatsPerBar;
        at.beatType = std::max<int32_t>(1, p.denominator);
        return at;
    }
    return at;
}

double tickOfBarBeat(const BarBeat& p) {
    const double perBeat = p.ticksPerBeat > 0 ? p.ticksPerBeat : kBbtTicksPerBeat;
    const double barBeats = p.bar > 1 && p.barStartTick > 0 ? p.barStartTick / perBeat
                                                             : double(p.bar - 1) * std::max(1, p.beatsPerBar);
    return (barBeats + double(p.beat - 1) + double(p.tick) / perBeat) * kTicksPerBeat;
}

}  // namespace tarrowin

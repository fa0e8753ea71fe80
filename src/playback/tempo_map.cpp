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

double TempoMap::framesPerTick(const Part& p, double rate, bool wholeMilliseconds) const {
    const int32_t tempo = std::max(1, p.tempo);
    if (wholeMilliseconds) return tickLengthMs(tempo) * rate / 1000.0;
    return rate * 60.0 / (double(tempo) * kTicksPerBeat);
}

double TempoMap::frameOfTick(double tick, double rate, bool wholeMilliseconds) const {
    double frame = 0;
    for (size_t i = 0; i < parts_.size(); ++i) {
        const Part& p = parts_[i];
        const bool last = i + 1 == parts_.size();
        if (last || tick < double(p.ticks)) return frame + tick * framesPerTick(p, rate, wholeMilliseconds);
        frame += double(p.ticks) * framesPerTick(p, rate, wholeMilliseconds);
        tick -= double(p.ticks);
    }
    return frame;
}

double TempoMap::tickAtFrame(double frame, double rate, bool wholeMilliseconds) const {
    double tick = 0;
    for (size_t i = 0; i < parts_.size(); ++i) {
        const Part& p = parts_[i];
        const double perTick = framesPerTick(p, rate, wholeMilliseconds);
        const double span = double(p.ticks) * perTick;
        if (i + 1 == parts_.size() || frame < span) return tick + frame / perTick;
        tick += double(p.ticks);
        frame -= span;
    }
    return tick;
}

BarBeat TempoMap::barBeatAt(double frame, double rate) const {
    BarBeat at;
    double barsBefore = 0;       // whole bars of the parts before this one
    double bbtTicksBefore = 0;   // and their BBT ticks
    for (size_t i = 0; i < parts_.size(); ++i) {
        const Part& p = parts_[i];
        const double perTick = framesPerTick(p, rate, false);
        const double span = double(p.ticks) * perTick;
        const int32_t beatsPerBar = std::max<int32_t>(1, p.numerator);
        if (i + 1 < parts_.size() && frame >= span) {
            const double beats = double(p.ticks) / kTicksPerBeat;
            const double bars = std::ceil(beats / beatsPerBar);  // a part ends its last bar
            barsBefore += bars;
            bbtTicksBefore += bars * beatsPerBar * kBbtTicksPerBeat;
            frame -= span;
            continue;
        }
        const double beats = std::max(0.0, frame / perTick / kTicksPerBeat);
        const auto barInPart = static_cast<int64_t>(std::floor(beats / beatsPerBar));
        const double beatInBar = beats - double(barInPart) * beatsPerBar;
        at.bar = static_cast<int32_t>(barsBefore + double(barInPart) + 1);
        at.beat = static_cast<int32_t>(std::floor(beatInBar)) + 1;
        at.tick = std::min(static_cast<int32_t>(kBbtTicksPerBeat) - 1,
                           static_cast<int32_t>((beatInBar - std::floor(beatInBar)) * kBbtTicksPerBeat));
        at.barStartTick = bbtTicksBefore + double(barInPart) * beatsPerBar * kBbtTicksPerBeat;
        at.ticksPerBeat = kBbtTicksPerBeat;
        at.beatsPerMinute = p.tempo;
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

#include "tick_source.h"

#include <array>
#include <utility>

#include "jack_sync.h"
#include "midi_clock.h"

namespace tarrowin {

namespace {
constexpr std::array<std::pair<SyncMode, const char*>, 4> kModeNames = {{
    {SyncMode::Internal, "internal"},
    {SyncMode::FollowJack, "jack"},
    {SyncMode::JackMaster, "master"},
    {SyncMode::MidiClock, "clock"},
}};
}  // namespace

const char* syncModeName(SyncMode mode) {
    for (const auto& [m, name] : kModeNames) {
        if (m == mode) return name;
    }
    return "internal";
}

std::optional<SyncMode> syncModeNamed(const std::string& name) {
    for (const auto& [m, n] : kModeNames) {
        if (name == n) return m;
    }
    return std::nullopt;
}

TickTime InternalTickSource::start(const std::atomic<int32_t>&, Clock::Duration) {
    at_ = clock_.now();
    return TickTime::move(0, at_);
}

TickTime InternalTickSource::next(int64_t, int32_t lengthMs, const std::atomic<int32_t>&, Clock::Duration lead) {
    at_ += std::chrono::milliseconds(lengthMs);
    clock_.sleepUntil(at_ - lead);
    return TickTime::due(at_);
}

}  // namespace tarrowin

namespace tarrowin {

TickSourceMade makeTickSource(const SyncOptions& options, Clock& clock, const TempoMap& map) {
    switch (options.mode) {
        case SyncMode::Internal: break;
        case SyncMode::FollowJack:
        case SyncMode::JackMaster: return makeJackTransportSource(options, clock, map);
        case SyncMode::MidiClock: return makeMidiClockSource(options, clock);
    }
    return {std::make_unique<InternalTickSource>(clock), {}};
}

}  // namespace tarrowin

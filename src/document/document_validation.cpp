#include "document_validation.h"

#include <charconv>
#include <cmath>

#include "document.h"
#include "engine/tables.h"

namespace tarrowin {

namespace {

template <class R, int32_t R::*M>
int32_t get32(const R& r) {
    return r.*M;
}
template <class R, int32_t R::*M>
void set32(R& r, int32_t value) {
    r.*M = value;
}
template <class R, int32_t R::*M>
constexpr IntRule<R> int32Rule(std::string_view name, int32_t min, int32_t max) {
    return {name, min, max, &get32<R, M>, &set32<R, M>};
}

// The 16-bit fields: callers check the range before they store, so the narrowing keeps the value.
template <class R, int16_t R::*M>
int32_t get16(const R& r) {
    return r.*M;
}
template <class R, int16_t R::*M>
void set16(R& r, int32_t value) {
    r.*M = static_cast<int16_t>(value);
}
template <class R, int16_t R::*M>
constexpr IntRule<R> int16Rule(std::string_view name, int32_t min, int32_t max) {
    return {name, min, max, &get16<R, M>, &set16<R, M>};
}

int32_t getAlgorithm(const VoiceSettings& v) { return static_cast<int32_t>(v.algorithm); }
void setAlgorithm(VoiceSettings& v, int32_t value) { v.algorithm = static_cast<Algorithm>(value); }

constexpr float kAnyFloat = std::numeric_limits<float>::infinity();

using G = GlobalSettings;
using V = VoiceSettings;

}  // namespace

const std::array<IntRule<GlobalSettings>, 5> kGlobalRules = {
    int32Rule<G, &G::tempo>("tempo", kTempoRange.min, kTempoRange.max),
    int32Rule<G, &G::startCounter>("startCounter", 0, kMaxStoredCounter),
    int32Rule<G, &G::endCounter>("endCounter", 0, kMaxStoredCounter),
    int16Rule<G, &G::timeSigNumerator>("timeSigNumerator", 1, 32),
    int16Rule<G, &G::timeSigDenominator>("timeSigDenominator", 1, std::numeric_limits<int16_t>::max()),
};

const std::array<IntRule<VoiceSettings>, 22> kVoiceIntRules = {
    int32Rule<V, &V::enabled>("enabled", 0, 1),
    IntRule<V>{"algorithm", 0, kAlgorithms - 1, &getAlgorithm, &setAlgorithm},
    int32Rule<V, &V::param1>("param1", kParam1Range.min, kParam1Range.max),
    int32Rule<V, &V::param2>("param2", kParam2Range.min, kParam2Range.max),
    int32Rule<V, &V::offset>("offset", kOffsetRange.min, kOffsetRange.max),
    int32Rule<V, &V::modulate>("modulate", 0, 1),
    int32Rule<V, &V::modulateMode>("modulateMode", 0, 1),
    int32Rule<V, &V::modulateEvery>("modulateEvery", 1, 50),
    int32Rule<V, &V::scaleIndex>("scaleIndex", 0, kScaleRows - 1),
    int32Rule<V, &V::octaves>("octaves", 1, 4),
    int32Rule<V, &V::octavesIndex>("octavesIndex", 0, 3),
    int32Rule<V, &V::startNote>("startNote", 0, kStartNotes - 1),
    int32Rule<V, &V::noteValueIndex>("noteValueIndex", 0, kNoteValueRows - 1),
    int32Rule<V, &V::instrument>("instrument", 0, kInstruments - 1),
    int32Rule<V, &V::channel>("channel", 0, 15),
    int32Rule<V, &V::tied>("tied", 0, 1),
    int32Rule<V, &V::inverted>("inverted", 0, 1),
    int32Rule<V, &V::matchScale>("matchScale", 0, 1),
    int32Rule<V, &V::dynamicIndex>("dynamicIndex", 0, kDynamics - 1),
    int32Rule<V, &V::velocity>("velocity", 0, 127),
    int32Rule<V, &V::pan>("pan", kPanRange.min, kPanRange.max),
    int32Rule<V, &V::percussionKey>("percussionKey", 0, kPercussionKeys - 1),
};

const std::array<FloatRule, 10> kVoiceFloatRules = {{
    {"noteValue", 1.0f, static_cast<float>(kMaxNoteTicks), &V::noteValue},
    {"logisticMu", -kAnyFloat, kAnyFloat, &V::logisticMu},
    {"noiseCoefficient", -kAnyFloat, kAnyFloat, &V::noiseCoefficient},
    {"henonA", -kAnyFloat, kAnyFloat, &V::henonA},
    {"henonB", -kAnyFloat, kAnyFloat, &V::henonB},
    {"hopalongAngle", -kAnyFloat, kAnyFloat, &V::hopalongAngle},
    {"martinAngle", -kAnyFloat, kAnyFloat, &V::martinAngle},
    {"gingerX0", -kAnyFloat, kAnyFloat, &V::gingerX0},
    {"gingerY0", -kAnyFloat, kAnyFloat, &V::gingerY0},
    {"lorenzCoefficient", -kAnyFloat, kAnyFloat, &V::lorenzCoefficient},
}};

const std::array<ListRule, 2> kVoiceListRules = {{
    {"scale", &V::scale},
    {"userScale", &V::userScale},
}};

std::string ValueLocation::describe() const {
    std::string text = event < 0 ? "Current settings" : "Event " + std::to_string(event);
    if (voice >= 0) text += ", voice " + std::to_string(voice + 1);
    return text;
}

std::optional<float> nearestFloat(double value) {
    constexpr double kMax = std::numeric_limits<float>::max();
    // From half a unit in the last place above the largest float on, a value rounds to
    // infinity (the tie too, as infinity is the even neighbour).
    constexpr double kRoundsToInfinity = kMax + 0x1p103;
    if (!std::isfinite(value) || std::fabs(value) >= kRoundsToInfinity) return std::nullopt;
    if (std::fabs(value) > kMax) return static_cast<float>(std::copysign(kMax, value));
    return static_cast<float>(value);
}

std::string formatFloat(float value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? std::string(buffer, end) : std::string("?");
}

std::string formatNumber(double value) {
    if (std::isfinite(value) && std::fabs(value) <= std::numeric_limits<float>::max()) {
        return formatFloat(static_cast<float>(value));
    }
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[40];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc{} ? std::string(buffer, end) : std::string("?");
}

template <class Record>
std::string checkInt(const IntRule<Record>& rule, int64_t value, const ValueLocation& where) {
    if (value >= rule.min && value <= rule.max) return {};
    return where.describe() + ": " + std::string(rule.name) + " is " + std::to_string(value) + ", outside " +
           std::to_string(rule.min) + ".." + std::to_string(rule.max);
}
template std::string checkInt(const IntRule<GlobalSettings>&, int64_t, const ValueLocation&);
template std::string checkInt(const IntRule<VoiceSettings>&, int64_t, const ValueLocation&);

std::string checkFloat(const FloatRule& rule, double value, const ValueLocation& where) {
    // The rule holds for the float that is stored; a number that would be stored as an
    // infinity is not finite.
    const std::optional<float> stored = nearestFloat(value);
    if (stored && *stored >= rule.min && *stored <= rule.max) return {};
    const std::string prefix = where.describe() + ": " + std::string(rule.name) + " is " + formatNumber(value);
    if (!stored) return prefix + ", not a finite number";
    return prefix + ", outside " + formatFloat(rule.min) + ".." + formatFloat(rule.max);
}

std::string checkListCount(std::string_view list, int64_t count, const ValueLocation& where) {
    if (count >= kMinListCount && count <= kMaxListCount) return {};
    return where.describe() + ": " + std::string(list) + " has " + std::to_string(count) + " values, outside " +
           std::to_string(kMinListCount) + ".." + std::to_string(kMaxListCount);
}

std::string checkListValue(std::string_view list, int64_t value, const ValueLocation& where) {
    if (value >= kMinListValue && value <= kMaxListValue) return {};
    return where.describe() + ": " + std::string(list) + " holds " + std::to_string(value) + ", outside " +
           std::to_string(kMinListValue) + ".." + std::to_string(kMaxListValue);
}

FileResult validateSettings(const Settings& settings, int event) {
    for (const auto& rule : kGlobalRules) {
        if (auto m = checkInt(rule, rule.get(settings.global), {event, -1}); !m.empty()) return FileResult::failure(m);
    }
    for (int v = 0; v < kVoices; ++v) {
        const VoiceSettings& voice = settings.voices[static_cast<size_t>(v)];
        const ValueLocation where{event, v};
        for (const auto& rule : kVoiceIntRules) {
            if (auto m = checkInt(rule, rule.get(voice), where); !m.empty()) return FileResult::failure(m);
        }
        for (const auto& rule : kVoiceFloatRules) {
            if (auto m = checkFloat(rule, voice.*rule.member, where); !m.empty()) return FileResult::failure(m);
        }
        for (const auto& rule : kVoiceListRules) {
            const ScaleList& list = voice.*rule.member;
            if (auto m = checkListCount(rule.name, list.count, where); !m.empty()) return FileResult::failure(m);
            for (int i = 0; i < list.count; ++i) {
                if (auto m = checkListValue(rule.name, list[i], where); !m.empty()) return FileResult::failure(m);
            }
        }
    }
    return {};
}

FileResult validateDocument(const Settings& current, std::span<const Settings> events) {
    if (events.size() > static_cast<size_t>(kMaxEvents)) {
        return FileResult::failure("The composition holds " + std::to_string(events.size()) +
                                   " events; at most " + std::to_string(kMaxEvents) + " are allowed");
    }
    if (auto r = validateSettings(current, -1); !r.ok) return r;
    for (size_t i = 0; i < events.size(); ++i) {
        if (auto r = validateSettings(events[i], static_cast<int>(i)); !r.ok) return r;
    }
    return {};
}

FileResult validateDocument(const CTarrowinDoc& doc) {
    return validateDocument(doc.current(), doc.composition().events());
}

}  // namespace tarrowin

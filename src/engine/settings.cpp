#include "settings.h"

#include <algorithm>
#include <cmath>

#include "tables.h"

namespace tarrowin {

ScaleList::ScaleList(std::initializer_list<int32_t> notes) {
    for (int32_t n : notes) {
        if (count < kMaxScaleNotes) push(n);
    }
}

bool ScaleList::operator==(const ScaleList& other) const {
    if (count != other.count) return false;
    const int n = std::clamp(count, 0, kMaxScaleNotes);
    return std::equal(values.begin(), values.begin() + n, other.values.begin());
}

VoiceSettings VoiceSettings::defaults(int v) {
    VoiceSettings s;
    s.enabled = v == 0 ? 1 : 0;
    s.channel = v;
    s.userScale = scaleIntervals(0);
    s.scale = scaleIntervals(0);
    return s;
}

void VoiceSettings::rebuildScale() { scale = buildScaleList(scaleIndex, userScale, inverted != 0, matchScale != 0); }

void VoiceSettings::setScaleIndex(int32_t index) {
    scaleIndex = index;
    rebuildScale();
}

void VoiceSettings::setInversion(bool isInverted, bool isMatchScale) {
    inverted = isInverted ? 1 : 0;
    matchScale = isMatchScale ? 1 : 0;
    rebuildScale();
}

void VoiceSettings::setUserScale(const ScaleList& list) {
    userScale = list;
    rebuildScale();
}

void VoiceSettings::setDynamic(int32_t index) {
    dynamicIndex = index;
    velocity = velocityOf(index);
}

void VoiceSettings::setNoteValue(int32_t index, float ticks) {
    noteValueIndex = index;
    noteValue = index >= 0 && index < kOtherNoteValue ? static_cast<float>(noteValueTicks(index)) : ticks;
}

void VoiceSettings::setOctaves(int32_t index) {
    octavesIndex = index;
    octaves = index + 1;
}

void VoiceSettings::setAlgorithm(Algorithm a) { algorithm = a; }

void Settings::resetToDefaults() {
    global = GlobalSettings{};
    for (int v = 0; v < kVoices; ++v) voices[static_cast<size_t>(v)] = VoiceSettings::defaults(v);
}

Settings Settings::defaults() {
    Settings s;
    s.resetToDefaults();
    return s;
}

int32_t tickLengthMs(int32_t tempo) { return 60000 / (std::max(tempo, 1) * 8); }

int32_t noteTicks(float noteValue) {
    if (!(noteValue >= 1.0f)) return 1;  // also catches NaN
    if (noteValue >= 2147483520.0f) return 2147483520;
    return static_cast<int32_t>(noteValue);
}

}  // namespace tarrowin

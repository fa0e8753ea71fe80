#include "note_engine.h"

#include <algorithm>

namespace tarrowin {

NoteEngine::NoteEngine() { ticks_.fill(1); }

NoteEngine::NoteEngine(const VoiceArray& voices) { setVoices(voices); }

void NoteEngine::setVoices(const VoiceArray& voices) {
    for (int v = 0; v < kVoices; ++v) {
        const auto i = static_cast<size_t>(v);
        voices_[i] = playableVoice(voices[i]);
        ticks_[i] = noteTicks(voices_[i].noteValue);
    }
}

bool NoteEngine::isDue(int v, int64_t t) const {
    const int64_t nv = noteLength(v);
    const int64_t I = t + static_cast<int64_t>(voice(v).offset) * nv;
    return I >= 0 && I % nv == 0;
}

int32_t NoteEngine::counterAt(int v, int64_t t) const {
    const int64_t nv = noteLength(v);
    return static_cast<int32_t>((t + static_cast<int64_t>(voice(v).offset) * nv) / nv);
}

void NoteEngine::resetVoice(int v) { resetGeneratorState(state_, v, voice(v).algorithm, voice(v)); }

std::optional<int32_t> NoteEngine::warmUpVoice(int v, int64_t start) {
    const int64_t steps = warmUpSteps(v, start);
    if (steps == 0) return std::nullopt;
    const VoiceSettings& s = voice(v);
    // Only the last step's note is wanted: the others just advance the state.
    skipSteps(state_, v, s.offset, steps - 1, s);
    return nextNote(state_, v, static_cast<int32_t>(s.offset + steps - 1), s);
}

NoteEngine::DueStep NoteEngine::nextDue(int v, int64_t t) const {
    const int64_t nv = noteLength(v);
    const int64_t X = static_cast<int64_t>(voice(v).offset) * nv;
    const int64_t I = std::max<int64_t>(t + X, 0);
    const int64_t counter = (I + nv - 1) / nv;
    return DueStep{counter * nv - X, static_cast<int32_t>(counter)};
}

int64_t NoteEngine::warmUpSteps(int v, int64_t start) const {
    // The warm-up visits the ticks F = X .. start + 2X - 1 (X = offset * nv) and steps the
    // generator at every multiple of nv, with counter F / nv. X itself is a multiple, so
    // the steps are the counters offset, offset + 1, ... : ceil((start + X) / nv) of them.
    const int64_t nv = noteLength(v);
    const int64_t L = start + static_cast<int64_t>(voice(v).offset) * nv;
    return L <= 0 ? 0 : (L + nv - 1) / nv;
}

void NoteEngine::warmUpVoices(const std::array<bool, kVoices>& which, int64_t start) {
    std::array<SkipRequest, kVoices> requests;
    size_t n = 0;
    for (int v = 0; v < kVoices; ++v) {
        if (!which[static_cast<size_t>(v)]) continue;
        resetVoice(v);
        requests[n++] = SkipRequest{v, voice(v).offset, warmUpSteps(v, start), &voice(v)};
    }
    skipStepsTogether(state_, std::span<const SkipRequest>(requests.data(), n));
}

void NoteEngine::prepareRun(int64_t start) {
    clearCountdowns(state_);
    std::array<bool, kVoices> all;
    all.fill(true);
    warmUpVoices(all, start);
}

std::optional<int32_t> NoteEngine::evaluate(int v, int64_t t) {
    if (!isDue(v, t)) return std::nullopt;
    return nextNote(state_, v, counterAt(v, t), voice(v));
}

bool sameLine(const VoiceSettings& a, const VoiceSettings& b) {
    const auto line = [](VoiceSettings v) {
        v.enabled = v.instrument = v.channel = v.tied = v.dynamicIndex = v.velocity = v.pan = v.percussionKey = 0;
        v.scaleIndex = v.matchScale = 0;
        v.userScale = ScaleList{};
        return v;
    };
    return line(a) == line(b);
}

int32_t foldKey(int32_t pitch) {
    if (pitch > 127) return 127 - 11 + (pitch - 116) % 12;
    if (pitch < 0) return (pitch % 12 + 12) % 12;
    return pitch;
}

SoundingDecision soundingDecision(VoiceCursor& cursor, int32_t pitch, const VoiceSettings& voice, bool voiceOn,
                                  int32_t percussionChannel, const SoundingRule& rule) {
    SoundingDecision decision;
    const bool followsTies = voiceOn || !rule.strikeDisabledVoices;
    if (followsTies && cursor.lastNote == pitch) return decision;

    const int32_t velocity = voiceOn ? voice.velocity : 0;
    if (cursor.lastKey) {
        decision.noteOff = NoteMessage{cursor.keyChannel, *cursor.lastKey, rule.zeroOffVelocity ? 0 : velocity};
    }
    const int32_t key = voice.channel == percussionChannel ? voice.percussionKey + 35 : pitch;
    decision.noteOn = NoteMessage{voice.channel, foldKey(key), velocity};

    cursor.lastNote = voice.tied == 1 && followsTies ? std::optional<int32_t>(pitch) : std::nullopt;
    cursor.lastKey = decision.noteOn->key;
    cursor.keyChannel = voice.channel;
    return decision;
}

}  // namespace tarrowin

#pragma once
// The note grid of a run: at which ticks each voice plays and with which counter, the
// warm-up that makes a voice's notes independent of the tick a run starts from, and the
// sounding decision that turns a voice's pitches into note offs and note ons.

#include <array>
#include <cstdint>
#include <optional>

#include "generators.h"
#include "settings.h"

namespace tarrowin {

// One run's view of the 16 voices: a snapshot of their settings and the generator state
// it advances. Composition runs load each event's voices into the same engine.
class NoteEngine {
   public:
    NoteEngine();
    explicit NoteEngine(const VoiceArray& voices);

    // Takes a new snapshot of the voices; the generator state is kept.
    void setVoices(const VoiceArray& voices);
    const VoiceSettings& voice(int v) const { return voices_[static_cast<size_t>(v)]; }

    // nv: the voice's note value in whole ticks (at least 1).
    int32_t noteLength(int v) const { return ticks_[static_cast<size_t>(v)]; }
    // The voice plays at tick t when I = t + offset * nv is a non-negative multiple of nv;
    // its counter there is I / nv.
    bool isDue(int v, int64_t t) const;
    int32_t counterAt(int v, int64_t t) const;

    // clearCountdowns, then resetVoice and warmUpVoice for every voice.
    void prepareRun(int64_t start);
    // The per-voice part of prepareRun.
    void resetVoice(int v);
    // Takes the generator steps that a run starting at `start` takes before its first tick
    // and returns the pitch of the last of them (none when there is no warm-up). Steps
    // straight over the due counters instead of testing every tick.
    std::optional<int32_t> warmUpVoice(int v, int64_t start);
    // resetVoice and warmUpVoice for the voices in `which`, their generators advanced side
    // by side (which a processor runs in parallel). The notes are not wanted.
    void warmUpVoices(const std::array<bool, kVoices>& which, int64_t start);
    // The number of generator steps the warm-up of voice v takes before tick `start`.
    int64_t warmUpSteps(int v, int64_t start) const;

    // The voice's pitch at tick t when it is due there; otherwise nothing, and no state
    // changes.
    std::optional<int32_t> evaluate(int v, int64_t t);

    // The first tick at or after t at which voice v is due, and its counter there. The
    // voice is next due noteLength(v) ticks later with the counter one higher, so a run can
    // follow the grid without testing every voice at every tick.
    struct DueStep {
        int64_t tick = 0;
        int32_t counter = 0;
    };
    DueStep nextDue(int v, int64_t t) const;
    // The pitch of voice v's step with counter k (what evaluate gives where k is due).
    int32_t step(int v, int32_t k) { return nextNote(state_, v, k, voice(v)); }

    GeneratorState& state() { return state_; }
    const GeneratorState& state() const { return state_; }

   private:
    VoiceArray voices_{};
    std::array<int32_t, kVoices> ticks_{};
    GeneratorState state_;
};

// Whether two settings of a voice play the same pitches on the same grid: they differ at
// most in what is sent with the pitches (switch, channel, instrument, pan, dynamic, tie mode,
// percussion key) and in the choices the scale was built from.
bool sameLine(const VoiceSettings& a, const VoiceSettings& b);

// The sounding state of one voice during a run.
struct VoiceCursor {
    std::optional<int32_t> lastNote;  // the pitch held by a tie; none: strike the next note
    std::optional<int32_t> lastKey;   // the key sounding now; none before the first strike
    int32_t keyChannel = 0;           // the channel lastKey was struck on

    void reset() { *this = VoiceCursor{}; }
};

struct NoteMessage {
    int32_t channel = 0;
    int32_t key = 0;
    int32_t velocity = 0;
    bool operator==(const NoteMessage&) const = default;
};

struct SoundingDecision {
    std::optional<NoteMessage> noteOff;
    std::optional<NoteMessage> noteOn;
};

// How the players and the export differ in turning pitches into notes.
struct SoundingRule {
    // Note offs carry velocity 0 (composition playback and export), else the velocity of
    // the note on that follows (live playback and the audition of one event).
    bool zeroOffVelocity = false;
    // A voice that is off is struck at every step of its grid (composition playback and
    // export); otherwise it follows the tie rule like a voice that is on.
    bool strikeDisabledVoices = false;
};

// Folds a pitch into the MIDI key range 0..127 by whole octaves.
int32_t foldKey(int32_t pitch);

// The decision for voice `voice` with a new pitch: nothing on a tie, otherwise a note off
// for the sounding key (on the channel it was struck on) and a note on. The key is
// percussionKey + 35 on the percussion channel. voiceOn chooses the velocity (0 when off).
SoundingDecision soundingDecision(VoiceCursor& cursor, int32_t pitch, const VoiceSettings& voice, bool voiceOn,
                                  int32_t percussionChannel, const SoundingRule& rule);

}  // namespace tarrowin

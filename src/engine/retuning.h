#pragma once
// How one performance run carries a document's tuning: worked out once, before the run,
// from the tuning and the settings the run plays, into tables the run looks keys up in.
// The run then adds the tuning's messages to its stream, so a player and the export send
// and write the same ones:
//   - MIDI Tuning Standard: before the first note, real-time single-note tuning changes of
//     every key for tuning program 0, and each tuned channel selects that program (RPN 4
//     and 3). The keys sound where they are struck.
//   - Pitch bend: each tuned channel gets a bend range of 2 semitones (RPN 0); a note
//     sounds on the equal-tempered key nearest its pitch, bent by the rest.
//   - Device: the device retunes keys itself (the built-in synthesizer's key tuning); the
//     stream is the untuned one.
// A key the map leaves out is struck silently (velocity 0) in every case, as a voice that
// is off is. Notes on the percussion channel are drum sounds and never retuned.

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "performance.h"
#include "tuning.h"

namespace tarrowin {

enum class TuningOutput {
    Mts,
    PitchBend,
    Device,
};
TuningOutput outputFor(TuningMethod method);

inline constexpr int32_t kTuningBendRange = 2;  // semitones each way, the General MIDI default
inline constexpr int32_t kBendCentre = 8192;
inline constexpr int kMtsKeysPerMessage = 16;
inline constexpr int kMtsMessages = kMidiKeys / kMtsKeysPerMessage;

class Retuning {
   public:
    struct Planned {
        std::shared_ptr<const Retuning> retuning;  // none when the tuning retunes nothing
        // Why the run cannot sound as tuned (voices that share a channel); empty when it
        // can. A plan is made either way, for views that only show what would sound.
        std::string refusal;
        bool ok() const { return refusal.empty(); }
    };
    // The plan of a run with `options` (its mode, first event and percussion channel) over
    // these settings. Tuned voices share no channel with untuned ones, since a channel's
    // keys are tuned for all its voices or for none; with pitch bend, no two tuned voices
    // that play in the same event share a channel either.
    static Planned plan(const TuningSettings& settings, TuningOutput output, const PerformanceOptions& options,
                        const Settings& current, std::span<const Settings> events);

    TuningOutput output() const { return output_; }
    bool tunes(int voice) const { return tunedVoices_[static_cast<size_t>(voice)]; }
    bool channelTuned(int channel) const { return tunedChannels_[static_cast<size_t>(channel & 0x0F)]; }
    int32_t percussionChannel() const { return percussionChannel_; }

    // Whether any note of a tuned voice is struck otherwise than untuned: by pitch bend, or
    // on a key the map leaves out. When not, the run's notes need no look-up at all.
    bool changesNotes() const { return changesNotes_; }
    // Key k of a tuned voice: whether it sounds, the key struck for it and its bend.
    bool sounds(int k) const { return keys_[static_cast<size_t>(k)].sounds; }
    int soundingKey(int k) const { return keys_[static_cast<size_t>(k)].key; }
    int32_t bend(int k) const { return keys_[static_cast<size_t>(k)].bend; }
    // Its pitch in cents above key 0 (as a device's key tuning takes it), within the range
    // MIDI can name.
    double cents(int k) const { return keys_[static_cast<size_t>(k)].cents; }

    // What the run sends before its first note: the SysEx, then the controller messages.
    std::span<const SysexMessage> startSysex() const { return startSysex_; }
    std::span<const ShortMessage> startMessages() const { return startMessages_; }

   private:
    struct Key {
        bool sounds = true;
        uint8_t key = 0;
        int32_t bend = kBendCentre;
        double cents = 0;
    };

    TuningOutput output_ = TuningOutput::Device;
    int32_t percussionChannel_ = kDefaultPercussionChannel;
    std::array<bool, kVoices> tunedVoices_{};
    std::array<bool, 16> tunedChannels_{};
    std::array<Key, kMidiKeys> keys_{};
    bool changesNotes_ = false;
    std::vector<SysexMessage> startSysex_;
    std::vector<ShortMessage> startMessages_;
};

// The real-time single-note tuning changes of keys first .. first + 15 to `pitches` (MIDI
// semitones), for tuning program 0 of every device.
SysexMessage mtsKeyTuning(int first, std::span<const double, kMidiKeys> pitches);

}  // namespace tarrowin

#include "retuning.h"

#include <cmath>

namespace tarrowin {

namespace {

// The highest pitch a tuning change can name below its "no change" value 7F 7F 7F.
constexpr double kHighestPitch = 127.0 + 16382.0 / 16384.0;

double clampedPitch(double pitch) { return std::clamp(pitch, 0.0, kHighestPitch); }

// Registered parameter `number` of `channel` set to `value` (and `fine` in the LSB when
// asked), then the null parameter, so later data entries change nothing.
void rpn(std::vector<ShortMessage>& out, int channel, int number, int value, int fine = -1) {
    out.push_back(ShortMessage::controlChange(channel, 101, 0));
    out.push_back(ShortMessage::controlChange(channel, 100, number));
    out.push_back(ShortMessage::controlChange(channel, 6, value));
    if (fine >= 0) out.push_back(ShortMessage::controlChange(channel, 38, fine));
}
void rpnNull(std::vector<ShortMessage>& out, int channel) {
    out.push_back(ShortMessage::controlChange(channel, 101, 127));
    out.push_back(ShortMessage::controlChange(channel, 100, 127));
}

std::string voiceName(int v) { return "voice " + std::to_string(v + 1); }
std::string where(const PerformanceOptions& options, std::span<const Settings> played, const Settings& at,
                  std::span<const Settings> events) {
    if (options.mode == PerformanceMode::Live || options.mode == PerformanceMode::ExportCurrent || played.empty()) return {};
    return " in event " + std::to_string(&at - events.data());
}

}  // namespace

TuningOutput outputFor(TuningMethod method) {
    return method == TuningMethod::PitchBend ? TuningOutput::PitchBend : TuningOutput::Mts;
}

SysexMessage mtsKeyTuning(int first, std::span<const double, kMidiKeys> pitches) {
    SysexMessage m;
    const auto put = [&m](int byte) { m.bytes[m.size++] = static_cast<uint8_t>(byte); };
    // Universal real-time, every device, MIDI tuning, single-note tuning change, program 0.
    for (int b : {0xF0, 0x7F, 0x7F, 0x08, 0x02, 0x00, kMtsKeysPerMessage}) put(b);
    for (int k = first; k < first + kMtsKeysPerMessage; ++k) {
        const double pitch = clampedPitch(pitches[static_cast<size_t>(k)]);
        int semitone = static_cast<int>(std::floor(pitch));
        auto fraction = static_cast<int>(std::lround((pitch - semitone) * 16384.0));
        if (fraction == 16384) {
            ++semitone;
            fraction = 0;
        }
        put(k);
        put(semitone);
        put(fraction >> 7);
        put(fraction & 0x7F);
    }
    put(0xF7);
    return m;
}

Retuning::Planned Retuning::plan(const TuningSettings& settings, TuningOutput output, const PerformanceOptions& options,
                                 const Settings& current, std::span<const Settings> events) {
    Planned planned;
    if (!settings.retunes()) return planned;
    auto r = std::make_shared<Retuning>();
    r->output_ = output;
    r->percussionChannel_ = options.percussionChannel & 0x0F;
    r->tunedVoices_ = settings.tuned;

    // Which voices sound on which channel: every voice in a live run (any may be switched
    // on while it plays), the voices that are on elsewhere.
    const std::span<const Settings> played = playedSettings(options, current, events);
    const bool everyVoice = options.mode == PerformanceMode::Live;
    std::array<int, 16> tunedVoice, untunedVoice;
    tunedVoice.fill(-1);
    untunedVoice.fill(-1);
    std::array<std::string, 16> untunedPlace;
    for (const Settings& s : played) {
        std::array<int, 16> bentHere;
        bentHere.fill(-1);
        for (int v = 0; v < kVoices; ++v) {
            const VoiceSettings& voice = s.voices[static_cast<size_t>(v)];
            const int ch = voice.channel & 0x0F;
            if ((!everyVoice && voice.enabled == 0) || ch == r->percussionChannel_) continue;
            const auto c = static_cast<size_t>(ch);
            if (!settings.tuned[static_cast<size_t>(v)]) {
                if (untunedVoice[c] < 0) {
                    untunedVoice[c] = v;
                    untunedPlace[c] = where(options, played, s, events);
                }
                continue;
            }
            if (tunedVoice[c] < 0) tunedVoice[c] = v;
            if (output == TuningOutput::PitchBend && bentHere[c] >= 0 && planned.refusal.empty()) {
                planned.refusal = "Voices " + std::to_string(bentHere[c] + 1) + " and " + std::to_string(v + 1) +
                                  " are tuned by pitch bend and both play on channel " + std::to_string(ch) +
                                  where(options, played, s, events) +
                                  ": one bend cannot serve two pitches. Give each its own channel, or tune with the "
                                  "MIDI Tuning Standard.";
            }
            bentHere[c] = v;
        }
    }
    for (size_t c = 0; c < 16; ++c) {
        r->tunedChannels_[c] = tunedVoice[c] >= 0;
        if (tunedVoice[c] >= 0 && untunedVoice[c] >= 0 && planned.refusal.empty()) {
            planned.refusal = "Voice " + std::to_string(tunedVoice[c] + 1) + " is tuned and " +
                              voiceName(untunedVoice[c]) + untunedPlace[c] + " is not, but both play on channel " +
                              std::to_string(c) +
                              ": a channel's keys are tuned for all its voices or for none. Switch Tuned alike for "
                              "both, or give each its own channel.";
        }
    }

    std::array<double, kMidiKeys> pitches{};
    for (int k = 0; k < kMidiKeys; ++k) {
        const KeyPitch& p = settings.tuning.key(k);
        Key& key = r->keys_[static_cast<size_t>(k)];
        pitches[static_cast<size_t>(k)] = clampedPitch(p.pitch);
        key.sounds = p.mapped;
        r->changesNotes_ = r->changesNotes_ || !p.mapped || output == TuningOutput::PitchBend;
        key.cents = pitches[static_cast<size_t>(k)] * 100.0;
        key.key = static_cast<uint8_t>(k);
        if (output != TuningOutput::PitchBend || !p.mapped) continue;
        const auto nearest = static_cast<int>(std::clamp<long>(std::lround(pitches[static_cast<size_t>(k)]), 0, 127));
        const double rest = pitches[static_cast<size_t>(k)] - nearest;
        key.key = static_cast<uint8_t>(nearest);
        key.bend = static_cast<int32_t>(
            std::clamp<long>(kBendCentre + std::lround(rest * kBendCentre / kTuningBendRange), 0, 16383));
    }

    for (int ch = 0; ch < 16; ++ch) {
        if (!r->tunedChannels_[static_cast<size_t>(ch)]) continue;
        if (output == TuningOutput::Mts) {
            rpn(r->startMessages_, ch, 4, 0);  // tuning bank 0
            rpn(r->startMessages_, ch, 3, 0);  // tuning program 0
            rpnNull(r->startMessages_, ch);
        } else if (output == TuningOutput::PitchBend) {
            rpn(r->startMessages_, ch, 0, kTuningBendRange, 0);
            rpnNull(r->startMessages_, ch);
        }
    }
    if (output == TuningOutput::Mts) {
        for (int first = 0; first < kMidiKeys; first += kMtsKeysPerMessage) {
            r->startSysex_.push_back(mtsKeyTuning(first, pitches));
        }
    }
    planned.retuning = std::move(r);
    return planned;
}

}  // namespace tarrowin

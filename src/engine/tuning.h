#pragma once
// Tunings: which pitch each MIDI key sounds at. A tuning is a Scala scale (.scl) with an
// optional Scala keyboard map (.kbm); without either it is 12-tone equal temperament with
// A = 440 Hz, which leaves every key where MIDI puts it. The generators, scales and keys of
// the voices do not change: a tuning only decides the frequency a key stands for.
//
// Both readers are strict: text that breaks the format is refused with a message naming
// its line, and nothing is made from it. Pitches are kept in MIDI semitones (69.0 is
// A 440 Hz, one unit per equal-tempered semitone), so no key's pitch overflows whatever
// the scale's steps.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings.h"

namespace tarrowin {

inline constexpr int kMidiKeys = 128;
// Bounds of what the readers take: far beyond any published scale or map.
inline constexpr size_t kMaxTuningTextBytes = 1u << 20;
inline constexpr int kMaxScaleDegrees = 65536;
inline constexpr int kMaxMapSize = 65536;
inline constexpr double kMaxDegreeCents = 1'000'000.0;
inline constexpr double kMaxReferenceFrequency = 100'000.0;

// What a reader made, or why it refused: "line 4: ..." naming the line of the text.
template <class T>
struct TuningRead {
    std::optional<T> value;
    std::string error;
    bool ok() const { return value.has_value(); }
};

// A Scala scale: degree 0 is the implicit 1/1; `cents` holds degrees 1..n in cents above
// it, the last of them the period at which the scale repeats.
struct ScalaScale {
    std::string description;
    std::vector<double> cents;

    int degrees() const { return static_cast<int>(cents.size()); }
    double period() const { return cents.back(); }
    // The cents of degree d, any whole number: whole periods plus a degree within one.
    double degreeCents(int64_t d) const;
    bool operator==(const ScalaScale&) const = default;
};

// A Scala keyboard map: which scale degree each key plays and the frequency of one key.
struct KeyboardMap {
    int size = 0;  // keys in the repeating pattern; 0: every key one degree above the one below
    int firstKey = 0;  // keys outside first..last keep their equal-tempered pitch
    int lastKey = 127;
    int middleKey = 60;  // the key of the pattern's first entry (degree 0 with the default map)
    int referenceKey = 60;
    double referenceFrequency = 0;  // Hz
    int octaveDegree = 0;  // the degree one pattern lies above the one below; 0: the scale's period
    std::vector<std::optional<int>> mapping;  // up to `size` entries; none: the key is not mapped

    // The map used without a .kbm file: degree 0 on middle C at its equal-tempered 261.63 Hz.
    static KeyboardMap standard();
    // The degree key k plays (before periods are added, see below), none when unmapped.
    std::optional<int64_t> degreeOf(int key, int scaleDegrees) const;
    bool operator==(const KeyboardMap&) const = default;
};

// Reads .scl text: comment lines begin with '!', then a description line, the number of
// notes and one pitch a line, a ratio ("3/2", "2") or cents ("701.955", with a period).
TuningRead<ScalaScale> readScalaScale(std::string_view text);
// Reads .kbm text: the map size, the first and last key to retune, the middle key, the
// reference key and its frequency, the octave degree, then the entries ("x" for a key
// that plays nothing; entries missing at the end are unmapped).
TuningRead<KeyboardMap> readKeyboardMap(std::string_view text);

// Text that is not UTF-8 is taken as Latin-1 (Scala files are 8-bit text) and converted,
// so that every tuning's text is UTF-8 wherever it goes.
std::string tuningTextAsUtf8(std::string_view bytes);
bool isUtf8(std::string_view bytes);

struct KeyPitch {
    bool mapped = true;  // false: the map leaves the key out, and it plays nothing
    double pitch = 0;    // in MIDI semitones: 69.0 is A 440 Hz
    std::optional<int64_t> degree;  // the scale degree it plays; none outside the retuned keys
};

// A scale and its map, with the pitch of every key worked out once.
class Tuning {
   public:
    // 12-tone equal temperament, A = 440 Hz: every key at its own pitch.
    Tuning();
    // The tuning of .scl text and .kbm text (empty: the standard map). The message names the
    // text ("scale, line 4: ..." or "keyboard map, line 2: ...").
    static TuningRead<Tuning> fromText(std::string scaleText, std::string mapText = {});

    // This tuning with another scale, keeping the map; with another map (empty: the
    // standard one), keeping the scale, or on 12-tone equal temperament when there is none
    // (a map alone retunes equal temperament: another reference, keys left out).
    TuningRead<Tuning> withScale(std::string scaleText) const { return fromText(std::move(scaleText), mapText_); }
    TuningRead<Tuning> withMap(std::string mapText) const;

    bool isEqualTemperament() const { return scaleText_.empty(); }
    const std::string& scaleText() const { return scaleText_; }
    const std::string& mapText() const { return mapText_; }
    const ScalaScale& scale() const { return scale_; }
    const KeyboardMap& map() const { return map_; }
    // The scale's description, or "12-tone equal temperament" for the default.
    std::string description() const;

    const KeyPitch& key(int k) const { return keys_[static_cast<size_t>(k)]; }
    // The cents by which key k lies above (or below) its equal-tempered pitch.
    double deviationCents(int k) const { return (key(k).pitch - k) * 100.0; }
    // The degree within one period (0..n-1) of a mapped key that the map retunes.
    std::optional<int> degreeInPeriod(int k) const;

    bool operator==(const Tuning& other) const {
        return scaleText_ == other.scaleText_ && mapText_ == other.mapText_;
    }

   private:
    Tuning(std::string scaleText, std::string mapText, ScalaScale scale, KeyboardMap map);
    void computeKeys();

    std::string scaleText_;
    std::string mapText_;
    ScalaScale scale_;
    KeyboardMap map_;
    std::array<KeyPitch, kMidiKeys> keys_{};
};

// How tuned voices reach an external synthesizer or a MIDI file.
enum class TuningMethod : int32_t {
    Mts = 0,        // MIDI Tuning Standard: the keys' pitches by SysEx before the first note
    PitchBend = 1,  // each note bent from the nearest key on its voice's own channel
};

// A document's tuning: the tuning, the method and which voices it retunes ("Tuned").
struct TuningSettings {
    Tuning tuning;
    TuningMethod method = TuningMethod::Mts;
    std::array<bool, kVoices> tuned;

    TuningSettings() { tuned.fill(true); }
    // Equal temperament, MTS, every voice tuned: what a document without a tuning holds.
    bool isDefault() const;
    // Whether it retunes anything at all (a scale is loaded).
    bool retunes() const { return !tuning.isEqualTemperament(); }
    bool operator==(const TuningSettings&) const = default;
};

// "mts" and "bend", as the command line and the JSON dump name the methods.
std::string_view tuningMethodName(TuningMethod method);
std::optional<TuningMethod> tuningMethodNamed(std::string_view name);
// "MIDI Tuning Standard" and "Pitch bend", as the window shows them.
std::string_view tuningMethodLabel(TuningMethod method);

}  // namespace tarrowin

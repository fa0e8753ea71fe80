#pragma once
// A performance: one run of the note engine over the current settings or over a
// composition, producing tick by tick the MIDI messages the program sends. Live playback,
// composition playback, the audition of one event and both kinds of MIDI file export are
// the same run with different parameters; players add a device and real time, the export
// adds dates and a file.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "note_engine.h"
#include "settings.h"

namespace tarrowin {

inline constexpr int32_t kDefaultPercussionChannel = 9;

// A MIDI channel message with a full status byte, or a system message (the MIDI clock). A
// program change has one data byte (data2 is 0 and not sent).
struct ShortMessage {
    uint8_t status = 0;
    uint8_t data1 = 0;
    uint8_t data2 = 0;

    int size() const {
        // System messages: Song Position Pointer has two data bytes, Song Select and MTC
        // quarter frames one, the clock and the other real-time messages none.
        if (status >= 0xF0) return status == 0xF2 ? 3 : status == 0xF1 || status == 0xF3 ? 2 : 1;
        return (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 2 : 3;
    }
    // Byte 0 (lowest) is the status, then data 1, data 2; byte 3 is 0.
    uint32_t packed() const { return status | (uint32_t{data1} << 8) | (uint32_t{data2} << 16); }
    bool operator==(const ShortMessage&) const = default;

    // The channel is taken modulo 16 and data bytes are clamped to 0..127. Inline: a run
    // makes two of these for every note.
    static ShortMessage programChange(int32_t channel, int32_t program) {
        return {statusByte(0xC0, channel), dataByte(program), 0};
    }
    static ShortMessage pan(int32_t channel, int32_t pan) {  // controller 10, pan + 64
        return {statusByte(0xB0, channel), 10, dataByte(pan + 64)};
    }
    static ShortMessage noteOff(int32_t channel, int32_t key, int32_t velocity) {
        return {statusByte(0x80, channel), dataByte(key), dataByte(velocity)};
    }
    static ShortMessage noteOn(int32_t channel, int32_t key, int32_t velocity) {
        return {statusByte(0x90, channel), dataByte(key), dataByte(velocity)};
    }
    static ShortMessage allNotesOff(int32_t channel) { return {statusByte(0xB0, channel), 123, 0}; }  // controller 123
    static ShortMessage controlChange(int32_t channel, int32_t controller, int32_t value) {
        return {statusByte(0xB0, channel), dataByte(controller), dataByte(value)};
    }
    // value 0..16383, 8192 in the middle.
    static ShortMessage pitchBend(int32_t channel, int32_t value) {
        const int32_t v = value < 0 ? 0 : value > 16383 ? 16383 : value;
        return {statusByte(0xE0, channel), static_cast<uint8_t>(v & 0x7F), static_cast<uint8_t>(v >> 7)};
    }

   private:
    static uint8_t dataByte(int32_t value) { return static_cast<uint8_t>(value < 0 ? 0 : value > 127 ? 127 : value); }
    static uint8_t statusByte(int kind, int32_t channel) { return static_cast<uint8_t>(kind | (channel & 0x0F)); }
};

// A System Exclusive message, F0 to F7 included. Runs send only their tunings' SysEx, which
// are short: a fixed size keeps a message free of allocation on its way to a device.
struct SysexMessage {
    static constexpr size_t kMaxBytes = 72;
    std::array<uint8_t, kMaxBytes> bytes{};
    uint8_t size = 0;

    std::span<const uint8_t> data() const { return {bytes.data(), size}; }
    bool operator==(const SysexMessage& other) const {
        return size == other.size && std::equal(bytes.begin(), bytes.begin() + size, other.bytes.begin());
    }
};

class Retuning;

enum class PerformanceMode {
    Live,               // the current settings on a device, every voice, switchable while playing
    Composition,        // the composition's events in order from a chosen event
    Audition,           // one event of the composition, as the Composition Maker plays it
    ExportCurrent,      // the current settings from Start to End into a file, enabled voices only
    ExportComposition,  // the whole composition into a file, the voices used in any event
};

// What a performance produces. Dates count ticks from the start of the run: the export
// writes them into the file, the players use them as the deadlines' tick numbers.
class PerformanceSink {
   public:
    virtual ~PerformanceSink() = default;
    // A run (or, in a composition, an event) begins: its tempo and time signature hold
    // from `date` on. `index` is the event's index, or 0 for the current settings.
    virtual void eventBegins(int index, const GlobalSettings& global, int64_t date) {
        (void)index, (void)global, (void)date;
    }
    virtual void message(int64_t date, const ShortMessage& m) = 0;
    // A tuned run's SysEx (the MIDI Tuning Standard's key tunings) at the start. Every sink
    // that sends or writes messages takes these too; one that only looks at notes need not.
    virtual void sysex(int64_t date, const SysexMessage& m) { (void)date, (void)m; }
    // Voice v strikes its step `counter` (the voice's own count of notes): the note off and
    // note on that follow are its own. Voices may share a channel, so a view of the notes
    // needs this to tell them apart; a sink that only writes messages ignores it.
    virtual void voiceStrikes(int v, int32_t counter) { (void)v, (void)counter; }
    // The tempo of a live run changed from `date` on: the settings were edited while it played.
    virtual void tempoChanges(int64_t date, int32_t tempo) { (void)date, (void)tempo; }
    // The run is complete; an export ends its track here.
    virtual void end(int64_t date) { (void)date; }
};

// The words a run reads from, and writes to, the program around it while it plays. The
// defaults are those of an export: nothing stops it and nothing is waited for.
class PerformanceControl {
   public:
    virtual ~PerformanceControl() = default;
    // Read before each event and each tick; false ends the run.
    virtual bool playing() { return true; }
    // Called after each tick's messages; a player waits for the next tick's deadline here.
    virtual void tickDone(int64_t date, int32_t tickLengthMs) { (void)date, (void)tickLengthMs; }
    // Live runs: whether voice v is switched on now (read at every step).
    virtual bool voiceOn(int v, bool snapshot) { (void)v; return snapshot; }
    // Live runs: the Lock state and the End counter, read at every tick. Unlocked, the
    // End counter follows the playing position.
    virtual bool locked() { return true; }
    virtual int32_t endCounter() { return 0; }
    virtual void setEndCounter(int32_t end) { (void)end; }
    // Live runs, at the top of each tick: settings edited since the last call, or null when
    // there are none. The run takes their voices and tempo (the counters and the time
    // signature stay the run's own); the pointer needs to hold only until the next call.
    virtual const Settings* editedSettings() { return nullptr; }
};

struct PerformanceOptions {
    PerformanceMode mode = PerformanceMode::Live;
    int32_t percussionChannel = kDefaultPercussionChannel;
    // Composition: the first event to play (beyond the last plays nothing).
    // Audition: the event to play.
    int firstEvent = 0;
    // Seeds the "Random" modulation run lengths, so one seed always gives the same run;
    // none: defaultRunLengthSeed(), else different lengths on every run.
    std::optional<uint64_t> seed;
    // The tuning of the tuned voices (Retuning::plan); none: every key as MIDI puts it.
    // The caller keeps it alive for the run.
    const Retuning* retuning = nullptr;
};

// The settings a run plays: the current settings, or the events it goes through.
std::span<const Settings> playedSettings(const PerformanceOptions& options, const Settings& current,
                                         std::span<const Settings> events);

// How a run ended.
enum class PerformanceEnd {
    Completed,  // it played to its End counter, its locked End or its last event
    Stopped,    // playing() turned false
};

// Plays a run. `current` is the settings of the Live and ExportCurrent modes; `events` the
// composition of the other three. Sends the final messages of the mode (All Notes Off, the
// note-off sweep of an audition, or the note offs that close a file) before it returns.
PerformanceEnd perform(const PerformanceOptions& options, const Settings& current, std::span<const Settings> events,
                       PerformanceSink& sink, PerformanceControl& control);

// Convenience for runs over the current settings and over a composition.
PerformanceEnd performCurrent(PerformanceMode mode, const Settings& current, PerformanceSink& sink,
                              PerformanceControl& control, int32_t percussionChannel = kDefaultPercussionChannel);
PerformanceEnd performComposition(PerformanceMode mode, std::span<const Settings> events, int firstEvent,
                                  PerformanceSink& sink, PerformanceControl& control,
                                  int32_t percussionChannel = kDefaultPercussionChannel);

}  // namespace tarrowin

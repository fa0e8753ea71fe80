#pragma once
// The MIDI file export: the current settings from Start to End, or the whole composition,
// performed by the one note run that playback uses and written as a Standard MIDI File of
// format 0 with 8 ticks per quarter note (one tick of the file per tick of playback).

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "document/document.h"
#include "engine/performance.h"
#include "engine/performance_take.h"
#include "midi_file_writer.h"

namespace tarrowin {

class ReplacingFile;

enum class ExportMode {
    CurrentSettings,  // the current settings from the Start to the End counter, enabled voices
    Composition,      // every event in order, the voices enabled in any event
};

// How an export ended. When it failed, message and caption are what the window shows (an
// empty message: nothing to show, as after a cancel).
struct ExportResult {
    bool ok = false;
    bool cancelled = false;
    std::string message;
    std::string caption;
    std::string detail;  // the system's reason, when a file could not be created or written
    int64_t ticks = 0;  // length of the track in ticks
    int64_t notes = 0;  // note ons written
};

inline constexpr const char* kCounterOrderMessage = "Start counter must be less then End Counter";
inline constexpr const char* kCounterOrderCaption = "Error";
inline constexpr const char* kCreateFailedMessage = "Could not create file";
inline constexpr const char* kProgramCaption = "Tarrowin";

// Told now and then how many of the export's ticks are done; returning false cancels it.
using ExportProgress = std::function<bool(int64_t done, int64_t total)>;

struct ExportOptions {
    ExportMode mode = ExportMode::CurrentSettings;
    int32_t percussionChannel = kDefaultPercussionChannel;
    ExportProgress progress;
    // Seeds the "Random" modulation run lengths: one seed always gives the same file.
    // None: defaultRunLengthSeed(), else different lengths on every export.
    std::optional<uint64_t> seed;
};

// The refusals that come before the save dialog and before any file is touched: in
// CurrentSettings mode End must be above Start, and Composition mode needs an event.
// ok when the export may go ahead.
ExportResult checkExport(const CTarrowinDoc& doc, ExportMode mode);
// Those of checkExport and, for a MIDI file, the tuning's: tuned voices may not share a
// channel in a way the document's tuning method cannot serve (see Retuning::plan).
ExportResult checkMidiExport(const CTarrowinDoc& doc, ExportMode mode,
                             int32_t percussionChannel = kDefaultPercussionChannel);

// Writes the export to `path` through a ReplacingFile: the target is replaced only once
// the file is complete. On any failure the target is left as it was.
ExportResult exportMidi(const CTarrowinDoc& doc, ExportMode mode, const std::string& path,
                        int32_t percussionChannel = kDefaultPercussionChannel, const ExportProgress& progress = {});
ExportResult exportMidi(const CTarrowinDoc& doc, const ExportOptions& options, const std::string& path);
// The same into an output the caller opened, which is committed on success and abandoned
// on failure. A streaming output (a pipe, the standard output) gets the bytes as they are
// made: the file's length, which leads it, is found by a first run that writes nothing.
// A file larger than a MIDI track can hold is refused before anything is written.
ExportResult exportMidi(const CTarrowinDoc& doc, const ExportOptions& options, ReplacingFile& file);

// The same export into memory.
ExportResult exportMidiToMemory(const CTarrowinDoc& doc, ExportMode mode, std::vector<uint8_t>& bytes,
                                int32_t percussionChannel = kDefaultPercussionChannel,
                                const ExportProgress& progress = {});

// The export into any output (a file, memory, a byte counter), after checkExport.
ExportResult writeMidi(const CTarrowinDoc& doc, const ExportOptions& options, ByteOutput& out);

// The number of ticks an export writes: End - Start of the current settings, or the sum
// over the events (an event whose End is not above its Start adds none).
int64_t exportTicks(const CTarrowinDoc& doc, ExportMode mode);

// Bounds of the size of the export's track in bytes, from the note grid alone (in
// microseconds even for the longest composition): every step of a voice that strikes
// every note writes at least its note on and note off, and no step writes more than both.
struct TrackSizeBounds {
    uint64_t least = 0;
    uint64_t most = 0;
};
TrackSizeBounds trackSizeBounds(const CTarrowinDoc& doc, ExportMode mode);

// A recorded take as a MIDI file of the export's form (format 0, 8 ticks per quarter note):
// its tempo and time signature where it begins, a tempo event wherever the ticks' length
// changed, each message at its tick. Empty, with the reason in `error`, when the take does
// not fit in a MIDI file.
std::vector<uint8_t> takeToMidi(const PerformanceTake& take, std::string& error);

// Writes what a performance produces into a MIDI file: each event's tempo and time
// signature where it begins, its channel messages, the end of the track.
class MidiFileSink : public PerformanceSink {
   public:
    explicit MidiFileSink(MidiFileWriter& writer) : writer_(writer) {}
    void eventBegins(int index, const GlobalSettings& global, int64_t date) override;
    void message(int64_t date, const ShortMessage& m) override;
    void sysex(int64_t date, const SysexMessage& m) override;
    void end(int64_t date) override;
    // The tempo and time signature events where a run or an event begins.
    void meter(int64_t date, uint32_t quarterMicroseconds, int numerator, int denominator);

    int64_t notes() const { return notes_; }
    int64_t endDate() const { return endDate_; }

   private:
    MidiFileWriter& writer_;
    int64_t notes_ = 0;
    int64_t endDate_ = 0;
};

}  // namespace tarrowin

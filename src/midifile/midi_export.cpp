#include "midi_export.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <random>

#include "document/replacing_file.h"
#include "engine/note_engine.h"
#include "engine/retuning.h"

namespace tarrowin {

namespace {

// The time signature event's MIDI clocks per click and 32nd notes per quarter note.
constexpr int kClocksPerClick = 8;
constexpr int kThirtySecondsPerQuarter = 8;
// How often the progress callback is told, in parts of the whole export.
constexpr int64_t kProgressSteps = 1000;
// The largest track a MIDI file holds: its chunk's length has four bytes, and the writer
// stops one longest event (11 bytes) short of that.
constexpr uint64_t kLargestTrack = 0xFFFFFFFFull - 11;
// Where the track's length sits in the file: after the header chunk and "MTrk".
constexpr uint64_t kTrackLengthOffset = 18;

// The export's bytes into a file that replaces its target once complete.
class FileOutput : public ByteOutput {
   public:
    explicit FileOutput(ReplacingFile& file) : file_(file) {}
    bool write(const uint8_t* data, size_t size) override { return file_.write(data, size); }
    bool writeAt(uint64_t offset, const uint8_t* data, size_t size) override {
        return file_.writeAt(offset, data, size);
    }

   private:
    ReplacingFile& file_;
};

// The export's bytes straight into a streaming output. The track's length, which the
// writer can only rewrite at the end, is known beforehand and put in as the bytes pass;
// the writer's rewrite then only has to agree with it.
class StreamingOutput : public ByteOutput {
   public:
    StreamingOutput(ReplacingFile& file, uint64_t trackSize) : file_(file) {
        for (int i = 0; i < 4; ++i) length_[static_cast<size_t>(i)] = static_cast<uint8_t>(trackSize >> (8 * (3 - i)));
    }
    bool write(const uint8_t* data, size_t size) override {
        const uint64_t begin = written_;
        written_ += size;
        const uint64_t from = std::max(begin, kTrackLengthOffset), to = std::min(written_, kTrackLengthOffset + 4);
        if (from >= to) return file_.write(data, size);
        std::vector<uint8_t> patched(data, data + size);
        for (uint64_t at = from; at < to; ++at) patched[at - begin] = length_[at - kTrackLengthOffset];
        return file_.write(patched.data(), size);
    }
    bool writeAt(uint64_t offset, const uint8_t* data, size_t size) override {
        lengthChanged_ = !(offset == kTrackLengthOffset && size == length_.size() && std::equal(data, data + size, length_.begin()));
        return !lengthChanged_;
    }
    bool lengthChanged() const { return lengthChanged_; }

   private:
    ReplacingFile& file_;
    std::array<uint8_t, 4> length_{};
    uint64_t written_ = 0;
    bool lengthChanged_ = false;
};

// Counts the bytes the track of a performance takes, writing nothing: each event is its
// delta time (a variable-length quantity) and its bytes, as MidiFileSink writes them.
class TrackSizeSink : public PerformanceSink {
   public:
    void eventBegins(int, const GlobalSettings&, int64_t date) override {
        add(date, 6);  // tempo: FF 51 03 and three bytes
        add(date, 7);  // time signature: FF 58 04 and four bytes
    }
    void message(int64_t date, const ShortMessage& m) override { add(date, m.size()); }
    void sysex(int64_t date, const SysexMessage& m) override { add(date, m.size + 1); }  // F0, its length, the rest
    void end(int64_t date) override { add(date, 3); }
    uint64_t size() const { return size_; }

   private:
    void add(int64_t date, int bytes) {
        const auto delta = static_cast<uint64_t>(date - last_);
        size_ += static_cast<uint64_t>(delta < 0x80 ? 1 : (std::bit_width(delta) + 6) / 7) + static_cast<uint64_t>(bytes);
        last_ = date;
    }
    int64_t last_ = 0;
    uint64_t size_ = 0;
};

ExportResult refusal(std::string message, std::string caption) {
    ExportResult r;
    r.message = std::move(message);
    r.caption = std::move(caption);
    return r;
}

std::string writerFailure(MidiFileWriter::Error e) {
    switch (e) {
        case MidiFileWriter::Error::TrackTooLarge:
            return "The MIDI file would be larger than 4 GB; export a shorter passage";
        case MidiFileWriter::Error::DeltaTooLarge:
            return "The MIDI file cannot hold a pause this long";
        default: return "Could not write file";
    }
}

std::string gigabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / (1ull << 30));
    return text;
}

ExportResult tooLarge(uint64_t bytes, bool atLeast) {
    return refusal("The MIDI file would be " + std::string(atLeast ? "at least " : "") + gigabytes(bytes) +
                       ", more than the 4 GB a MIDI file can hold; export a shorter passage",
                   kProgramCaption);
}

uint64_t freshSeed() {
    std::random_device device;
    return (static_cast<uint64_t>(device()) << 32) | device();
}

// An export runs without real time; it only reports progress and can be cancelled.
class ExportControl : public PerformanceControl {
   public:
    ExportControl(const ExportProgress& progress, int64_t total)
        : progress_(progress), total_(total), step_(std::max<int64_t>(1, total / kProgressSteps)), next_(step_) {}

    bool playing() override { return !cancelled_; }
    void tickDone(int64_t date, int32_t) override {
        if (!progress_ || date < next_) return;
        next_ = date + step_;
        report(date);
    }
    void report(int64_t done) {
        if (progress_ && !cancelled_ && !progress_(done, total_)) cancelled_ = true;
    }
    bool cancelled() const { return cancelled_; }

   private:
    const ExportProgress& progress_;
    const int64_t total_;
    const int64_t step_;
    int64_t next_;
    bool cancelled_ = false;
};

PerformanceOptions performanceOptions(ExportMode mode, int32_t percussionChannel) {
    PerformanceOptions run;
    run.mode = mode == ExportMode::CurrentSettings ? PerformanceMode::ExportCurrent : PerformanceMode::ExportComposition;
    run.percussionChannel = percussionChannel;
    return run;
}

PerformanceOptions performanceOptions(const ExportOptions& options) {
    PerformanceOptions run = performanceOptions(options.mode, options.percussionChannel);
    run.seed = options.seed;
    return run;
}

// The tuning of an export: by the document's method, for external synthesizers.
Retuning::Planned exportTuning(const CTarrowinDoc& doc, const PerformanceOptions& run) {
    return Retuning::plan(doc.tuning(), outputFor(doc.tuning().method), run, doc.current(), doc.composition().events());
}

}  // namespace

void MidiFileSink::eventBegins(int, const GlobalSettings& global, int64_t date) {
    meter(date, tempoMicroseconds(global.tempo), global.timeSigNumerator, global.timeSigDenominator);
}

void MidiFileSink::meter(int64_t date, uint32_t quarterMicroseconds, int numerator, int denominator) {
    const auto d = static_cast<uint64_t>(date);
    writer_.tempo(d, quarterMicroseconds);
    writer_.timeSignature(d, numerator, denominatorPower(denominator), kClocksPerClick, kThirtySecondsPerQuarter);
}

void MidiFileSink::message(int64_t date, const ShortMessage& m) {
    const auto d = static_cast<uint64_t>(date);
    const int channel = m.status & 0x0F;
    switch (m.status & 0xF0) {
        case 0x80: writer_.keyOff(d, channel, m.data1, m.data2); break;
        case 0x90:
            writer_.keyOn(d, channel, m.data1, m.data2);
            ++notes_;
            break;
        case 0xB0: writer_.controlChange(d, channel, m.data1, m.data2); break;
        case 0xC0: writer_.programChange(d, channel, m.data1); break;
        case 0xE0: writer_.pitchBend(d, channel, m.data1 | (m.data2 << 7)); break;
        default: break;  // a performance sends no other kind
    }
}

void MidiFileSink::sysex(int64_t date, const SysexMessage& m) {
    writer_.sysex(static_cast<uint64_t>(date), m.bytes.data(), m.size);
}

std::vector<uint8_t> takeToMidi(const PerformanceTake& take, std::string& error) {
    MemoryOutput out;
    MidiFileWriter writer(out);
    MidiFileSink sink(writer);
    SysexMessage sysex;  // the SysEx whose parts are being read
    size_t sysexLength = 0;
    const auto addPart = [&](const TakeEntry& e) {
        if (sysex.size >= sysexLength) return;  // a part of no message
        const size_t n = std::min(TakeEntry::kSysexPartBytes, sysexLength - sysex.size);
        std::copy_n(e.sysexPart.begin(), n, sysex.bytes.begin() + sysex.size);
        sysex.size = static_cast<uint8_t>(sysex.size + n);
        if (sysex.size == sysexLength) sink.sysex(e.date, sysex);
    };
    for (const TakeEntry& e : take.entries) {
        switch (e.kind) {
            case TakeEntry::Kind::Begin:
                sink.meter(e.date, e.quarterMicroseconds, e.timeSigNumerator, e.timeSigDenominator);
                break;
            case TakeEntry::Kind::Message: sink.message(e.date, e.message); break;
            case TakeEntry::Kind::Sysex:
                sysex = {};
                sysexLength = std::min<size_t>(e.quarterMicroseconds, SysexMessage::kMaxBytes);
                addPart(e);
                break;
            case TakeEntry::Kind::SysexMore: addPart(e); break;
            case TakeEntry::Kind::Tempo: writer.tempo(static_cast<uint64_t>(e.date), e.quarterMicroseconds); break;
            case TakeEntry::Kind::End: sink.end(e.date); break;
        }
    }
    if (!writer.finish()) {
        error = writerFailure(writer.error());
        return {};
    }
    error.clear();
    return std::move(out.bytes);
}

void MidiFileSink::end(int64_t date) {
    endDate_ = date;
    writer_.endOfTrack(static_cast<uint64_t>(date));
}

int64_t exportTicks(const CTarrowinDoc& doc, ExportMode mode) {
    const auto length = [](const GlobalSettings& g) {
        return std::max<int64_t>(0, int64_t{g.endCounter} - int64_t{g.startCounter});
    };
    if (mode == ExportMode::CurrentSettings) return length(doc.global());
    int64_t total = 0;
    for (const CompositionEvent& e : doc.composition().events()) total += length(e.global);
    return total;
}

ExportResult checkExport(const CTarrowinDoc& doc, ExportMode mode) {
    if (mode == ExportMode::CurrentSettings && doc.global().endCounter <= doc.global().startCounter) {
        return refusal(kCounterOrderMessage, kCounterOrderCaption);
    }
    if (mode == ExportMode::Composition && doc.composition().isEmpty()) {
        return refusal("The composition has no events", kProgramCaption);
    }
    ExportResult r;
    r.ok = true;
    return r;
}

ExportResult checkMidiExport(const CTarrowinDoc& doc, ExportMode mode, int32_t percussionChannel) {
    if (ExportResult check = checkExport(doc, mode); !check.ok) return check;
    if (const Retuning::Planned tuning = exportTuning(doc, performanceOptions(mode, percussionChannel)); !tuning.ok()) {
        return refusal(tuning.refusal, kProgramCaption);
    }
    ExportResult r;
    r.ok = true;
    return r;
}

ExportResult writeMidi(const CTarrowinDoc& doc, const ExportOptions& options, ByteOutput& out) {
    if (ExportResult check = checkMidiExport(doc, options.mode, options.percussionChannel); !check.ok) return check;

    MidiFileWriter writer(out);
    MidiFileSink sink(writer);
    const int64_t total = exportTicks(doc, options.mode);
    ExportControl control(options.progress, total);
    control.report(0);

    PerformanceOptions run = performanceOptions(options);
    const Retuning::Planned tuning = exportTuning(doc, run);
    run.retuning = tuning.retuning.get();
    perform(run, doc.current(), doc.composition().events(), sink, control);
    if (!control.cancelled()) control.report(total);

    if (control.cancelled()) {
        ExportResult r;
        r.cancelled = true;
        return r;
    }
    if (!writer.finish()) return refusal(writerFailure(writer.error()), kProgramCaption);
    ExportResult r;
    r.ok = true;
    r.ticks = sink.endDate();
    r.notes = sink.notes();
    return r;
}

ExportResult exportMidiToMemory(const CTarrowinDoc& doc, ExportMode mode, std::vector<uint8_t>& bytes,
                                int32_t percussionChannel, const ExportProgress& progress) {
    MemoryOutput out;
    const ExportResult r = writeMidi(doc, ExportOptions{mode, percussionChannel, progress, std::nullopt}, out);
    if (r.ok) bytes = std::move(out.bytes);
    return r;
}

TrackSizeBounds trackSizeBounds(const CTarrowinDoc& doc, ExportMode mode) {
    const bool composition = mode == ExportMode::Composition;
    const std::span<const Settings> events =
        composition ? std::span<const Settings>(doc.composition().events()) : std::span<const Settings>(&doc.current(), 1);
    std::array<bool, kVoices> written{};
    uint64_t writtenVoices = 0;
    for (int v = 0; v < kVoices; ++v) {
        const auto i = static_cast<size_t>(v);
        written[i] = composition ? std::any_of(events.begin(), events.end(), [i](const Settings& e) { return e.voices[i].enabled != 0; })
                                 : doc.voice(v).enabled != 0;
        writtenVoices += written[i] ? 1 : 0;
    }
    // The longest event of a note is a delta of four bytes and three bytes; the shortest a
    // delta of one byte and three bytes.
    constexpr uint64_t kMost = 4 + 3, kLeast = 1 + 3;
    TrackSizeBounds bounds;
    // A tuning adds its SysEx and controllers at the start, and may bend before a note on.
    const bool tuned = doc.tuning().retunes();
    const uint64_t messagesPerStep = tuned ? 3 : 2;
    if (tuned) bounds.most += 8 * (4 + 1 + 1 + SysexMessage::kMaxBytes) + 16 * 8 * kMost;
    for (const Settings& e : events) {
        bounds.most += (4 + 6) + (4 + 7) + writtenVoices * 2 * kMost;  // tempo, time signature, programs, pans
        const int64_t start = e.global.startCounter, end = e.global.endCounter;
        if (end <= start) continue;
        const NoteEngine grid(e.voices);
        for (int v = 0; v < kVoices; ++v) {
            const auto i = static_cast<size_t>(v);
            if (!written[i]) continue;
            const int64_t first = grid.nextDue(v, start).tick;
            const auto steps = first < end ? static_cast<uint64_t>((end - 1 - first) / grid.noteLength(v) + 1) : 0;
            bounds.most += messagesPerStep * steps * kMost;
            // A voice that does not tie (or, in a composition, is off in this event) strikes
            // at every step: a note on, and a note off for the key before (but the first).
            const bool strikesEveryStep = e.voices[i].tied == 0 || (composition && e.voices[i].enabled == 0);
            if (strikesEveryStep && steps > 0) bounds.least += (2 * steps - 1) * kLeast;
        }
    }
    bounds.most += writtenVoices * 128 * kMost + kMost;  // the closing note offs and the end of the track
    return bounds;
}

ExportResult exportMidi(const CTarrowinDoc& doc, const ExportOptions& options, ReplacingFile& file) {
    const auto give = [&file](ExportResult r) {
        if (!r.ok) {
            if (r.detail.empty()) r.detail = file.error();
            file.abandon();
            return r;
        }
        if (!file.commit()) {
            ExportResult failed = refusal("Could not write file", kProgramCaption);
            failed.detail = file.error();
            return failed;
        }
        return r;
    };
    if (ExportResult check = checkMidiExport(doc, options.mode, options.percussionChannel); !check.ok) return give(check);
    const TrackSizeBounds bounds = trackSizeBounds(doc, options.mode);
    if (bounds.least > kLargestTrack) return give(tooLarge(bounds.least, true));
    if (!file.streaming() && bounds.most <= kLargestTrack) {
        FileOutput out(file);
        return give(writeMidi(doc, options, out));
    }

    // The size must be known before the first byte: a run that only counts, then the same
    // run (the same random run lengths) that writes. Progress goes over both.
    ExportOptions run = options;
    if (!run.seed) run.seed = defaultRunLengthSeed().value_or(freshSeed());
    const int64_t ticks = exportTicks(doc, options.mode);
    ExportProgress counting, writing;
    if (options.progress) {
        counting = [&options](int64_t done, int64_t total) { return options.progress(done, 2 * total); };
        writing = [&options](int64_t done, int64_t total) { return options.progress(total + done, 2 * total); };
    }
    TrackSizeSink sizer;
    ExportControl control(counting, ticks);
    control.report(0);
    PerformanceOptions counted = performanceOptions(run);
    const Retuning::Planned tuning = exportTuning(doc, counted);
    counted.retuning = tuning.retuning.get();
    perform(counted, doc.current(), doc.composition().events(), sizer, control);
    if (control.cancelled()) {
        ExportResult r;
        r.cancelled = true;
        return give(r);
    }
    if (sizer.size() > kLargestTrack) return give(tooLarge(sizer.size(), false));
    run.progress = writing;
    if (!file.streaming()) {
        FileOutput out(file);
        return give(writeMidi(doc, run, out));
    }
    StreamingOutput out(file, sizer.size());
    ExportResult r = writeMidi(doc, run, out);
    if (out.lengthChanged()) r.detail = "its length changed while it was written";
    return give(r);
}

ExportResult exportMidi(const CTarrowinDoc& doc, const ExportOptions& options, const std::string& path) {
    // A refused export touches no file.
    if (ExportResult check = checkMidiExport(doc, options.mode, options.percussionChannel); !check.ok) return check;
    ReplacingFile file;
    if (!file.open(path)) {
        ExportResult r = refusal(kCreateFailedMessage, kProgramCaption);
        r.detail = file.error();
        return r;
    }
    return exportMidi(doc, options, file);
}

ExportResult exportMidi(const CTarrowinDoc& doc, ExportMode mode, const std::string& path, int32_t percussionChannel,
                        const ExportProgress& progress) {
    return exportMidi(doc, ExportOptions{mode, percussionChannel, progress, std::nullopt}, path);
}

}  // namespace tarrowin

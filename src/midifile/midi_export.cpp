#include "midi_export.h"

#include <algorithm>

#include "document/replacing_file.h"

namespace tarrowin {

namespace {

// The time signature event's MIDI clocks per click and 32nd notes per quarter note.
constexpr int kClocksPerClick = 8;
constexpr int kThirtySecondsPerQuarter = 8;
// How often the progress callback is told, in parts of the whole export.
constexpr int64_t kProgressSteps = 1000;

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

}  // namespace

void MidiFileSink::eventBegins(int, const GlobalSettings& global, int64_t date) {
    const auto d = static_cast<uint64_t>(date);
    writer_.tempo(d, tempoMicroseconds(global.tempo));
    writer_.timeSignature(d, global.timeSigNumerator, denominatorPower(global.timeSigDenominator), kClocksPerClick,
                          kThirtySecondsPerQuarter);
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
        default: break;  // a performance sends no other kind
    }
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

ExportResult writeMidi(const CTarrowinDoc& doc, const ExportOptions& options, ByteOutput& out) {
    if (ExportResult check = checkExport(doc, options.mode); !check.ok) return check;

    MidiFileWriter writer(out);
    MidiFileSink sink(writer);
    const int64_t total = exportTicks(doc, options.mode);
    ExportControl control(options.progress, total);
    control.report(0);

    PerformanceOptions run;
    run.mode = options.mode == ExportMode::CurrentSettings ? PerformanceMode::ExportCurrent
                                                            : PerformanceMode::ExportComposition;
    run.percussionChannel = options.percussionChannel;
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
    const ExportResult r = writeMidi(doc, ExportOptions{mode, percussionChannel, progress}, out);
    if (r.ok) bytes = std::move(out.bytes);
    return r;
}

ExportResult exportMidi(const CTarrowinDoc& doc, ExportMode mode, const std::string& path, int32_t percussionChannel,
                        const ExportProgress& progress) {
    // A refused export touches no file.
    if (ExportResult check = checkExport(doc, mode); !check.ok) return check;

    ReplacingFile file;
    if (!file.open(path)) {
        ExportResult r = refusal(kCreateFailedMessage, kProgramCaption);
        r.detail = file.error();
        return r;
    }
    FileOutput out(file);
    ExportResult r = writeMidi(doc, ExportOptions{mode, percussionChannel, progress}, out);
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
}

}  // namespace tarrowin

#include "wav_render.h"

#include <array>
#include <memory>

#include "document/replacing_file.h"
#include "synth.h"

namespace tarrowin {

namespace {

int64_t ticksOf(const GlobalSettings& g) {
    return std::max<int64_t>(0, static_cast<int64_t>(g.endCounter) - g.startCounter);
}

// The 44-byte header of a 16-bit stereo PCM file.
std::array<unsigned char, 44> wavHeader(int sampleRate, uint32_t dataBytes) {
    std::array<unsigned char, 44> h{};
    size_t at = 0;
    const auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i) h[at++] = static_cast<unsigned char>(t[i]);
    };
    const auto le = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at++] = static_cast<unsigned char>(value >> (8 * i));
    };
    tag("RIFF");
    le(36 + dataBytes, 4);
    tag("WAVE");
    tag("fmt ");
    le(16, 4);
    le(1, 2);  // PCM
    le(2, 2);  // stereo
    le(static_cast<uint32_t>(sampleRate), 4);
    le(static_cast<uint32_t>(sampleRate) * 4, 4);
    le(4, 2);
    le(16, 2);
    tag("data");
    le(dataBytes, 4);
    return h;
}

// The WAV file's header and audio into an output; the header states the length the
// render will have, and is corrected at the end where the output allows it.
class WavFile {
   public:
    WavFile(ReplacingFile& file, int sampleRate, int64_t expectedFrames)
        : file_(file), sampleRate_(sampleRate), expectedBytes_(static_cast<uint64_t>(expectedFrames) * 4) {}

    std::string begin() {
        const auto header = wavHeader(sampleRate_, static_cast<uint32_t>(expectedBytes_));
        return write(header.data(), header.size());
    }

    std::string writeFrames(const int16_t* frames, int count) {
        // WAV is little-endian, like every machine this builds for.
        dataBytes_ += static_cast<uint64_t>(count) * 4;
        return write(frames, static_cast<size_t>(count) * 4);
    }

    std::string finish() {
        if (dataBytes_ != expectedBytes_) {
            const auto header = wavHeader(sampleRate_, static_cast<uint32_t>(dataBytes_));
            if (!file_.writeAt(0, header.data(), header.size())) return "Could not write the WAV file: " + file_.error();
        }
        if (!file_.commit()) return "Could not write the WAV file: " + file_.error();
        return {};
    }

   private:
    std::string write(const void* data, size_t bytes) {
        if (!file_.write(static_cast<const uint8_t*>(data), bytes)) return "Could not write the WAV file: " + file_.error();
        return {};
    }

    ReplacingFile& file_;
    int sampleRate_;
    uint64_t expectedBytes_;
    uint64_t dataBytes_ = 0;
};

// Plays the stream into the synthesizer: before each message the audio is rendered up to
// the message's time.
class Renderer final : public PerformanceSink, public PerformanceControl {
   public:
    Renderer(SynthCore& synth, WavFile& file, int sampleRate, int64_t totalTicks, const RenderProgress& progress)
        : synth_(synth), file_(file), rate_(sampleRate), totalTicks_(totalTicks), progress_(progress) {}

    const std::string& error() const { return error_; }
    int64_t frames() const { return frames_; }
    int64_t ms() const { return ms_; }

    void message(int64_t, const ShortMessage& m) override {
        renderTo(frameAt(ms_));
        synth_.handle(m);
    }
    bool playing() override { return error_.empty(); }
    void tickDone(int64_t, int32_t tickLengthMs) override {
        ms_ += tickLengthMs;
        ++ticks_;
        if (progress_ && totalTicks_ > 0 && ticks_ % 256 == 0) progress_(static_cast<double>(ticks_) / totalTicks_);
    }

    void renderTo(int64_t frame) {
        while (frames_ < frame && error_.empty()) {
            const int n = static_cast<int>(std::min<int64_t>(kBlock, frame - frames_));
            synth_.render(n, buffer_.data());
            error_ = file_.writeFrames(buffer_.data(), n);
            frames_ += n;
        }
    }
    int64_t frameAt(int64_t ms) const { return ms * rate_ / 1000; }

   private:
    static constexpr int kBlock = 4096;
    SynthCore& synth_;
    WavFile& file_;
    const int rate_;
    const int64_t totalTicks_;
    const RenderProgress& progress_;
    std::array<int16_t, kBlock * 2> buffer_{};
    int64_t frames_ = 0;
    int64_t ms_ = 0;
    int64_t ticks_ = 0;
    std::string error_;
};

}  // namespace

int64_t performanceLengthMs(PerformanceMode mode, const Settings& current, std::span<const Settings> events) {
    if (mode == PerformanceMode::ExportCurrent || mode == PerformanceMode::Live) {
        return ticksOf(current.global) * tickLengthMs(current.global.tempo);
    }
    int64_t ms = 0;
    for (const Settings& e : events) ms += ticksOf(e.global) * tickLengthMs(e.global.tempo);
    return ms;
}

RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         const std::string& path, const RenderOptions& options, const RenderProgress& progress) {
    ReplacingFile file;
    if (!file.open(path)) {
        RenderResult result;
        result.message = "Could not create " + path + ": " + file.error();
        return result;
    }
    return renderToWav(mode, current, events, file, options, progress);
}

RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         ReplacingFile& output, const RenderOptions& options, const RenderProgress& progress) {
    RenderResult result;
    // Whatever ends the render before the file is complete leaves the target as it was.
    struct Abandon {
        ReplacingFile& file;
        ~Abandon() { file.abandon(); }
    } abandonUnlessCommitted{output};
    if (mode != PerformanceMode::ExportCurrent && mode != PerformanceMode::ExportComposition) {
        result.message = "Only the export of the current settings or of the composition renders to a file";
        return result;
    }
    if (options.sampleRate < 8000 || options.sampleRate > 192000) {
        result.message = "The sample rate must lie between 8000 and 192000";
        return result;
    }
    if (!(options.tailSeconds >= 0.0 && options.tailSeconds <= 60.0)) {
        result.message = "The tail must lie between 0 and 60 seconds";
        return result;
    }
    const int64_t lengthMs = performanceLengthMs(mode, current, events);
    const int64_t tailFrames = static_cast<int64_t>(options.tailSeconds * options.sampleRate);
    const int64_t totalFrames = lengthMs * options.sampleRate / 1000 + tailFrames;
    if (totalFrames * 4 > 0xFFFFFFFFLL - 44) {
        result.message = "The rendering would last " + std::to_string(lengthMs / 60000) +
                         " minutes, more than a WAV file can hold";
        return result;
    }

    const SoundFontChoice font = findSoundFont(options.soundFont);
    if (!font.found()) {
        result.message = font.message;
        return result;
    }
    result.soundFont = font.path;
    SynthCore::Created created = SynthCore::create(font.path, options.sampleRate);
    if (!created.synth) {
        result.message = created.message;
        return result;
    }
    created.synth->reset(options.percussionChannel);

    WavFile file(output, options.sampleRate, totalFrames);
    if (std::string e = file.begin(); !e.empty()) {
        result.message = e;
        return result;
    }
    int64_t totalTicks = 0;
    if (mode == PerformanceMode::ExportCurrent) {
        totalTicks = ticksOf(current.global);
    } else {
        for (const Settings& e : events) totalTicks += ticksOf(e.global);
    }

    Renderer renderer(*created.synth, file, options.sampleRate, totalTicks, progress);
    PerformanceOptions run;
    run.mode = mode;
    run.percussionChannel = options.percussionChannel;
    run.seed = options.seed;
    perform(run, current, events, renderer, renderer);
    renderer.renderTo(renderer.frameAt(renderer.ms()) + tailFrames);
    if (!renderer.error().empty()) {
        result.message = renderer.error();
        return result;
    }
    if (std::string e = file.finish(); !e.empty()) {
        result.message = e;
        return result;
    }
    if (progress) progress(1.0);
    result.ok = true;
    result.frames = renderer.frames();
    result.playbackMs = renderer.ms();
    return result;
}

}  // namespace tarrowin

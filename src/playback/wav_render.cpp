#include "wav_render.h"

#include <sndfile.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <cstring>
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

// An audio file made into an output; whatever is not committed is abandoned by the caller.
class AudioFile {
   public:
    virtual ~AudioFile() = default;
    virtual std::string begin() = 0;
    // Interleaved 16-bit stereo frames.
    virtual std::string writeFrames(const int16_t* frames, int count) = 0;
    virtual std::string finish() = 0;
};

// The WAV file's header and audio into an output; the header states the length the
// render will have, and is corrected at the end where the output allows it.
class WavFile final : public AudioFile {
   public:
    WavFile(ReplacingFile& file, int sampleRate, int64_t expectedFrames)
        : file_(file), sampleRate_(sampleRate), expectedBytes_(static_cast<uint64_t>(expectedFrames) * 4) {}

    std::string begin() override {
        const auto header = wavHeader(sampleRate_, static_cast<uint32_t>(expectedBytes_));
        return write(header.data(), header.size());
    }

    std::string writeFrames(const int16_t* frames, int count) override {
        // WAV is little-endian, like every machine this builds for.
        dataBytes_ += static_cast<uint64_t>(count) * 4;
        return write(frames, static_cast<size_t>(count) * 4);
    }

    std::string finish() override {
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

// FLAC through libsndfile, which encodes as the frames come. Its bytes go into the same
// output as a WAV's, through libsndfile's virtual file: the encoder goes back to the start
// at the end to complete the stream's header. A stream (a pipe, a device) cannot go back:
// there the header keeps what it said first, "unknown" for the length, the checksum and
// the frame sizes, as a FLAC stream may, and decoders read it as they read any other.
class FlacFile final : public AudioFile {
   public:
    FlacFile(ReplacingFile& file, int sampleRate) : file_(file), sampleRate_(sampleRate) {}
    ~FlacFile() override {
        if (sf_ != nullptr) sf_close(sf_);
    }

    std::string begin() override {
        SF_VIRTUAL_IO io{&length, &seek, &read, &write, &tell};
        SF_INFO info{};
        info.samplerate = sampleRate_;
        info.channels = 2;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        sf_ = sf_open_virtual(&io, SFM_WRITE, &info, this);
        if (sf_ == nullptr) return std::string("Could not create the FLAC file: ") + sf_strerror(nullptr);
        return {};
    }

    std::string writeFrames(const int16_t* frames, int count) override {
        if (sf_writef_short(sf_, frames, count) != count) return failure(sf_strerror(sf_));
        return {};
    }

    std::string finish() override {
        const int closed = sf_close(sf_);
        sf_ = nullptr;
        if (closed != 0 || !error_.empty()) return failure(sf_error_number(closed));
        if (!file_.commit()) return failure(file_.error().c_str());
        return {};
    }

   private:
    std::string failure(const char* reason) const {
        return "Could not write the FLAC file: " + (error_.empty() ? std::string(reason) : error_);
    }
    static FlacFile& self(void* user) { return *static_cast<FlacFile*>(user); }
    static sf_count_t length(void* user) { return self(user).size_; }
    static sf_count_t tell(void* user) { return self(user).at_; }
    static sf_count_t read(void*, sf_count_t, void*) { return 0; }  // written only
    static sf_count_t seek(sf_count_t offset, int whence, void* user) {
        FlacFile& f = self(user);
        const sf_count_t base = whence == SEEK_CUR ? f.at_ : whence == SEEK_END ? f.size_ : 0;
        f.at_ = std::clamp<sf_count_t>(base + offset, 0, f.size_);
        return f.at_;
    }
    static sf_count_t write(const void* data, sf_count_t count, void* user) {
        FlacFile& f = self(user);
        const auto* bytes = static_cast<const uint8_t*>(data);
        // What lies over bytes already written is rewritten in place (left as it was on a
        // stream); the rest is appended.
        const sf_count_t over = std::min(count, f.size_ - f.at_);
        bool ok = over <= 0 || f.file_.streaming() ||
                  f.file_.writeAt(static_cast<uint64_t>(f.at_), bytes, static_cast<size_t>(over));
        if (ok && count > over) ok = f.file_.write(bytes + std::max<sf_count_t>(over, 0), static_cast<size_t>(count - std::max<sf_count_t>(over, 0)));
        if (!ok) {
            f.error_ = f.file_.error();
            return 0;
        }
        f.at_ += count;
        f.size_ = std::max(f.size_, f.at_);
        return count;
    }

    ReplacingFile& file_;
    int sampleRate_;
    SNDFILE* sf_ = nullptr;
    sf_count_t at_ = 0;
    sf_count_t size_ = 0;
    std::string error_;
};

// Plays the stream into the synthesizer: before each message the audio is rendered up to
// the message's time.
class Renderer final : public PerformanceSink, public PerformanceControl {
   public:
    Renderer(SynthCore& synth, AudioFile& file, int sampleRate, int64_t totalTicks, const RenderProgress& progress,
             const std::function<bool()>& cancelled)
        : synth_(synth),
          file_(file),
          rate_(sampleRate),
          totalTicks_(totalTicks),
          progress_(progress),
          cancelled_(cancelled) {}

    const std::string& error() const { return error_; }
    bool cancelled() const { return cancelRequested_; }
    int64_t frames() const { return frames_; }
    int64_t ms() const { return ms_; }

    void message(int64_t, const ShortMessage& m) override {
        renderTo(frameAt(ms_));
        synth_.handle(m);
    }
    bool playing() override {
        if (!cancelRequested_ && cancelled_ && cancelled_()) cancelRequested_ = true;
        return error_.empty() && !cancelRequested_;
    }
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
    AudioFile& file_;
    const int rate_;
    const int64_t totalTicks_;
    const RenderProgress& progress_;
    const std::function<bool()>& cancelled_;
    bool cancelRequested_ = false;
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

std::optional<AudioFormat> audioFormatFor(const std::string& path) {
    const auto ends = [&path](const char* suffix) {
        const size_t n = std::strlen(suffix);
        return path.size() > n && strcasecmp(path.c_str() + path.size() - n, suffix) == 0;
    };
    if (ends(".wav")) return AudioFormat::Wav;
    if (ends(".flac")) return AudioFormat::Flac;
    return std::nullopt;
}

RenderResult renderToAudio(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                           const std::string& path, const RenderOptions& options, const RenderProgress& progress) {
    ReplacingFile file;
    if (!file.open(path)) {
        RenderResult result;
        result.message = "Could not create " + path + ": " + file.error();
        return result;
    }
    return renderToAudio(mode, current, events, file, options, progress);
}

RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         const std::string& path, const RenderOptions& options, const RenderProgress& progress) {
    RenderOptions wav = options;
    wav.format = AudioFormat::Wav;
    return renderToAudio(mode, current, events, path, wav, progress);
}

RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         ReplacingFile& output, const RenderOptions& options, const RenderProgress& progress) {
    RenderOptions wav = options;
    wav.format = AudioFormat::Wav;
    return renderToAudio(mode, current, events, output, wav, progress);
}

RenderResult renderToAudio(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
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
    if (options.format == AudioFormat::Wav && totalFrames * 4 > 0xFFFFFFFFLL - 44) {
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

    std::unique_ptr<AudioFile> audio;
    if (options.format == AudioFormat::Flac)
        audio = std::make_unique<FlacFile>(output, options.sampleRate);
    else
        audio = std::make_unique<WavFile>(output, options.sampleRate, totalFrames);
    AudioFile& file = *audio;
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

    Renderer renderer(*created.synth, file, options.sampleRate, totalTicks, progress, options.cancelled);
    PerformanceOptions run;
    run.mode = mode;
    run.percussionChannel = options.percussionChannel;
    run.seed = options.seed;
    perform(run, current, events, renderer, renderer);
    if (renderer.cancelled()) {
        result.cancelled = true;
        result.message = "The export was cancelled";
        return result;
    }
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

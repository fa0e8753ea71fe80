#include "wav_render.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <strings.h>

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

// An audio file written under a temporary name beside its target and renamed over it once
// complete; a file that is not finished is removed.
class AudioFile {
   public:
    explicit AudioFile(std::string path) : path_(std::move(path)) {}
    virtual ~AudioFile() {
        if (!temp_.empty()) std::remove(temp_.c_str());
    }
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    virtual std::string create(int sampleRate) = 0;
    // Interleaved 16-bit stereo frames.
    virtual std::string writeFrames(const int16_t* frames, int count) = 0;
    virtual std::string finish() = 0;

   protected:
    // A new private file beside the target, with the mode any new file of the user gets.
    // Returns its descriptor, or -1 with `error` set.
    int createTemp(std::string& error) {
        std::string pattern = path_ + ".XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0) {
            error = "Could not create " + path_ + ": " + std::strerror(errno);
            return -1;
        }
        temp_ = pattern;
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        return fd;
    }
    std::string moveIntoPlace() {
        std::error_code ec;
        std::filesystem::rename(temp_, path_, ec);
        if (ec) return "Could not write " + path_ + ": " + ec.message();
        temp_.clear();
        return {};
    }
    std::string failure(const char* what) const { return std::string(what) + " " + path_ + ": " + std::strerror(errno); }

    std::string path_;
    std::string temp_;
};

class WavFile final : public AudioFile {
   public:
    using AudioFile::AudioFile;
    ~WavFile() override {
        if (file_ != nullptr) std::fclose(file_);
    }

    std::string create(int sampleRate) override {
        sampleRate_ = sampleRate;
        std::string error;
        const int fd = createTemp(error);
        if (fd < 0) return error;
        file_ = fdopen(fd, "wb");
        if (file_ == nullptr) {
            ::close(fd);
            return failure("Could not create");
        }
        const auto header = wavHeader(sampleRate, 0);
        return write(header.data(), header.size());
    }

    std::string writeFrames(const int16_t* frames, int count) override {
        // WAV is little-endian, like every machine this builds for.
        dataBytes_ += static_cast<uint64_t>(count) * 4;
        return write(frames, static_cast<size_t>(count) * 4);
    }

    std::string finish() override {
        const auto header = wavHeader(sampleRate_, static_cast<uint32_t>(dataBytes_));
        if (std::fseek(file_, 0, SEEK_SET) != 0) return failure("Could not write");
        if (std::string e = write(header.data(), header.size()); !e.empty()) return e;
        if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0) return failure("Could not write");
        std::fclose(file_);
        file_ = nullptr;
        return moveIntoPlace();
    }

   private:
    std::string write(const void* data, size_t bytes) {
        if (std::fwrite(data, 1, bytes, file_) != bytes) return failure("Could not write");
        return {};
    }

    std::FILE* file_ = nullptr;
    int sampleRate_ = 44100;
    uint64_t dataBytes_ = 0;
};

// FLAC through libsndfile, which encodes as the frames come.
class FlacFile final : public AudioFile {
   public:
    using AudioFile::AudioFile;
    ~FlacFile() override {
        if (file_ != nullptr) sf_close(file_);
    }

    std::string create(int sampleRate) override {
        std::string error;
        const int fd = createTemp(error);
        if (fd < 0) return error;
        SF_INFO info{};
        info.samplerate = sampleRate;
        info.channels = 2;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
        if (file_ == nullptr) {
            ::close(fd);
            return "Could not create " + path_ + ": " + sf_strerror(nullptr);
        }
        return {};
    }

    std::string writeFrames(const int16_t* frames, int count) override {
        if (sf_writef_short(file_, frames, count) != count) return "Could not write " + path_ + ": " + sf_strerror(file_);
        return {};
    }

    std::string finish() override {
        sf_write_sync(file_);
        const int closed = sf_close(file_);
        file_ = nullptr;
        if (closed != 0) return "Could not write " + path_ + ": " + sf_error_number(closed);
        return moveIntoPlace();
    }

   private:
    SNDFILE* file_ = nullptr;
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

RenderResult renderToWav(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                         const std::string& path, const RenderOptions& options, const RenderProgress& progress) {
    RenderOptions wav = options;
    wav.format = AudioFormat::Wav;
    return renderToAudio(mode, current, events, path, wav, progress);
}

RenderResult renderToAudio(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                           const std::string& path, const RenderOptions& options, const RenderProgress& progress) {
    RenderResult result;
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
    if (options.format == AudioFormat::Flac) {
        audio = std::make_unique<FlacFile>(path);
    } else {
        audio = std::make_unique<WavFile>(path);
    }
    AudioFile& file = *audio;
    if (std::string e = file.create(options.sampleRate); !e.empty()) {
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

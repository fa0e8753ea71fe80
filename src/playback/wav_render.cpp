#include "wav_render.h"

#include <sndfile.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "document/replacing_file.h"
#include "engine/retuning.h"
#include "synth.h"

namespace tarrowin {

namespace {

namespace fs = std::filesystem;

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
    explicit AudioFile(ReplacingFile& file) : file_(file) {}
    virtual ~AudioFile() = default;
    virtual std::string begin() = 0;
    // Interleaved 16-bit stereo frames.
    virtual std::string writeFrames(const int16_t* frames, int count) = 0;
    // Completes the file's bytes; commit() then puts it in place.
    virtual std::string complete() = 0;
    std::string commit() {
        if (!file_.commit()) return std::string("Could not write the ") + kind() + " file: " + file_.error();
        return {};
    }

   protected:
    virtual const char* kind() const = 0;
    ReplacingFile& file_;
};

// The WAV file's header and audio into an output; the header states the length the
// render will have, and is corrected at the end where the output allows it.
class WavFile final : public AudioFile {
   public:
    WavFile(ReplacingFile& file, int sampleRate, int64_t expectedFrames)
        : AudioFile(file), sampleRate_(sampleRate), expectedBytes_(static_cast<uint64_t>(expectedFrames) * 4) {}

    std::string begin() override {
        const auto header = wavHeader(sampleRate_, static_cast<uint32_t>(expectedBytes_));
        return write(header.data(), header.size());
    }

    std::string writeFrames(const int16_t* frames, int count) override {
        // WAV is little-endian, like every machine this builds for.
        dataBytes_ += static_cast<uint64_t>(count) * 4;
        return write(frames, static_cast<size_t>(count) * 4);
    }

    std::string complete() override {
        if (dataBytes_ != expectedBytes_) {
            const auto header = wavHeader(sampleRate_, static_cast<uint32_t>(dataBytes_));
            if (!file_.writeAt(0, header.data(), header.size())) return "Could not write the WAV file: " + file_.error();
        }
        return {};
    }

   private:
    const char* kind() const override { return "WAV"; }
    std::string write(const void* data, size_t bytes) {
        if (!file_.write(static_cast<const uint8_t*>(data), bytes)) return "Could not write the WAV file: " + file_.error();
        return {};
    }

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
    FlacFile(ReplacingFile& file, int sampleRate) : AudioFile(file), sampleRate_(sampleRate) {}
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

    std::string complete() override {
        const int closed = sf_close(sf_);
        sf_ = nullptr;
        if (closed != 0 || !error_.empty()) return failure(sf_error_number(closed));
        return {};
    }

   private:
    const char* kind() const override { return "FLAC"; }
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

    int sampleRate_;
    SNDFILE* sf_ = nullptr;
    sf_count_t at_ = 0;
    sf_count_t size_ = 0;
    std::string error_;
};

// Where the rendered audio goes, a block at a time.
class RenderTarget {
   public:
    virtual ~RenderTarget() = default;
    // Renders `frames` frames from the synthesizer into the files; an error or "".
    virtual std::string render(SynthCore& synth, int frames) = 0;
    // Voice v has struck a note, which sounds in the frames rendered from now on.
    virtual std::string voiceSounds(int v) {
        (void)v;
        return {};
    }
    static constexpr int kBlock = 4096;
};

// The mix alone: the synthesizer's 16-bit output, dithered by SynthCore::render.
class MixTarget final : public RenderTarget {
   public:
    explicit MixTarget(AudioFile& mix) : mix_(mix) {}
    std::string render(SynthCore& synth, int frames) override {
        synth.render(frames, buffer_.data());
        return mix_.writeFrames(buffer_.data(), frames);
    }

   private:
    AudioFile& mix_;
    std::array<int16_t, kBlock * 2> buffer_{};
};

// The mix, a file for each voice that sounds and one for the effects, from the
// synthesizer's outputs. They are rounded to 16 bits along their running sum: output k
// gets round(sum up to k) minus round(sum up to the output before), so each is within one
// step of its exact value and together they add up exactly to the mix, round(sum of all)
// (where nothing clips). A voice enters the sum, and its file begins (silent up to then),
// with its first note, the effects with the first note of any voice: until then their
// outputs hold nothing but the reverb's offset against denormal numbers.
class StemsTarget final : public RenderTarget {
   public:
    StemsTarget(AudioFile& mix, std::array<std::unique_ptr<AudioFile>, kStems>& stems)
        : mix_(mix), stems_(stems), outputs_(static_cast<size_t>(2 * kStems * kBlock)),
          out_(static_cast<size_t>((kStems + 1) * kBlock * 2)) {}

    bool sounded(int stem) const { return sounding_[static_cast<size_t>(stem)]; }

    std::string voiceSounds(int v) override {
        if (std::string e = begin(kEffectsStem); !e.empty()) return e;
        return begin(v);
    }

    std::string render(SynthCore& synth, int frames) override {
        std::array<float*, 2 * kStems> outputs{};
        for (size_t c = 0; c < outputs.size(); ++c) outputs[c] = outputs_.data() + c * kBlock;
        synth.renderVoices(frames, outputs.data());
        // out_ holds the mix's interleaved frames, then those of stem 0, 1, ...
        const auto file = [this](size_t k) { return out_.data() + k * kBlock * 2; };
        const auto n = static_cast<size_t>(frames);
        std::fill(sum_.begin(), sum_.begin() + 2 * frames, 0.0);
        std::fill(before_.begin(), before_.begin() + 2 * frames, 0);
        for (size_t k = 0; k < kStems; ++k) {
            if (!sounding_[k]) continue;
            const float* left = outputs[2 * k];
            const float* right = outputs[2 * k + 1];
            int16_t* out = file(k + 1);
            for (size_t i = 0; i < n; ++i) {
                sum_[2 * i] += left[i];
                sum_[2 * i + 1] += right[i];
            }
            for (size_t i = 0; i < 2 * n; ++i) {
                const int32_t upTo = roundToStep(sum_[i]);
                out[i] = clip(upTo - before_[i]);
                before_[i] = upTo;
            }
        }
        int16_t* mix = file(0);
        for (size_t i = 0; i < 2 * n; ++i) mix[i] = clip(before_[i]);
        if (std::string e = mix_.writeFrames(file(0), frames); !e.empty()) return e;
        for (size_t k = 0; k < kStems; ++k) {
            if (!sounding_[k]) continue;
            if (std::string e = stems_[k]->writeFrames(file(k + 1), frames); !e.empty()) return e;
        }
        frames_ += frames;
        return {};
    }

   private:
    // FluidSynth's own 16-bit output: this scale, rounded half away from zero. The stems
    // sound as loud as a mix rendered without them.
    static int32_t roundToStep(double x) {
        const double scaled = x * 32766.0;
        return static_cast<int32_t>(scaled + std::copysign(0.5, scaled));
    }
    static int16_t clip(int32_t value) { return static_cast<int16_t>(std::clamp<int32_t>(value, -32768, 32767)); }

    std::string begin(int stem) {
        const auto at = static_cast<size_t>(stem);
        if (sounding_[at]) return {};
        sounding_[at] = true;
        AudioFile& file = *stems_[at];
        if (std::string e = file.begin(); !e.empty()) return e;
        const std::vector<int16_t> silence(static_cast<size_t>(kBlock * 2), 0);
        for (int64_t done = 0; done < frames_;) {
            const int n = static_cast<int>(std::min<int64_t>(kBlock, frames_ - done));
            if (std::string e = file.writeFrames(silence.data(), n); !e.empty()) return e;
            done += n;
        }
        return {};
    }

    AudioFile& mix_;
    std::array<std::unique_ptr<AudioFile>, kStems>& stems_;
    std::vector<float> outputs_;  // 2 * kStems channels of kBlock frames
    std::vector<int16_t> out_;    // 1 + kStems files of kBlock interleaved stereo frames
    std::array<double, 2 * kBlock> sum_{};      // the running sum, interleaved
    std::array<int32_t, 2 * kBlock> before_{};  // and its rounding
    std::array<bool, kStems> sounding_{};
    int64_t frames_ = 0;
};

// Plays the stream into the synthesizer: before each message the audio is rendered up to
// the message's time.
class Renderer final : public PerformanceSink, public PerformanceControl {
   public:
    Renderer(SynthCore& synth, RenderTarget& target, int sampleRate, int64_t totalTicks, const RenderProgress& progress,
             const std::function<bool()>& cancelled)
        : synth_(synth),
          target_(target),
          rate_(sampleRate),
          totalTicks_(totalTicks),
          progress_(progress),
          cancelled_(cancelled) {}

    const std::string& error() const { return error_; }
    bool cancelled() const { return cancelRequested_; }
    int64_t frames() const { return frames_; }
    int64_t ms() const { return ms_; }

    void voiceStrikes(int v, int32_t) override { voice_ = v; }
    void message(int64_t, const ShortMessage& m) override {
        renderTo(frameAt(ms_));
        // A note on follows the strike of the voice it belongs to.
        synth_.handle(m, voice_);
        if ((m.status & 0xF0) == 0x90 && m.data2 > 0 && error_.empty()) error_ = target_.voiceSounds(voice_);
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
            const int n = static_cast<int>(std::min<int64_t>(RenderTarget::kBlock, frame - frames_));
            error_ = target_.render(synth_, n);
            frames_ += n;
        }
    }
    int64_t frameAt(int64_t ms) const { return ms * rate_ / 1000; }

   private:
    SynthCore& synth_;
    RenderTarget& target_;
    const int rate_;
    const int64_t totalTicks_;
    const RenderProgress& progress_;
    const std::function<bool()>& cancelled_;
    bool cancelRequested_ = false;
    int voice_ = 0;
    int64_t frames_ = 0;
    int64_t ms_ = 0;
    int64_t ticks_ = 0;
    std::string error_;
};

PerformanceOptions renderRun(PerformanceMode mode, const RenderOptions& options) {
    PerformanceOptions run;
    run.mode = mode;
    run.percussionChannel = options.percussionChannel;
    run.seed = options.seed;
    return run;
}

// The synthesizer tunes the keys of the tuned voices' channels itself: the run sends it
// no SysEx.
Retuning::Planned renderTuning(const PerformanceOptions& run, const Settings& current, std::span<const Settings> events,
                               const RenderOptions& options) {
    if (!options.tuning) return {};
    return Retuning::plan(*options.tuning, TuningOutput::Device, run, current, events);
}

std::unique_ptr<AudioFile> makeAudioFile(AudioFormat format, ReplacingFile& output, int sampleRate, int64_t frames) {
    if (format == AudioFormat::Flac) return std::make_unique<FlacFile>(output, sampleRate);
    return std::make_unique<WavFile>(output, sampleRate, frames);
}

// A MIDI channel and a voice that the run never puts together: the one pair the
// synthesizer's voice outputs leave out. None when every voice plays on every channel.
std::optional<std::pair<int, int>> pairNeverPlayed(PerformanceMode mode, const Settings& current,
                                                   std::span<const Settings> events) {
    std::array<std::array<bool, 16>, kVoices> played{};  // [voice][channel]
    const auto note = [&played](const Settings& s) {
        for (size_t v = 0; v < kVoices; ++v) played[v][static_cast<size_t>(s.voices[v].channel & 0x0F)] = true;
    };
    if (mode == PerformanceMode::ExportCurrent) {
        note(current);
    } else {
        for (const Settings& e : events) note(e);
    }
    for (int v = kVoices - 1; v >= 0; --v) {
        for (int ch = 0; ch < 16; ++ch) {
            if (!played[static_cast<size_t>(v)][static_cast<size_t>(ch)]) return std::pair{ch, v};
        }
    }
    return std::nullopt;
}

// The stems' folder and files, opened before any work: what cannot be written is refused
// before the rendering starts.
struct StemFiles {
    OutputFolder folder;
    std::array<ReplacingFile, kStems> files;

    std::string open(const std::string& folderPath, AudioFormat format, const ReplacingFile& mix) {
        if (!folder.open(folderPath)) return "Could not use the folder " + folderPath + " for the stems: " + folder.error();
        std::error_code ec;
        const fs::path mixPath = mix.target().empty() ? fs::path() : fs::weakly_canonical(mix.target(), ec);
        for (int v = 0; v < kStems; ++v) {
            const std::string path = folder.file(stemFileName(v, format));
            if (!mixPath.empty() && fs::weakly_canonical(path, ec) == mixPath) {
                return "The mix cannot be written as the stem " + path + ": choose another name or folder";
            }
            ReplacingFile& file = files[static_cast<size_t>(v)];
            if (!file.open(path)) return "Could not create " + path + ": " + file.error();
        }
        return {};
    }

    // An earlier rendering's stem that this one does not write goes, so that the folder
    // holds the stems of one rendering.
    void removeOlder(int v, AudioFormat format) const {
        const std::string path = folder.file(stemFileName(v, format));
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
    }
};

}  // namespace

std::string renderTuningRefusal(PerformanceMode mode, const Settings& current, std::span<const Settings> events,
                                const RenderOptions& options) {
    return renderTuning(renderRun(mode, options), current, events, options).refusal;
}

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

    PerformanceOptions run = renderRun(mode, options);
    const Retuning::Planned tuning = renderTuning(run, current, events, options);
    if (!tuning.ok()) {
        result.message = tuning.refusal;
        return result;
    }
    const std::shared_ptr<const Retuning> retuning = tuning.retuning;
    run.retuning = retuning.get();

    const bool stems = !options.stemsFolder.empty();
    const std::optional<std::pair<int, int>> leftOut = pairNeverPlayed(mode, current, events);
    if (stems && !leftOut) {
        result.message = "Every voice plays on each of the 16 channels in this composition: the stems cannot keep "
                         "all of them apart";
        return result;
    }
    StemFiles stemFiles;
    if (stems) {
        if (std::string e = stemFiles.open(options.stemsFolder, options.format, output); !e.empty()) {
            result.message = e;
            return result;
        }
    }

    const SoundFontChoice font = findSoundFont(options.soundFont);
    if (!font.found()) {
        result.message = font.message;
        return result;
    }
    result.soundFont = font.path;
    SynthCore::Created created =
        SynthCore::create(font.path, options.sampleRate, stems ? SynthOutputs::PerVoice : SynthOutputs::Mix);
    if (!created.synth) {
        result.message = created.message;
        return result;
    }
    if (stems) created.synth->leaveOut(leftOut->first, leftOut->second);
    created.synth->reset(options.percussionChannel);
    created.synth->tuneKeys(retuning.get());

    const std::unique_ptr<AudioFile> mix = makeAudioFile(options.format, output, options.sampleRate, totalFrames);
    if (std::string e = mix->begin(); !e.empty()) {
        result.message = e;
        return result;
    }
    std::array<std::unique_ptr<AudioFile>, kStems> stemAudio;
    for (size_t v = 0; stems && v < kStems; ++v) {
        stemAudio[v] = makeAudioFile(options.format, stemFiles.files[v], options.sampleRate, totalFrames);
    }
    MixTarget mixOnly(*mix);
    StemsTarget mixAndStems(*mix, stemAudio);
    RenderTarget& target = stems ? static_cast<RenderTarget&>(mixAndStems) : mixOnly;

    int64_t totalTicks = 0;
    if (mode == PerformanceMode::ExportCurrent) {
        totalTicks = ticksOf(current.global);
    } else {
        for (const Settings& e : events) totalTicks += ticksOf(e.global);
    }

    Renderer renderer(*created.synth, target, options.sampleRate, totalTicks, progress, options.cancelled);
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
    // Every file is complete before the first is put in place.
    std::vector<AudioFile*> written;
    for (int v = 0; stems && v < kStems; ++v) {
        if (!mixAndStems.sounded(v)) continue;
        written.push_back(stemAudio[static_cast<size_t>(v)].get());
        result.stems.push_back(v);
    }
    written.push_back(mix.get());
    for (AudioFile* file : written) {
        if (std::string e = file->complete(); !e.empty()) {
            result.message = e;
            return result;
        }
    }
    for (AudioFile* file : written) {
        if (std::string e = file->commit(); !e.empty()) {
            result.message = e;
            return result;
        }
    }
    if (stems) {
        if (!stemFiles.folder.made()) {
            for (int v = 0; v < kStems; ++v) {
                if (!mixAndStems.sounded(v)) stemFiles.removeOlder(v, options.format);
            }
        }
        stemFiles.folder.keep();
    }
    if (progress) progress(1.0);
    result.ok = true;
    result.frames = renderer.frames();
    result.playbackMs = renderer.ms();
    return result;
}

std::string stemFileName(int stem, AudioFormat format) {
    const int number = stem + 1;
    const std::string name = stem == kEffectsStem ? std::string("effects")
                                                  : std::string("voice-") + static_cast<char>('0' + number / 10) +
                                                        static_cast<char>('0' + number % 10);
    return name + (format == AudioFormat::Flac ? ".flac" : ".wav");
}

}  // namespace tarrowin

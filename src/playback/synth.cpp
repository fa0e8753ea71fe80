#include "synth.h"

#include <dlfcn.h>
#include <fluidsynth.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>
#include <thread>

#include <sched.h>

#include "audio_system.h"
#include "clock.h"
#include "engine/retuning.h"
#include "spsc_queue.h"

namespace tarrowin {

namespace fs = std::filesystem;

std::vector<std::string> defaultSoundFontPaths() {
    return {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
            "/usr/share/sounds/sf2/TimGM6mb.sf2"};
}

namespace {

bool isFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

}  // namespace

SoundFontChoice findSoundFont(const std::string& requested, const std::string& preferred) {
    if (!requested.empty()) {
        if (isFile(requested)) return {requested, {}};
        return {{}, "SoundFont not found: " + requested};
    }
    if (const char* env = std::getenv("TARROWIN_SOUNDFONT"); env != nullptr && *env != '\0') {
        if (isFile(env)) return {env, {}};
        return {{}, std::string("The SoundFont named by TARROWIN_SOUNDFONT was not found: ") + env};
    }
    // A remembered choice whose file has gone gives way to the defaults.
    if (!preferred.empty() && isFile(preferred)) return {preferred, {}};
    std::string tried;
    for (const std::string& path : defaultSoundFontPaths()) {
        if (isFile(path)) return {path, {}};
        tried += (tried.empty() ? "" : ", ") + path;
    }
    return {{},
            "No General MIDI SoundFont found for the built-in synthesizer: set TARROWIN_SOUNDFONT or install one "
            "(e.g. the timgm6mb-soundfont package); looked for " +
                tried};
}

std::string soundFontProblem(const std::string& path) {
    std::error_code ec;
    if (!fs::exists(path, ec)) return "The file " + path + " was not found";
    if (!fs::is_regular_file(path, ec)) return path + " is not a file";
    const SynthCore::Created created = SynthCore::create(path, 44100.0);
    return created.synth ? std::string() : created.message;
}

std::vector<std::string> installedSoundFonts() {
    std::vector<std::string> folders = {"/usr/share/sounds/sf2", "/usr/share/sounds/sf3", "/usr/share/soundfonts",
                                        "/usr/local/share/soundfonts"};
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        folders.push_back(std::string(home) + "/.local/share/soundfonts");
    }
    std::vector<std::string> found;
    std::vector<fs::path> seen;  // the files behind them: a link to a listed file is left out
    for (const std::string& folder : folders) {
        std::error_code ec;
        std::vector<fs::path> files;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::string ext = it->path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if ((ext == ".sf2" || ext == ".sf3") && isFile(it->path().string())) files.push_back(it->path());
        }
        // Real files before the links to them, then by name.
        std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
            const bool linkA = fs::is_symlink(a), linkB = fs::is_symlink(b);
            return linkA != linkB ? linkB : a.filename() < b.filename();
        });
        for (const fs::path& f : files) {
            const fs::path real = fs::weakly_canonical(f, ec);
            if (std::find(seen.begin(), seen.end(), real) != seen.end()) continue;
            seen.push_back(real);
            found.push_back(f.string());
        }
    }
    return found;
}

namespace {

constexpr int64_t kUnset = std::numeric_limits<int64_t>::min();

// FluidSynth renders in blocks of this many frames; a message takes effect at the start of
// the block it is applied before.
constexpr int kSynthBlock = 64;

// The real-time drivers' period, two periods where the driver keeps several. The rendering
// runs one to two periods ahead of the sound, and every message is placed at its own
// frame, so the period sets the latency but not the precision. FluidSynth's default of 64
// frames leaves a PulseAudio stream 1.5 ms of audio, which runs dry whenever the machine
// is busy. An audio thread with real-time scheduling meets periods of 512 frames (11.6 ms)
// on a loaded machine; one without it waits behind other work for tens of milliseconds,
// and gets 2048 frames (46 ms).
constexpr int kRealtimePeriod = 512;
constexpr int kNormalPeriod = 2048;
constexpr int kRealtimePeriods = 2;
// FluidSynth's PulseAudio driver keeps no periods: it asks the server for a target latency
// of one period in all (`tlength`), which the server splits between the stream's buffer
// and the sink's. 512 frames leave each side about 6 ms, and a processor that sleeps when
// idle (a laptop saving power, a virtual machine) wakes later than that now and then: on
// an idle machine the stream ran dry, a click each time, in most three-second plays. With
// 1024 frames it did not, idle or under load, for some 14 ms more before the first sound.
constexpr int kPulseRealtimePeriod = 1024;
// The audio threads FluidSynth starts ask for this real-time priority (where the system
// allows it), above the player's worker: the stream must not wait for the notes' sender.
constexpr int kAudioPriority = 60;

// Room for this many played messages between the senders and the audio callback: an
// audition's sweep of 2048 note offs fits four times over.
constexpr size_t kQueueCapacity = 8192;

// Audio asked for beyond the driver's buffer shows that the stream runs.
constexpr std::chrono::milliseconds kRunningAudio{10};
// How long the rendering is watched, once the stream runs, before the first message: at
// least this long and two of the driver's periods.
constexpr std::chrono::milliseconds kFirstLeadTime{50};
constexpr int kFirstLeadPeriods = 2;

// The lead of the rendering (below) is measured over the buffers of the last one to two
// windows of this length.
constexpr std::chrono::milliseconds kLeadWindow{150};
// A message lies this much further ahead than the most the rendering was seen ahead, for
// a buffer asked for a little earlier than those seen.
constexpr std::chrono::milliseconds kLatencyMargin{10};
// When the rendering keeps less far ahead than that by more than this (a stream that ran
// dry for a moment, a device slower than the clock), the latency shrinks back, by at most
// 1/kCatchUpDivisor of the time played: a change of tempo nobody hears.
constexpr std::chrono::milliseconds kCatchUpThreshold{20};
constexpr int kCatchUpDivisor = 200;

// How far the audio thread renders ahead of the clock: for each buffer, its end frame
// minus the clock frame when it was asked for; the least and the most of these over the
// buffers of the last one to two windows. The audio thread reports its buffers; the
// senders read the range.
class LeadMeter {
   public:
    struct Range {
        int64_t least = kUnset;  // kUnset: no buffer since the last reset or forget
        int64_t most = kUnset;
    };

    // Before the audio thread runs.
    void reset() {
        forget_.store(false);
        publish({});
        recent_ = older_ = {};
        since_ = 0;
    }
    // Any thread: what was measured so far no longer counts.
    void forget() {
        forget_.store(true);
        publish({});
    }
    // Audio thread: a buffer ending at frame `end` was asked for at clock frame `now`.
    void buffer(int64_t end, int64_t now, int64_t window) {
        if (forget_.exchange(false)) {
            recent_ = older_ = {};
            since_ = now;
        }
        if (now - since_ >= window) {
            older_ = now - since_ < 2 * window ? recent_ : Range{};
            recent_ = {};
            since_ = now;
        }
        const int64_t ahead = end - now;
        recent_ = merge(recent_, {ahead, ahead});
        publish(merge(recent_, older_));
    }
    Range range() const { return {least_.load(), most_.load()}; }

   private:
    static Range merge(Range a, Range b) {
        if (a.most == kUnset) return b;
        if (b.most == kUnset) return a;
        return {std::min(a.least, b.least), std::max(a.most, b.most)};
    }
    void publish(Range r) {
        most_.store(r.most);
        least_.store(r.least);
    }

    std::atomic<bool> forget_{false};
    std::atomic<int64_t> least_{kUnset};
    std::atomic<int64_t> most_{kUnset};
    Range recent_;  // audio thread only, like the two below
    Range older_;
    int64_t since_ = 0;
};

}  // namespace

// What the senders hand to the audio callback: a message, or a reset of every channel.
struct SynthCore::Command {
    enum class Kind : uint8_t { Message, Reset };
    Kind kind = Kind::Message;
    ShortMessage message;
    int32_t value = 0;  // Reset: the percussion channel
    uint16_t tuned = 0;  // Reset: the MIDI channels that take the defined tuning, a bit a channel
    int64_t frame = 0;  // the stream's frame it applies at
};

struct SynthCore::Impl {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr;
    std::string wavFile;      // the file the file driver fills, once complete
    std::string partialFile;  // where it writes until then
    double sampleRate = 44100;  // the synthesizer's, as created
    double rate = 44100;        // frames a second of the stream that plays it in real time

    // PerVoice outputs: MIDI channel c of voice v is a synthesizer channel of its own, its
    // "lane", 16 * slot[c] + group[v]. FluidSynth mixes a channel's dry sound into output
    // group (channel mod 16), so each voice has an output of its own; the reverb and the
    // chorus are shared, as on a mixing desk's send buses. FluidSynth's channel 255 cannot
    // be played (its voices take 255 for "no channel", and a controller sent there would
    // reach every idle voice), so slot and group swap one pair of a MIDI channel and a
    // voice onto it, one the run never plays: leaveOut(). With a Mix output a MIDI channel
    // is one channel of the synthesizer.
    int lanes = 1;
    std::array<int, 16> slot{};
    std::array<int, kVoices> group{};
    int channel(int midiChannel, int lane) const {
        return lanes == 1 ? midiChannel : 16 * slot[static_cast<size_t>(midiChannel)] + group[static_cast<size_t>(lane)];
    }
    int firstLane(int midiChannel) const { return channel(midiChannel, 0) - (lanes == 1 ? 0 : group[0]); }
    bool playable(int c) const { return lanes == 1 || c != kUnplayableChannel; }
    static constexpr int kUnplayableChannel = 16 * kVoices - 1;
    // The lanes of each MIDI channel that have struck a note since the last reset: only
    // they can hold a note to end or cut.
    std::array<uint32_t, 16> struck{};
    std::vector<fluid_voice_t*> voiceList;  // room for every voice of the synthesizer

    // Real-time messages. A message sent at clock frame c (frames since `origin`) goes to
    // frame c + offset of the stream. The offset is the most the rendering was seen ahead
    // of the clock when the first message came, plus a margin, so that a message does not
    // arrive after its frame was rendered. It stays as long as the stream keeps that lead,
    // so the notes keep the spacing they were sent with; one that comes too late all the
    // same sounds at once. When every buffer of a window ran further ahead (the sound
    // server asks for audio earlier now) the offset grows at once; when the rendering
    // keeps well behind it, it shrinks slowly.
    //
    // The senders' side: `timed`, `origin` and the three below it, and the queue's tail;
    // startClock sets them before the audio thread runs. The audio thread's: the queue's
    // head, `rendered` and `lastCallback`, which the senders only read.
    bool timed = false;  // the driver calls process(); else messages go to the synthesizer at once
    Time origin{};
    int64_t offset = kUnset;
    int64_t lastClock = 0;  // the clock frame of the last message played
    int64_t lastFrame = 0;  // its frame
    SpscQueue<Command> queue{kQueueCapacity};  // in the order sent; frames never decrease
    std::atomic<int64_t> rendered{0};          // frames rendered since origin
    std::atomic<int64_t> lastCallback{0};      // when process() last ran, in steady-clock nanoseconds
    LeadMeter lead;

    int64_t clockFrame(Time t) const {
        return std::llround(std::chrono::duration<double>(t - origin).count() * rate);
    }
    int64_t frames(std::chrono::milliseconds ms) const { return std::llround(rate * ms.count() / 1000.0); }

    // The frame of a message sent at clock frame `clock`.
    int64_t place(int64_t clock) {
        const LeadMeter::Range ahead = lead.range();
        const int64_t margin = frames(kLatencyMargin);
        if (offset == kUnset) {
            // No buffer seen: the stream stands where it is.
            offset = (ahead.most == kUnset ? rendered.load() - clock : ahead.most) + margin;
        } else if (ahead.least != kUnset && ahead.least > offset) {
            offset = ahead.most + margin;
        } else if (ahead.most != kUnset && ahead.most + margin < offset - frames(kCatchUpThreshold)) {
            offset = std::max(ahead.most + margin, offset - (clock - lastClock) / kCatchUpDivisor);
        }
        lastClock = clock;
        lastFrame = std::max(clock + offset, lastFrame);
        return lastFrame;
    }

    ~Impl() {
        if (driver != nullptr) delete_fluid_audio_driver(driver);
        if (synth != nullptr) delete_fluid_synth(synth);
        if (settings != nullptr) delete_fluid_settings(settings);
        if (!partialFile.empty()) std::remove(partialFile.c_str());
    }
};

SynthCore::SynthCore(std::unique_ptr<Impl> impl, std::string soundFont)
    : impl_(std::move(impl)), soundFont_(std::move(soundFont)) {}

SynthCore::~SynthCore() { stopAudio(); }

namespace {

// FluidSynth does not survive every allocation that fails while it loads a SoundFont (it
// can write through the null pointer it got), and the OpenMP runtime it loads the samples
// with ends the whole process, with its own message, when it cannot start a thread or get
// memory. So the load runs on the calling thread alone, and only when the memory it needs
// can be had: the synthesizer itself, and the samples, about the file's size (an .sf3
// file's compressed samples several times it), with room to spare. What is probed is
// given back at once.
constexpr size_t kSynthesizerMemory = 16u << 20;

bool roomToLoad(const std::string& soundFont) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(soundFont, ec);
    const bool compressed = soundFont.size() > 4 && strcasecmp(soundFont.c_str() + soundFont.size() - 4, ".sf3") == 0;
    const uintmax_t need = kSynthesizerMemory + (ec ? 0 : size) * (compressed ? 12 : 3) / 2;
    if (need > std::numeric_limits<size_t>::max()) return false;
    void* probe = std::malloc(static_cast<size_t>(need));
    std::free(probe);
    return probe != nullptr;
}

void loadOnThisThreadOnly() {
    // Present only when FluidSynth was built with OpenMP; it sets the calling thread's count.
    using SetThreads = void (*)(int);
    static const auto setThreads = reinterpret_cast<SetThreads>(::dlsym(RTLD_DEFAULT, "omp_set_num_threads"));
    if (setThreads != nullptr) setThreads(1);
}

}  // namespace

SynthCore::Created SynthCore::create(const std::string& soundFont, double sampleRate, SynthOutputs outputs) {
    quietAudioLibraries();
    if (!roomToLoad(soundFont)) return {nullptr, "Not enough memory to load the SoundFont " + soundFont, true};
    loadOnThisThreadOnly();
    auto impl = std::make_unique<Impl>();
    impl->sampleRate = impl->rate = sampleRate;
    impl->settings = new_fluid_settings();
    if (impl->settings == nullptr) return {nullptr, kNoMemoryMessage, true};
    fluid_settings_setnum(impl->settings, "synth.sample-rate", sampleRate);
    // Sixteen voices at a full velocity stay below clipping at this gain.
    fluid_settings_setnum(impl->settings, "synth.gain", 0.4);
    if (outputs == SynthOutputs::PerVoice) {
        impl->lanes = kVoices;
        for (int i = 0; i < 16; ++i) impl->slot[static_cast<size_t>(i)] = impl->group[static_cast<size_t>(i)] = i;
        fluid_settings_setint(impl->settings, "synth.midi-channels", 16 * kVoices);
        for (const char* name : {"synth.audio-channels", "synth.audio-groups"}) {
            fluid_settings_setint(impl->settings, name, kVoices);
        }
    }
    impl->synth = new_fluid_synth(impl->settings);
    if (impl->synth == nullptr) return {nullptr, kNoMemoryMessage, true};
    takeFluidSynthError();
    if (fluid_synth_sfload(impl->synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        const std::string why = takeFluidSynthError();
        return {nullptr, "The SoundFont " + soundFont + " could not be loaded" + (why.empty() ? "" : ": " + why)};
    }
    impl->voiceList.resize(static_cast<size_t>(fluid_synth_get_polyphony(impl->synth)) + 1);
    std::unique_ptr<SynthCore> core(new SynthCore(std::move(impl), soundFont));
    core->reset(kDefaultPercussionChannel);
    return {std::move(core), {}};
}

void SynthCore::reset(int32_t percussionChannel) {
    Impl& d = *impl_;
    fluid_synth_t* s = d.synth;
    fluid_synth_system_reset(s);
    d.struck = {};
    for (int ch = 0; ch < 16; ++ch) {
        const bool drum = ch == (percussionChannel & 0x0F);
        for (int lane = 0; lane < d.lanes; ++lane) {
            const int c = d.channel(ch, lane);
            if (!d.playable(c)) continue;
            fluid_synth_set_channel_type(s, c, drum ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
            fluid_synth_bank_select(s, c, drum ? 128 : 0);
            fluid_synth_program_change(s, c, 0);
        }
    }
}

void SynthCore::leaveOut(int channel, int voice) {
    Impl& d = *impl_;
    if (d.lanes == 1) return;
    for (int i = 0; i < 16; ++i) d.slot[static_cast<size_t>(i)] = d.group[static_cast<size_t>(i)] = i;
    std::swap(d.slot[static_cast<size_t>(channel & 0x0F)], d.slot[15]);
    std::swap(d.group[static_cast<size_t>(voice & 0x0F)], d.group[15]);
}

void SynthCore::handle(const ShortMessage& m) { handle(m, 0); }

namespace {

// How FluidSynth cuts a sounding note when a note of the same exclusive class starts on
// its channel (a closed hi-hat ends an open one): both envelopes' release shortened to
// this many timecents, then the note released.
constexpr float kExclusiveCutRelease = -200.0f;

// Makes, across the lanes first .. first + lanes - 1 of one MIDI channel, the cut that
// FluidSynth makes inside a channel: the notes of other lanes of the exclusive class of
// the note just struck on lane `own` are cut as if they shared its channel.
void cutAcrossLanes(fluid_synth_t* s, std::vector<fluid_voice_t*>& list, int first, int lanes, int own, int key) {
    std::fill(list.begin(), list.end(), nullptr);
    fluid_synth_get_voicelist(s, list.data(), static_cast<int>(list.size()), -1);
    const auto end = std::find(list.begin(), list.end(), nullptr);
    // The note just struck: the newest notes on its lane and key (ids only grow).
    const auto struck = [&](const fluid_voice_t* v) {
        return fluid_voice_get_channel(v) == own && fluid_voice_get_key(v) == key && fluid_voice_is_on(v);
    };
    bool found = false;
    unsigned int newest = 0;
    for (auto it = list.begin(); it != end; ++it) {
        if (!struck(*it)) continue;
        newest = found ? std::max(newest, fluid_voice_get_id(*it)) : fluid_voice_get_id(*it);
        found = true;
    }
    if (!found) return;
    for (auto it = list.begin(); it != end; ++it) {
        if (!struck(*it) || fluid_voice_get_id(*it) != newest) continue;
        const float cls = fluid_voice_gen_get(*it, GEN_EXCLUSIVECLASS);
        if (cls == 0.0f) continue;
        for (auto other = list.begin(); other != end; ++other) {
            fluid_voice_t* v = *other;
            const int c = fluid_voice_get_channel(v);
            if (c < first || c >= first + lanes || c == own || !fluid_voice_is_playing(v) ||
                fluid_voice_gen_get(v, GEN_EXCLUSIVECLASS) != cls) {
                continue;
            }
            fluid_voice_gen_set(v, GEN_EXCLUSIVECLASS, 0.0f);  // cut once, as FluidSynth does
            for (const int gen : {GEN_VOLENVRELEASE, GEN_MODENVRELEASE}) {
                fluid_voice_gen_set(v, gen, kExclusiveCutRelease);
                fluid_voice_update_param(v, gen);
            }
            fluid_synth_noteoff(s, c, fluid_voice_get_key(v));
        }
    }
}

}  // namespace

void SynthCore::handle(const ShortMessage& m, int voice) {
    Impl& d = *impl_;
    fluid_synth_t* s = d.synth;
    const int ch = m.status & 0x0F;
    const int kind = m.status & 0xF0;
    uint32_t& struck = d.struck[static_cast<size_t>(ch)];
    if (kind == 0x90 && m.data2 > 0) {
        const int lane = static_cast<int>(static_cast<unsigned>(voice) % static_cast<unsigned>(d.lanes));
        const int own = d.channel(ch, lane);
        if (!d.playable(own)) return;
        const uint32_t others = d.lanes > 1 ? struck & ~(1u << lane) : 0;
        // A key struck again on a channel ends the key sounding there first.
        for (int other = 0; other < d.lanes; ++other) {
            if ((others >> other) & 1u) fluid_synth_noteoff(s, d.channel(ch, other), m.data1);
        }
        fluid_synth_noteon(s, own, m.data1, m.data2);
        if (others != 0) cutAcrossLanes(s, d.voiceList, d.firstLane(ch), d.lanes, own, m.data1);
        struck |= 1u << lane;
        return;
    }
    // Everything else is the channel's: the same on all its lanes. A note off ends the
    // key whichever voice struck it.
    const bool noteOff = kind == 0x80 || kind == 0x90;
    for (int lane = 0; lane < d.lanes; ++lane) {
        const int c = d.channel(ch, lane);
        if (!d.playable(c) || (d.lanes > 1 && noteOff && !((struck >> lane) & 1u))) continue;
        switch (kind) {
            case 0x80: fluid_synth_noteoff(s, c, m.data1); break;
            case 0x90: fluid_synth_noteon(s, c, m.data1, 0); break;  // velocity 0 ends the note
            case 0xB0: fluid_synth_cc(s, c, m.data1, m.data2); break;
            case 0xC0: fluid_synth_program_change(s, c, m.data1); break;
            case 0xE0: fluid_synth_pitch_bend(s, c, m.data1 | (m.data2 << 7)); break;
            default: break;
        }
    }
}

void SynthCore::render(int frames, int16_t* interleaved) {
    mix_.resize(static_cast<size_t>(frames) * 2);
    fluid_synth_write_float(impl_->synth, frames, mix_.data(), 0, 2, mix_.data(), 1, 2);
    // As FluidSynth converts: full scale is 32766, plus triangular noise of one step (the
    // difference of two uniform draws, which leans the noise towards high frequencies),
    // rounded and clipped.
    for (size_t i = 0; i < mix_.size(); ++i) {
        ditherState_ ^= ditherState_ << 13;  // xorshift32
        ditherState_ ^= ditherState_ >> 17;
        ditherState_ ^= ditherState_ << 5;
        const float uniform = static_cast<float>(ditherState_ >> 8) * (1.0f / 16777216.0f) - 0.5f;
        float& previous = previousNoise_[i & 1];
        const float sample = std::round(mix_[i] * 32766.0f + uniform - previous);
        previous = uniform;
        interleaved[i] = static_cast<int16_t>(std::clamp(sample, -32768.0f, 32767.0f));
    }
}

void SynthCore::renderVoices(int frames, float* const* outputs) {
    const Impl& d = *impl_;
    for (size_t c = 0; c < 2 * (kVoices + 1); ++c) std::fill(outputs[c], outputs[c] + frames, 0.0f);
    std::array<float*, 2 * kVoices> dry{};
    for (size_t v = 0; v < kVoices; ++v) {
        const auto g = static_cast<size_t>(d.lanes == 1 ? v : static_cast<size_t>(d.group[v]));
        dry[2 * g] = outputs[2 * v];
        dry[2 * g + 1] = outputs[2 * v + 1];
    }
    // The reverb's and then the chorus's left and right, both into the effects output.
    float* const effects = outputs[2 * kEffectsOutput];
    float* const effectsRight = outputs[2 * kEffectsOutput + 1];
    std::array<float*, 4> fx = {effects, effectsRight, effects, effectsRight};
    fluid_synth_process(d.synth, frames, static_cast<int>(fx.size()), fx.data(), static_cast<int>(dry.size()),
                        dry.data());
}

void SynthCore::startClock(Time origin) {
    Impl& d = *impl_;
    d.timed = true;
    d.origin = origin;
    d.rendered.store(0);
    d.lastCallback.store(0);
    d.lead.reset();
    d.queue.clear();
    d.offset = kUnset;
    d.lastClock = 0;
    d.lastFrame = 0;
}

void SynthCore::apply(const Command& command) {
    switch (command.kind) {
        case Command::Kind::Message: handle(command.message); break;
        case Command::Kind::Reset:
            reset(command.value);
            selectTuning(command.tuned);
            break;
    }
}

namespace {

// The tuning program of FluidSynth that holds the tuning of the tuned channels.
constexpr int kTuningBank = 0;
constexpr int kTuningProgram = 0;

uint16_t tunedChannels(const Retuning* retuning) {
    uint16_t tuned = 0;
    for (int ch = 0; retuning != nullptr && ch < 16; ++ch) {
        if (retuning->channelTuned(ch)) tuned = static_cast<uint16_t>(tuned | (1u << ch));
    }
    return tuned;
}

}  // namespace

void SynthCore::defineTuning(const Retuning& retuning) {
    std::array<double, kMidiKeys> cents{};
    for (int k = 0; k < kMidiKeys; ++k) cents[static_cast<size_t>(k)] = retuning.cents(k);
    // Not applied to sounding notes: those of an earlier play ring out as they began.
    fluid_synth_activate_key_tuning(impl_->synth, kTuningBank, kTuningProgram, "Tarrowin", cents.data(), 0);
}

void SynthCore::selectTuning(uint16_t tuned) {
    const Impl& d = *impl_;
    // Every lane of a MIDI channel sounds it: all of them are tuned alike.
    for (int ch = 0; ch < 16; ++ch) {
        for (int lane = 0; lane < d.lanes; ++lane) {
            const int c = d.channel(ch, lane);
            if (!d.playable(c)) continue;
            if ((tuned >> ch) & 1u) {
                fluid_synth_activate_tuning(d.synth, c, kTuningBank, kTuningProgram, 0);
            } else {
                fluid_synth_deactivate_tuning(d.synth, c, 0);
            }
        }
    }
}

void SynthCore::tuneKeys(const Retuning* retuning) {
    if (retuning != nullptr) defineTuning(*retuning);
    selectTuning(tunedChannels(retuning));
}

void SynthCore::play(const ShortMessage& message, Time sentAt) {
    Command c;
    c.message = message;
    schedule(c, sentAt);
}

void SynthCore::playReset(int32_t percussionChannel, const Retuning* retuning, Time sentAt) {
    // A reset begins a play: the latency is taken afresh from the stream as it runs now,
    // instead of creeping back to it from what an earlier play left (a stream that ran dry
    // plays everything after the gap that much later). Between plays no one hears the change.
    impl_->offset = kUnset;
    Command c;
    c.kind = Command::Kind::Reset;
    c.value = percussionChannel;
    if (retuning != nullptr) defineTuning(*retuning);
    c.tuned = tunedChannels(retuning);
    schedule(c, sentAt);
}

void SynthCore::schedule(Command command, Time sentAt) {
    Impl& d = *impl_;
    if (!d.timed) {
        apply(command);
        return;
    }
    command.frame = d.place(d.clockFrame(sentAt));
    // A full queue empties as the stream renders: the sender waits for it, never the
    // audio thread.
    int64_t seen = d.rendered.load();
    auto progress = std::chrono::steady_clock::now();
    while (!d.queue.push(command)) {
        const int64_t rendered = d.rendered.load();
        if (rendered != seen) {
            seen = rendered;
            progress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - progress > kStreamStall) {
            return;  // the stream stopped asking for audio: nothing sounds any more
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void SynthCore::process(int frames, float* left, float* right, Time now) {
    Impl& d = *impl_;
    d.lastCallback.store(std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count(),
                         std::memory_order_relaxed);
    const int64_t first = d.rendered.load(std::memory_order_relaxed);
    // The next buffer starts at first + frames: a message sent from now on must lie at or
    // after it to sound in time.
    d.lead.buffer(first + frames, d.clockFrame(now), d.frames(kLeadWindow));
    int done = 0;
    while (done < frames) {
        const int64_t at = first + done;
        const int n = static_cast<int>(std::min<int64_t>(frames - done, kSynthBlock - at % kSynthBlock));
        // A message takes effect at the start of a block: each goes to the block start
        // nearest its frame.
        for (const Command* c = d.queue.front(); c != nullptr && c->frame < at + n / 2; c = d.queue.front()) {
            apply(*c);
            d.queue.pop();
        }
        float* dry[2] = {left + done, right + done};
        // Reverb and chorus are mixed into the same two channels, as the offline rendering does.
        float* fx[4] = {left + done, right + done, left + done, right + done};
        fluid_synth_process(d.synth, n, 4, fx, 2, dry);
        done += n;
    }
    d.rendered.store(first + frames, std::memory_order_release);
}

void SynthCore::waitUntilPlayed(std::chrono::milliseconds ringOut) {
    Impl& d = *impl_;
    if (!d.timed) {
        std::this_thread::sleep_for(ringOut);
        return;
    }
    if (d.offset == kUnset) return;  // nothing was played
    const int64_t until = d.lastFrame + d.frames(ringOut);
    const int64_t missing = until - d.rendered.load();
    if (missing <= 0) return;
    const auto limit = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(std::llround(missing * 1000.0 / d.rate)) + std::chrono::seconds(1);
    while (d.rendered.load() < until && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool SynthCore::audioRunning() const {
    const Impl& d = *impl_;
    if (d.driver == nullptr) return false;
    if (!d.timed) return true;
    const auto last = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(d.lastCallback.load()));
    return std::chrono::steady_clock::now() - last < kStreamStall;
}

int SynthCore::bankOf(int channel) const {
    int sfont = 0;
    int bank = 0;
    int preset = 0;
    fluid_synth_get_program(impl_->synth, impl_->channel(channel, 0), &sfont, &bank, &preset);
    return bank;
}

namespace {

void collectOption(void* data, const char*, const char* option) {
    static_cast<std::vector<std::string>*>(data)->push_back(option);
}

// Creates a driver on a thread that asked for real-time scheduling: the threads the
// driver's libraries start for the stream (PulseAudio's main loop, which passes on the
// server's requests for audio) inherit it, so a busy machine does not delay them and the
// stream does not run dry. Without the privilege they keep normal scheduling.
// `create(realtime)` learns whether it was granted.
template <class Create>
fluid_audio_driver_t* createRealtime(Create create) {
    fluid_audio_driver_t* driver = nullptr;
    std::thread([&] { driver = create(requestRealtimeScheduling()); }).join();
    return driver;
}

// The audio thread asks for real-time scheduling once, unless its driver gave it already
// (JACK's thread, FluidSynth's own with audio.realtime-prio): a busy machine must not
// keep it from the next buffer.
void keepRealtime() {
    thread_local bool asked = false;
    if (asked) return;
    asked = true;
    if (sched_getscheduler(0) == SCHED_OTHER) requestRealtimeScheduling();
}

int processCallback(void* data, int len, int, float*[], int nout, float* out[]) {
    if (nout < 2) return FLUID_FAILED;
    keepRealtime();
    static_cast<SynthCore*>(data)->process(len, out[0], out[1], std::chrono::steady_clock::now());
    return FLUID_OK;
}

}  // namespace

OpenResult SynthCore::startAudio(const std::string& driver, const std::string& wavFile) {
    stopAudio();
    fluid_settings_t* settings = impl_->settings;
    takeFluidSynthError();
    if (!wavFile.empty()) {
        impl_->partialFile = wavFile + ".partial";
        fluid_settings_setstr(settings, "audio.driver", "file");
        fluid_settings_setstr(settings, "audio.file.name", impl_->partialFile.c_str());
        fluid_settings_setstr(settings, "audio.file.type", "wav");
        // The file driver takes each message at its next period: FluidSynth's short default.
        for (const char* name : {"audio.period-size", "audio.periods"}) {
            int value = 0;
            fluid_settings_getint_default(settings, name, &value);
            fluid_settings_setint(settings, name, value);
        }
        impl_->driver = new_fluid_audio_driver(settings, impl_->synth);
        if (impl_->driver == nullptr) {
            std::remove(impl_->partialFile.c_str());
            impl_->partialFile.clear();
            const std::string why = takeFluidSynthError();
            return OpenResult::failure(OpenStatus::Failed,
                                       "The built-in synthesizer could not write " + wavFile + (why.empty() ? "" : ": " + why));
        }
        impl_->wavFile = wavFile;
        return OpenResult::success();
    }

    std::vector<std::string> available;
    fluid_settings_foreach_option(settings, "audio.driver", &available, collectOption);
    std::vector<std::string> candidates;
    if (!driver.empty()) {
        candidates.push_back(driver);
    } else {
        for (const char* name : {"pipewire", "pulseaudio", "jack", "alsa", "sdl2", "oss"}) {
            for (const std::string& a : available) {
                if (a == name) candidates.push_back(a);
            }
        }
    }
    const uint32_t jackRate = jackSampleRate();
    std::string tried;
    for (const std::string& name : candidates) {
        tried += (tried.empty() ? "" : ", ") + name;
        // FluidSynth's JACK driver would start a server of its own; use only a running one.
        if (name == "jack" && jackRate == 0) {
            tried += " (no JACK server running)";
            continue;
        }
        fluid_settings_setstr(settings, "audio.driver", name.c_str());
        if (name == "jack") fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
        // Drivers with an audio callback play the messages at their frames; the others
        // (SDL2) take them as they come.
        fluid_settings_setint(settings, "audio.periods", kRealtimePeriods);
        fluid_settings_setint(settings, "audio.realtime-prio", kAudioPriority);
        // FluidSynth's JACK driver sets the synthesizer to the server's rate.
        impl_->rate = name == "jack" ? jackRate : impl_->sampleRate;
        startClock(std::chrono::steady_clock::now());
        impl_->driver = createRealtime([&](bool realtime) {
            const int fast = name == "pulseaudio" ? kPulseRealtimePeriod : kRealtimePeriod;
            fluid_settings_setint(settings, "audio.period-size", realtime ? fast : kNormalPeriod);
            return new_fluid_audio_driver2(settings, processCallback, this);
        });
        if (impl_->driver != nullptr) {
            waitForStream();
            return OpenResult::success();
        }
        impl_->timed = false;
        impl_->driver = new_fluid_audio_driver(settings, impl_->synth);
        if (impl_->driver != nullptr) {
            takeFluidSynthError();
            return OpenResult::success();
        }
        if (const std::string why = takeFluidSynthError(); !why.empty()) tried += " (" + why + ")";
    }
    if (candidates.empty()) tried = driver.empty() ? "none is compiled in" : driver;
    return OpenResult::failure(OpenStatus::Failed,
                               "The built-in synthesizer has no audio output: no audio driver of FluidSynth could "
                               "play here (tried " +
                                   tried + ")");
}

void SynthCore::waitForStream() {
    Impl& d = *impl_;
    // A driver renders up to its whole buffer before the device takes any of it; audio
    // asked for beyond that shows that the stream runs.
    int periodSize = 0;
    int periods = 0;
    fluid_settings_getint(d.settings, "audio.period-size", &periodSize);
    fluid_settings_getint(d.settings, "audio.periods", &periods);
    const int64_t running = int64_t{periodSize} * periods + d.frames(kRunningAudio);
    const auto limit = std::chrono::steady_clock::now() + kStreamStartLimit;
    while (d.rendered.load() < running && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // How far the rendering runs ahead is measured from here on: a stream that started
    // late was behind the clock until now.
    d.lead.forget();
    const auto periodsTime = std::chrono::milliseconds(std::llround(kFirstLeadPeriods * periodSize * 1000.0 / d.rate));
    std::this_thread::sleep_for(std::max(kFirstLeadTime, periodsTime));
}

void SynthCore::stopAudio() {
    if (impl_->driver == nullptr) return;
    delete_fluid_audio_driver(impl_->driver);
    impl_->driver = nullptr;
    impl_->timed = false;
    if (!impl_->wavFile.empty()) {
        std::error_code ec;
        fs::rename(impl_->partialFile, impl_->wavFile, ec);
        if (ec) std::remove(impl_->partialFile.c_str());
        impl_->partialFile.clear();
        impl_->wavFile.clear();
    }
}

SynthBackend::SynthBackend(SynthOptions options) : options_(std::move(options)) {
    if (options_.audioDriver.empty()) {
        if (const char* env = std::getenv("TARROWIN_AUDIO_DRIVER")) options_.audioDriver = env;
    }
}

SynthBackend::~SynthBackend() {
    {
        std::lock_guard lock(requestMutex_);
        prepareAgain_ = false;
    }
    if (preparer_.joinable()) preparer_.join();
    std::lock_guard lock(mutex_);
    open_ = false;
    stopStream();
}

OpenResult SynthBackend::makeReady(bool startStream) {
    std::string preferred;
    {
        std::lock_guard lock(requestMutex_);
        preferred = preferredSoundFont_;
    }
    const SoundFontChoice font = findSoundFont(options_.soundFont, preferred);
    if (!font.found()) return OpenResult::failure(OpenStatus::Failed, font.message);
    if (synth_ && synth_->soundFont() != font.path) {
        stopStream();
        synth_.reset();
    }
    if (!synth_) {
        SynthCore::Created created = SynthCore::create(font.path, 44100.0);
        if (!created.synth) {
            return OpenResult::failure(created.noMemory ? OpenStatus::NoMemory : OpenStatus::Failed, created.message);
        }
        synth_ = std::move(created.synth);
    }
    if (!startStream || synth_->audioRunning()) return OpenResult::success();
    // No stream yet, or one whose sound server stopped asking for audio.
    synth_->stopAudio();
    return synth_->startAudio(options_.audioDriver, options_.wavFile);
}

void SynthBackend::stopStream() {
    if (!synth_) return;
    // The last messages sound, and the last notes' release and the reverb ring out, before
    // the audio stops, so the end of a play is not cut off with a click.
    if (synth_->audioRunning()) synth_->waitUntilPlayed(kReleaseTime);
    synth_->stopAudio();
}

OpenResult SynthBackend::open(const std::string& name, const DeviceSetup& setup) {
    if (name != kPortName) return OpenResult::failure(OpenStatus::Failed, "No synthesizer named " + name);
    std::lock_guard lock(mutex_);
    if (open_) return OpenResult::failure(OpenStatus::Allocated);
    OpenResult result = makeReady(true);
    if (!result.ok()) return result;
    // On the running stream: after whatever still sounds of the last play.
    synth_->playReset(setup.percussionChannel, setup.retuning.get());
    open_ = true;
    return result;
}

void SynthBackend::send(const ShortMessage& message) {
    if (open_) synth_->play(message);
}

void SynthBackend::close() {
    std::lock_guard lock(mutex_);
    if (!open_) return;
    open_ = false;
    // The stream plays on: the messages still queued sound at their frames, and the last
    // notes ring out. A recording is complete only once its stream stops.
    if (!options_.wavFile.empty()) stopStream();
}

void SynthBackend::prepare(const std::string& name) {
    if (name != kPortName) return;
    std::lock_guard lock(requestMutex_);
    prepareAgain_ = true;
    if (preparing_) return;  // the running preparation looks again when it is done
    if (preparer_.joinable()) preparer_.join();  // it has left its loop
    preparing_ = true;
    preparer_ = std::thread(&SynthBackend::prepareLoop, this);
}

void SynthBackend::prepareLoop() {
    for (;;) {
        {
            std::lock_guard lock(requestMutex_);
            if (!prepareAgain_) {
                preparing_ = false;
                return;
            }
            prepareAgain_ = false;
        }
        std::lock_guard lock(mutex_);
        // A recording starts its stream at open. Failures are reported by open.
        if (!open_) makeReady(options_.wavFile.empty());
    }
}

void SynthBackend::release() {
    std::lock_guard lock(mutex_);
    if (!open_) stopStream();
}

void SynthBackend::setPreferredSoundFont(const std::string& path) {
    std::lock_guard lock(requestMutex_);
    preferredSoundFont_ = path;
}

}  // namespace tarrowin

#pragma once
// The built-in synthesizer: FluidSynth with a General MIDI SoundFont. As a device it plays
// in real time through one of FluidSynth's audio drivers; the same synthesizer renders a
// performance offline into a WAV file. The percussion channel is its drum channel and
// every other channel is melodic.
//
// In real time a message is not handed to the synthesizer when it arrives: it is stamped
// with the steady clock and applied at its own frame of the audio stream, a constant
// latency later. However the driver fills its buffers (a sound server that starts the
// stream late, or asks for audio in bursts), the notes keep the spacing and the order they
// were sent with, so the device sounds like the offline rendering of the same messages.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "midi_backend.h"

namespace tarrowin {

// Where a SoundFont is looked for when none is given: $TARROWIN_SOUNDFONT, then these.
std::vector<std::string> defaultSoundFontPaths();

struct SoundFontChoice {
    std::string path;     // empty when none was found
    std::string message;  // why none was found
    bool found() const { return !path.empty(); }
};
// `requested` (a --soundfont) must exist; empty searches $TARROWIN_SOUNDFONT, then
// `preferred` (the user's remembered choice, while it still exists), then the defaults.
SoundFontChoice findSoundFont(const std::string& requested = {}, const std::string& preferred = {});

// Why FluidSynth cannot play `path` as a SoundFont (its own reason where it gives one);
// empty when it can. Loads the whole file, so it takes as long as a first play does.
std::string soundFontProblem(const std::string& path);

// The SoundFonts (*.sf2, *.sf3) installed in the system's and the user's SoundFont folders,
// each file once, sorted by name within each folder.
std::vector<std::string> installedSoundFonts();

// Where the synthesizer's sound goes.
enum class SynthOutputs {
    Mix,       // one stereo mix, with the reverb and the chorus in it
    PerVoice,  // a dry stereo output for each of the 16 voices, and one for the reverb and chorus
};

// One FluidSynth synthesizer with its SoundFont loaded.
class SynthCore {
   public:
    struct Created;
    // Fails with a message naming what is missing.
    static Created create(const std::string& soundFont, double sampleRate, SynthOutputs outputs = SynthOutputs::Mix);
    ~SynthCore();
    SynthCore(const SynthCore&) = delete;
    SynthCore& operator=(const SynthCore&) = delete;

    const std::string& soundFont() const { return soundFont_; }

    // At once, for offline rendering (and for the synthesizer while no audio callback runs).
    // reset makes `channel` the drum channel and every other channel melodic, and resets
    // every channel's controllers and programs.
    void reset(int32_t percussionChannel);
    // PerVoice: every voice can play on every MIDI channel but one pair, `voice` (0..15) on
    // `channel`, which FluidSynth's channels cannot hold as well; a note of that voice
    // there is not played. Voice 16 on channel 15 until this is called, before reset().
    void leaveOut(int channel, int voice);
    void handle(const ShortMessage& message);
    // The message as voice `voice` (0..15) sends it: with PerVoice outputs its notes sound
    // in that voice's output (as handle() does, they sound in voice 0's). A voice sounds
    // as it would on its MIDI channel shared with the other voices there, so the outputs
    // add up to the mix.
    void handle(const ShortMessage& message, int voice);
    // Tunes the keys of the retuning's tuned channels to its pitches, and every other
    // channel to equal temperament (all of them without a retuning). After reset(), which
    // leaves every channel in equal temperament.
    void tuneKeys(const Retuning* retuning);
    // Renders `frames` stereo frames, interleaved left/right, dithered to 16 bits with noise
    // of its own: the same messages give the same samples in every process. (FluidSynth's
    // own 16-bit output draws its dither from rand() once per process, so it depends on
    // whatever else called rand() first.)
    void render(int frames, int16_t* interleaved);
    // PerVoice: renders `frames` frames of every output, voice v's left channel into
    // outputs[2v] and its right into outputs[2v + 1], the reverb's and the chorus's into
    // outputs[32] and outputs[33] (full scale 1.0). They add up to what render() mixes.
    static constexpr int kEffectsOutput = kVoices;
    void renderVoices(int frames, float* const* outputs);
    // The bank of channel `channel`'s current program (128 on a drum channel).
    int bankOf(int channel) const;

    // The audio driver that plays the synthesizer in real time.
    // driver "": the real-time drivers in turn; wavFile: FluidSynth's file driver.
    // Returns once the driver consumes audio (or kStreamStartLimit has passed), so the
    // first message played is not waiting for a stream that has not started.
    OpenResult startAudio(const std::string& driver, const std::string& wavFile);
    void stopAudio();
    // Whether a driver plays, and, for one with an audio callback, still asks for audio:
    // false once the callback has not run for kStreamStall (the sound server went away).
    bool audioRunning() const;

    using Time = std::chrono::steady_clock::time_point;
    static constexpr std::chrono::milliseconds kStreamStartLimit{5000};
    static constexpr std::chrono::milliseconds kStreamStall{1000};

    // Real time. `message`, sent at `sentAt`, sounds at that moment plus the output's
    // latency, after everything played before it; so does a reset. A driver without an
    // audio callback (the file driver) gets them at once.
    //
    // The senders (these two, startClock and waitUntilPlayed) must not overlap: they are
    // one side of a lock-free queue whose other side is the audio callback. When the queue
    // is full the sender waits for the callback to take from it; only a stream that has
    // stopped asking for audio (kStreamStall) lets the message go, since nothing sounds then.
    void play(const ShortMessage& message, Time sentAt = std::chrono::steady_clock::now());
    // With a retuning, its tuned channels are tuned from the reset on: the keys' pitches are
    // given to FluidSynth at once (its tuning tables take them under its own lock, and
    // allocate), the channels take them with the reset.
    void playReset(int32_t percussionChannel, const Retuning* retuning = nullptr,
                   Time sentAt = std::chrono::steady_clock::now());
    // The audio callback's work: mixes `frames` frames into `left` and `right`, applying
    // each played message at its frame. `now` is when the driver asked for them. Takes no
    // lock and allocates nothing.
    void process(int frames, float* left, float* right, Time now);
    // Starts the clock of played messages: frame 0 of the stream is `origin`, and play()
    // places messages for process() from now on. startAudio does this; an audio loop of
    // its own calls it before its first process().
    void startClock(Time origin);
    // Waits until every played message has sounded and `ringOut` of audio after the last
    // one has been rendered (bounded by the time that should take, plus a second).
    void waitUntilPlayed(std::chrono::milliseconds ringOut);

   private:
    struct Impl;
    struct Command;
    explicit SynthCore(std::unique_ptr<Impl> impl, std::string soundFont);
    void apply(const Command& command);
    // The key pitches of a tuning into FluidSynth's tuning tables; selectTuning then makes
    // them the tuning of every lane of the `tuned` MIDI channels (a bit a channel) and
    // takes every other channel back to equal temperament. Selecting allocates nothing.
    void defineTuning(const Retuning& retuning);
    void selectTuning(uint16_t tuned);
    void schedule(Command command, Time sentAt);
    void waitForStream();
    std::unique_ptr<Impl> impl_;
    std::string soundFont_;
    std::vector<float> mix_;      // render()'s samples before dithering
    uint32_t ditherState_ = 1;    // its noise, from the same seed for every synthesizer
    float previousNoise_[2] = {};
};

struct SynthCore::Created {
    std::unique_ptr<SynthCore> synth;
    std::string message;
    bool noMemory = false;  // the failure is a lack of memory
};

struct SynthOptions {
    std::string soundFont;    // empty: findSoundFont's search
    std::string audioDriver;  // empty: $TARROWIN_AUDIO_DRIVER, else the real-time drivers in turn
    std::string wavFile;      // not empty: play in real time into this WAV file instead
};

// The synthesizer as a device. Its audio stream opens once (at the first open, or ahead of
// it with prepare) and plays on between opens, so that Play sounds at once: close lets the
// last notes ring out on the running stream. A new SoundFont, or a stream that stopped
// (its sound server went away), opens a new stream at the next open or prepare; release
// ends it. Recording into a WAV file (SynthOptions::wavFile) keeps one stream per open,
// since close completes the file.
class SynthBackend final : public MidiBackend {
   public:
    static constexpr const char* kPortName = "Built-in synthesizer (FluidSynth)";
    // How long the sound rings out after the last message before the stream stops.
    static constexpr std::chrono::milliseconds kReleaseTime{300};
    explicit SynthBackend(SynthOptions options = {});
    ~SynthBackend() override;

    std::vector<std::string> listPorts() override { return {kPortName}; }
    OpenResult open(const std::string& name, const DeviceSetup& setup) override;
    // Sends come between open and close, one at a time (MidiOutput's lock).
    void send(const ShortMessage& message) override;
    // The synthesizer tunes its keys itself (retunesKeys): a run sends it no SysEx, and
    // one sent otherwise is not played.
    void sendSysex(std::span<const uint8_t> message) override { (void)message; }
    void close() override;
    // Loads the SoundFont and starts the stream on a thread of its own; an open meanwhile
    // waits for it. Failures are left for open to report.
    void prepare(const std::string& name) override;
    void release() override;
    bool isDefaultRoute() const override { return true; }
    bool retunesKeys() const override { return true; }
    // The user's SoundFont, used from the next open or prepare on (a --soundfont and
    // $TARROWIN_SOUNDFONT still come first). Check it with soundFontProblem first.
    void setPreferredSoundFont(const std::string& path);

   private:
    // With mutex_ held: the synthesizer with the SoundFont to use, and with `startStream`
    // its stream running.
    OpenResult makeReady(bool startStream);
    // With mutex_ held: lets what was played ring out, then stops the stream.
    void stopStream();
    void prepareLoop();

    SynthOptions options_;
    std::mutex mutex_;  // the two below; the preparing thread holds it while it works
    std::unique_ptr<SynthCore> synth_;  // kept between plays: loading a SoundFont takes time
    bool open_ = false;                 // written under mutex_ by open and close; send reads it

    std::mutex requestMutex_;  // the user's requests, below; held only for a moment
    std::string preferredSoundFont_;
    bool preparing_ = false;  // preparer_ runs prepareLoop
    bool prepareAgain_ = false;
    std::thread preparer_;
};

}  // namespace tarrowin

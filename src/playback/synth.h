#pragma once
// The built-in synthesizer: FluidSynth with a General MIDI SoundFont. As a device it plays
// in real time through one of FluidSynth's audio drivers; the same synthesizer renders a
// performance offline into a WAV file. The percussion channel is its drum channel and
// every other channel is melodic.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
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
// `requested` (a --soundfont) must exist; empty searches the environment and the defaults.
SoundFontChoice findSoundFont(const std::string& requested = {});

// One FluidSynth synthesizer with its SoundFont loaded.
class SynthCore {
   public:
    struct Created;
    // Fails with a message naming what is missing.
    static Created create(const std::string& soundFont, double sampleRate);
    ~SynthCore();
    SynthCore(const SynthCore&) = delete;
    SynthCore& operator=(const SynthCore&) = delete;

    const std::string& soundFont() const { return soundFont_; }
    // Makes `channel` the drum channel and every other channel melodic, and resets every
    // channel's controllers and programs.
    void reset(int32_t percussionChannel);
    void handle(const ShortMessage& message);
    // Renders `frames` stereo frames, interleaved left/right.
    void render(int frames, int16_t* interleaved);
    // The bank of channel `channel`'s current program (128 on a drum channel).
    int bankOf(int channel) const;

    // The audio driver that plays the synthesizer in real time.
    // driver "": the real-time drivers in turn; wavFile: FluidSynth's file driver.
    OpenResult startAudio(const std::string& driver, const std::string& wavFile);
    void stopAudio();

   private:
    struct Impl;
    explicit SynthCore(std::unique_ptr<Impl> impl, std::string soundFont);
    std::unique_ptr<Impl> impl_;
    std::string soundFont_;
};

struct SynthCore::Created {
    std::unique_ptr<SynthCore> synth;
    std::string message;
};

struct SynthOptions {
    std::string soundFont;    // empty: findSoundFont's search
    std::string audioDriver;  // empty: $TARROWIN_AUDIO_DRIVER, else the real-time drivers in turn
    std::string wavFile;      // not empty: play in real time into this WAV file instead
};

class SynthBackend final : public MidiBackend {
   public:
    static constexpr const char* kPortName = "Built-in synthesizer (FluidSynth)";
    // How long close lets the sound ring out before it stops the audio.
    static constexpr std::chrono::milliseconds kReleaseTime{300};
    explicit SynthBackend(SynthOptions options = {});
    ~SynthBackend() override;

    std::vector<std::string> listPorts() override { return {kPortName}; }
    OpenResult open(const std::string& name, const DeviceSetup& setup) override;
    void send(const ShortMessage& message) override;
    void close() override;
    bool isDefaultRoute() const override { return true; }

   private:
    SynthOptions options_;
    std::unique_ptr<SynthCore> synth_;  // kept between plays: loading a SoundFont takes time
    bool open_ = false;
};

}  // namespace tarrowin

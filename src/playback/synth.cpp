#include "synth.h"

#include <fluidsynth.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <thread>

#include "audio_system.h"

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

SoundFontChoice findSoundFont(const std::string& requested) {
    if (!requested.empty()) {
        if (isFile(requested)) return {requested, {}};
        return {{}, "SoundFont not found: " + requested};
    }
    if (const char* env = std::getenv("TARROWIN_SOUNDFONT"); env != nullptr && *env != '\0') {
        if (isFile(env)) return {env, {}};
        return {{}, std::string("The SoundFont named by TARROWIN_SOUNDFONT was not found: ") + env};
    }
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

struct SynthCore::Impl {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr;
    std::string wavFile;      // the file the file driver fills, once complete
    std::string partialFile;  // where it writes until then

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

SynthCore::Created SynthCore::create(const std::string& soundFont, double sampleRate) {
    quietAudioLibraries();
    auto impl = std::make_unique<Impl>();
    impl->settings = new_fluid_settings();
    if (impl->settings == nullptr) return {nullptr, kNoMemoryMessage};
    fluid_settings_setnum(impl->settings, "synth.sample-rate", sampleRate);
    // Sixteen voices at a full velocity stay below clipping at this gain.
    fluid_settings_setnum(impl->settings, "synth.gain", 0.4);
    impl->synth = new_fluid_synth(impl->settings);
    if (impl->synth == nullptr) return {nullptr, kNoMemoryMessage};
    takeFluidSynthError();
    if (fluid_synth_sfload(impl->synth, soundFont.c_str(), 1) == FLUID_FAILED) {
        const std::string why = takeFluidSynthError();
        return {nullptr, "The SoundFont " + soundFont + " could not be loaded" + (why.empty() ? "" : ": " + why)};
    }
    std::unique_ptr<SynthCore> core(new SynthCore(std::move(impl), soundFont));
    core->reset(kDefaultPercussionChannel);
    return {std::move(core), {}};
}

void SynthCore::reset(int32_t percussionChannel) {
    fluid_synth_t* s = impl_->synth;
    fluid_synth_system_reset(s);
    for (int ch = 0; ch < 16; ++ch) {
        const bool drum = ch == (percussionChannel & 0x0F);
        fluid_synth_set_channel_type(s, ch, drum ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
        fluid_synth_bank_select(s, ch, drum ? 128 : 0);
        fluid_synth_program_change(s, ch, 0);
    }
}

void SynthCore::handle(const ShortMessage& m) {
    fluid_synth_t* s = impl_->synth;
    const int ch = m.status & 0x0F;
    switch (m.status & 0xF0) {
        case 0x80: fluid_synth_noteoff(s, ch, m.data1); break;
        case 0x90: fluid_synth_noteon(s, ch, m.data1, m.data2); break;  // velocity 0 ends the note
        case 0xB0: fluid_synth_cc(s, ch, m.data1, m.data2); break;
        case 0xC0: fluid_synth_program_change(s, ch, m.data1); break;
        case 0xE0: fluid_synth_pitch_bend(s, ch, m.data1 | (m.data2 << 7)); break;
        default: break;
    }
}

void SynthCore::render(int frames, int16_t* interleaved) {
    fluid_synth_write_s16(impl_->synth, frames, interleaved, 0, 2, interleaved, 1, 2);
}

int SynthCore::bankOf(int channel) const {
    int sfont = 0;
    int bank = 0;
    int preset = 0;
    fluid_synth_get_program(impl_->synth, channel, &sfont, &bank, &preset);
    return bank;
}

namespace {

void collectOption(void* data, const char*, const char* option) {
    static_cast<std::vector<std::string>*>(data)->push_back(option);
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
    const bool jack = jackServerRunning();
    std::string tried;
    for (const std::string& name : candidates) {
        tried += (tried.empty() ? "" : ", ") + name;
        // FluidSynth's JACK driver would start a server of its own; use only a running one.
        if (name == "jack" && !jack) {
            tried += " (no JACK server running)";
            continue;
        }
        fluid_settings_setstr(settings, "audio.driver", name.c_str());
        if (name == "jack") fluid_settings_setint(settings, "audio.jack.autoconnect", 1);
        impl_->driver = new_fluid_audio_driver(settings, impl_->synth);
        if (impl_->driver != nullptr) return OpenResult::success();
        if (const std::string why = takeFluidSynthError(); !why.empty()) tried += " (" + why + ")";
    }
    if (candidates.empty()) tried = driver.empty() ? "none is compiled in" : driver;
    return OpenResult::failure(OpenStatus::Failed,
                               "The built-in synthesizer has no audio output: no audio driver of FluidSynth could "
                               "play here (tried " +
                                   tried + ")");
}

void SynthCore::stopAudio() {
    if (impl_->driver == nullptr) return;
    delete_fluid_audio_driver(impl_->driver);
    impl_->driver = nullptr;
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

SynthBackend::~SynthBackend() { close(); }

OpenResult SynthBackend::open(const std::string& name, const DeviceSetup& setup) {
    if (name != kPortName) return OpenResult::failure(OpenStatus::Failed, "No synthesizer named " + name);
    if (open_) return OpenResult::failure(OpenStatus::Allocated);
    const SoundFontChoice font = findSoundFont(options_.soundFont);
    if (!font.found()) return OpenResult::failure(OpenStatus::Failed, font.message);
    if (!synth_ || synth_->soundFont() != font.path) {
        synth_.reset();
        SynthCore::Created created = SynthCore::create(font.path, 44100.0);
        if (!created.synth) {
            const bool memory = created.message == kNoMemoryMessage;
            return OpenResult::failure(memory ? OpenStatus::NoMemory : OpenStatus::Failed, created.message);
        }
        synth_ = std::move(created.synth);
    }
    synth_->reset(setup.percussionChannel);
    OpenResult result = synth_->startAudio(options_.audioDriver, options_.wavFile);
    if (result.ok()) open_ = true;
    return result;
}

void SynthBackend::send(const ShortMessage& message) {
    if (open_) synth_->handle(message);
}

void SynthBackend::close() {
    if (!open_) return;
    // The last notes' release and the reverb ring out before the audio stops, so the end
    // of a play is not cut off with a click.
    std::this_thread::sleep_for(kReleaseTime);
    synth_->stopAudio();
    open_ = false;
}

}  // namespace tarrowin

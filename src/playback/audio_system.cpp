#include "audio_system.h"

#include <alsa/asoundlib.h>
#include <fluidsynth.h>
#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "jack_client.h"

namespace tarrowin {

namespace {

std::mutex fluidErrorMutex;
std::string fluidError;

void fluidLog(int level, const char* message, void*) {
    if (level > FLUID_ERR || message == nullptr) return;
    std::lock_guard lock(fluidErrorMutex);
    // The first error usually names the cause ("Not a RIFF file") and the last what failed
    // because of it ("Failed to load SoundFont"): both are kept, a few at most. The DLS
    // loader's complaints about a file that is no DLS either tell the user nothing.
    if (std::strstr(message, "ipatch_") != nullptr || fluidError.find(message) != std::string::npos ||
        std::count(fluidError.begin(), fluidError.end(), ';') >= 2)
        return;
    fluidError += (fluidError.empty() ? "" : "; ") + std::string(message);
}

void alsaSilent(const char*, int, const char*, int, const char*, ...) {}
void jackSilent(const char*) {}

}  // namespace

void quietAudioLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(alsaSilent);
        jack_set_error_function(jackSilent);
        jack_set_info_function(jackSilent);
        for (int level = FLUID_PANIC; level <= FLUID_DBG; ++level) fluid_set_log_function(level, fluidLog, nullptr);
    });
}

uint32_t jackSampleRate() {
    // Bounded: a server that does not answer counts as none.
    const JackOpen opened = openJackClient("tarrowin-probe", kJackListLimit);
    if (opened.client == nullptr) return 0;
    const uint32_t rate = jack_get_sample_rate(opened.client);
    closeJackClient(opened.client, kJackListLimit);
    return rate;
}

bool jackServerRunning() { return jackSampleRate() != 0; }

bool alsaSequencerPresent() { return access("/dev/snd/seq", R_OK | W_OK) == 0; }

std::string takeFluidSynthError() {
    std::lock_guard lock(fluidErrorMutex);
    std::string message;
    message.swap(fluidError);
    return message;
}

}  // namespace tarrowin

#include "system_backends.h"

#include "jack_backend.h"
#include "rtmidi_backend.h"

namespace tarrowin {

std::vector<std::unique_ptr<MidiBackend>> systemBackends(const SynthOptions& synth,
                                                         std::chrono::milliseconds jackListLimit) {
    std::vector<std::unique_ptr<MidiBackend>> backends;
    backends.push_back(std::make_unique<SynthBackend>(synth));
    backends.push_back(std::make_unique<RtMidiBackend>());
    backends.push_back(std::make_unique<JackBackend>(jackListLimit));
    return backends;
}

}  // namespace tarrowin

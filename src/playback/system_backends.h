#pragma once
// The devices of this machine, in the order "MidiOut Setup" lists them: the built-in
// synthesizer (always there, and the target of "Midi Mapper"), then the ALSA sequencer's
// ports, then JACK's, each system with its virtual port "Tarrowin".

#include <memory>
#include <vector>

#include "jack_client.h"
#include "midi_backend.h"
#include "synth.h"

namespace tarrowin {

// `jackListLimit`: how long a device list waits for a JACK server that does not answer at
// once (the window's start is bounded; a command may wait longer).
std::vector<std::unique_ptr<MidiBackend>> systemBackends(const SynthOptions& synth = {},
                                                         std::chrono::milliseconds jackListLimit = kJackListLimit);

}  // namespace tarrowin

#pragma once
// The devices of this machine, in the order "MidiOut Setup" lists them: the built-in
// synthesizer (always there, and the target of "Midi Mapper"), then the ALSA sequencer's
// ports, then JACK's, each system with its virtual port "Tarrowin".

#include <memory>
#include <vector>

#include "midi_backend.h"
#include "synth.h"

namespace tarrowin {

std::vector<std::unique_ptr<MidiBackend>> systemBackends(const SynthOptions& synth = {});

}  // namespace tarrowin

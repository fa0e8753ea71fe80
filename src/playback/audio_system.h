#pragma once
// What the machine's MIDI and audio systems offer, asked without side effects: no JACK
// server is started by asking, and the libraries' complaints about missing hardware stay
// off the terminal (the backends turn them into their own messages).

#include <cstdint>
#include <string>

namespace tarrowin {

// Silences the diagnostics that ALSA, JACK and FluidSynth print on their own. Idempotent.
void quietAudioLibraries();

// Whether a JACK server runs (asked with a client that may not start one).
bool jackServerRunning();

// The sample rate of the running JACK server, 0 when none runs. FluidSynth's JACK driver
// sets its synthesizer to this rate.
uint32_t jackSampleRate();

// Whether the kernel's ALSA sequencer device exists.
bool alsaSequencerPresent();

// FluidSynth's error messages (FLUID_ERR or worse) since the last call, the first three
// joined by "; " (the first usually names the cause), empty when none was logged; collected
// by the handler quietAudioLibraries installs.
std::string takeFluidSynthError();

}  // namespace tarrowin

#pragma once
// The ALSA sequencer's MIDI ports through RtMidi: every port the sequencer lists as a
// destination, and a virtual output port "Tarrowin" that DAWs and synthesizers connect
// to. Without a sequencer device it lists nothing. (JACK has a backend of its own.)
//
// RtMidi sends each message to the sequencer as a direct event and drains its output at
// once, so a message sent has left when send returns and close has nothing to wait for.

#include <memory>
#include <string>
#include <vector>

#include "midi_backend.h"

class RtMidiOut;

namespace tarrowin {

class RtMidiBackend final : public MidiBackend {
   public:
    RtMidiBackend();
    ~RtMidiBackend() override;

    std::vector<std::string> listPorts() override;
    OpenResult open(const std::string& name, const DeviceSetup& setup) override;
    void send(const ShortMessage& message) override;
    void sendSysex(std::span<const uint8_t> message) override;
    void close() override;

    // The listed name of the virtual port, "ALSA: Tarrowin (virtual port)".
    static std::string virtualPortListing();

   private:
    struct ErrorSink;
    std::unique_ptr<RtMidiOut> makeClient(const std::string& clientName);

    std::unique_ptr<ErrorSink> errors_;
    std::unique_ptr<RtMidiOut> client_;       // lists the ports and connects to one
    std::unique_ptr<RtMidiOut> virtualPort_;  // made at its first open, kept until the end
    RtMidiOut* active_ = nullptr;
};

}  // namespace tarrowin

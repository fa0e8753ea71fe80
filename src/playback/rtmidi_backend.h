#pragma once
// The ALSA sequencer's and JACK's MIDI ports through RtMidi: every port the system lists as
// a destination, and a virtual output port "Tarrowin" that DAWs and synthesizers connect
// to. A system that is not there (no sequencer device, no JACK server) lists nothing.

#include <memory>
#include <string>
#include <vector>

#include "midi_backend.h"

class RtMidiOut;

namespace tarrowin {

class RtMidiBackend final : public MidiBackend {
   public:
    enum class System { Alsa, Jack };
    static constexpr const char* kVirtualPortName = "Tarrowin";
    static constexpr const char* kConnectingClientName = "Tarrowin Output";

    explicit RtMidiBackend(System system);
    ~RtMidiBackend() override;

    std::vector<std::string> listPorts() override;
    OpenResult open(const std::string& name, const DeviceSetup& setup) override;
    void send(const ShortMessage& message) override;
    void close() override;

    // The listed name of the virtual port, e.g. "JACK: Tarrowin (virtual port)".
    std::string virtualPortListing() const;

   private:
    struct ErrorSink;
    bool systemPresent() const;
    std::unique_ptr<RtMidiOut> makeClient(const std::string& clientName);
    std::string listing(const std::string& portName) const;

    const System system_;
    std::unique_ptr<ErrorSink> errors_;
    std::unique_ptr<RtMidiOut> client_;       // lists the ports and connects to one
    std::unique_ptr<RtMidiOut> virtualPort_;  // made at its first open, kept until the end
    RtMidiOut* active_ = nullptr;
};

}  // namespace tarrowin

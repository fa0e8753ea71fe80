#pragma once
// JACK's MIDI ports through libjack: every MIDI input port of the running server, and a
// virtual output port "Tarrowin" that DAWs and synthesizers connect to. Without a server
// it lists nothing.
//
// A send only queues the message: JACK's process callback moves it into the port's buffer
// at the next cycle, and what does not fit into one cycle's buffer waits for the next.
// Close therefore waits until every message sent has gone out through a finished cycle,
// so that the final messages of a play reach the port before it is closed.

#include <memory>
#include <string>
#include <vector>

#include "midi_backend.h"

namespace tarrowin {

class JackBackend final : public MidiBackend {
   public:
    JackBackend();
    ~JackBackend() override;

    std::vector<std::string> listPorts() override;
    OpenResult open(const std::string& name, const DeviceSetup& setup) override;
    void send(const ShortMessage& message) override;
    void sendSysex(std::span<const uint8_t> message) override;
    // Waits until what was sent has left (see above); the virtual port stays, so the
    // connections made to it survive from one play to the next.
    void close() override;

    // The listed name of the virtual port, "JACK: Tarrowin (virtual port)".
    static std::string virtualPortListing();

    // The name of the virtual port's JACK client, "Tarrowin" unless a session manager gives
    // this instance a name of its own; the clients that list and connect ports take it as
    // their prefix. A virtual port made under another name is made again at its next open.
    static void setClientName(const std::string& name);
    static std::string clientName();

   private:
    class Port;
    std::unique_ptr<Port> connection_;   // our port connected to another client's, while open
    std::unique_ptr<Port> virtualPort_;  // made at its first open, kept until the end
    Port* active_ = nullptr;
};

}  // namespace tarrowin

#pragma once
// JACK's MIDI ports through libjack: every MIDI input port of the running server, and a
// virtual output port "Tarrowin" that DAWs and synthesizers connect to. Without a server
// it lists nothing.
//
// A send only queues the message with its time: JACK's process callback writes it into the
// port's buffer at the frame of that time plus one period (the latency the port declares),
// so that messages keep the spacing they were sent with whatever the period; what does not
// fit into one cycle waits for the next. Close therefore waits until every message sent
// has gone out through a finished cycle, so that the final messages of a play reach the
// port before it is closed.

#include <memory>
#include <string>
#include <vector>

#include "jack_client.h"
#include "midi_backend.h"

namespace tarrowin {

class JackBackend final : public MidiBackend {
   public:
    // `listLimit`: how long listPorts waits for the server (see jack_client.h).
    explicit JackBackend(std::chrono::milliseconds listLimit = kJackListLimit);
    ~JackBackend() override;

    std::vector<std::string> listPorts() override;
    OpenResult open(const std::string& name, const DeviceSetup& setup) override;
    void send(const ShortMessage& message) override;
    // At the frame of `time` plus one period (the latency the port declares).
    void sendAt(const ShortMessage& message, Clock::Duration time) override;
    Clock::Duration latency() const override;
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
    // Destroys a port once its client is closed; a port whose client did not close in time
    // is left alive, since its process callback may still run.
    struct PortCloser {
        void operator()(Port* p) const;
    };
    using PortPtr = std::unique_ptr<Port, PortCloser>;
    const std::chrono::milliseconds listLimit_;
    PortPtr connection_;   // our port connected to another client's, while open
    PortPtr virtualPort_;  // made at its first open, kept until the end
    Port* active_ = nullptr;
};

}  // namespace tarrowin

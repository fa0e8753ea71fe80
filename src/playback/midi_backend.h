#pragma once
// One kind of MIDI output behind MidiOutput: it lists its ports by name, opens one of them
// and takes the program's short messages. The ALSA sequencer and JACK (through RtMidi), the
// built-in synthesizer and the recording device of the tests are backends.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "clock.h"
#include "engine/performance.h"

namespace tarrowin {

// The result of opening a device. The three failures with a fixed text are those a user
// can act on; any other failure carries the backend's own explanation.
enum class OpenStatus {
    Ok,
    Allocated,     // the device is in use
    NoMemory,      // the device could not get the memory it needs
    InvalidParam,  // the backend refused the parameters of the open
    Failed,        // anything else: the message says what is missing
};

struct OpenResult {
    OpenStatus status = OpenStatus::Ok;
    std::string message;  // empty on success

    bool ok() const { return status == OpenStatus::Ok; }
    static OpenResult success() { return {}; }
    // The fixed text for Allocated, NoMemory and InvalidParam; `detail` for Failed.
    static OpenResult failure(OpenStatus status, const std::string& detail = {});
};

inline constexpr const char* kDeviceInUseMessage = "The device is already in use, free it and try again";
inline constexpr const char* kNoMemoryMessage = "Could not allocate memory for the device";
inline constexpr const char* kInvalidPointerMessage = "Invalid pointer!";
inline constexpr const char* kNoDevicesMessage = "No devices were found for midi output";

// The port that DAWs and synthesizers connect to, on the ALSA sequencer and on JACK, and
// how a system lists it: "JACK: Tarrowin (virtual port)".
inline constexpr const char* kVirtualPortName = "Tarrowin";
// The client that connects to other programs' ports leaves the name "Tarrowin" to the
// virtual port's client, so that other programs see "Tarrowin:Tarrowin".
inline constexpr const char* kConnectingClientName = "Tarrowin Output";
inline std::string virtualPortListing(const std::string& systemPrefix) {
    return systemPrefix + kVirtualPortName + " (virtual port)";
}

class Retuning;

// What the device needs to know when it opens.
struct DeviceSetup {
    int32_t percussionChannel = kDefaultPercussionChannel;
    // The keys to retune, for a device that retunes keys itself (retunesKeys()); none: every
    // key as MIDI puts it.
    std::shared_ptr<const Retuning> retuning;
};

class MidiBackend {
   public:
    virtual ~MidiBackend() = default;
    // Looks the ports up again; their order is the order of the device ids.
    virtual std::vector<std::string> listPorts() = 0;
    // Opens the port listed under `name` (looked up again, so a port that moved keeps
    // working and one that vanished gives a clear failure).
    virtual OpenResult open(const std::string& name, const DeviceSetup& setup) = 0;
    virtual void send(const ShortMessage& message) = 0;
    // Sends `message`, meant for steady-clock time `time` (the tick it belongs to, never
    // before the time of a message sent earlier). A backend that places messages in time
    // puts it at the matching moment of its stream plus its latency(); the others send it
    // now, which is when the players call this.
    virtual void sendAt(const ShortMessage& message, Clock::Duration time) {
        (void)time;
        send(message);
    }
    // How long after its time a message sent with sendAt reaches the port.
    virtual Clock::Duration latency() const { return {}; }
    // A System Exclusive message, F0 to F7 included (a tuning's, before the first note).
    virtual void sendSysex(std::span<const uint8_t> message) = 0;
    // Returns once every message sent before it has left for the port: a backend whose
    // sends only queue waits here until its queue is empty, so that the final messages of
    // a play are not lost to a port that closes under them.
    virtual void close() = 0;
    // Gets the port `name` ready for a quick open, in the background where that takes
    // time; returns at once. Ports that open quickly need nothing.
    virtual void prepare(const std::string& name) { (void)name; }
    // Lets go of what the backend keeps between opens (the synthesizer's audio stream),
    // so that another program can have it. Only while the port is closed.
    virtual void release() {}
    // Whether "Midi Mapper" (device id -1) routes to this backend's first port.
    virtual bool isDefaultRoute() const { return false; }
    // Whether the device tunes keys to DeviceSetup::retuning itself, so that the stream it
    // is sent carries no tuning messages.
    virtual bool retunesKeys() const { return false; }
};

}  // namespace tarrowin

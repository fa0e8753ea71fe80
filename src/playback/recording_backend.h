#pragma once
// A MIDI device that keeps every message with the time it arrived, for tests and for
// measuring the players' timing. It can be told to refuse its next opens.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "clock.h"
#include "midi_backend.h"

namespace tarrowin {

class RecordingBackend final : public MidiBackend {
   public:
    struct Record {
        Clock::Duration time;               // when it arrived
        ShortMessage message;               // empty for a SysEx
        Clock::Duration stamp;              // the time it was sent for (sendAt), else its arrival
        std::vector<uint8_t> sysex = {};    // a SysEx, F0 to F7
        bool operator==(const Record&) const = default;
    };

    // One port per name; `defaultRoute` makes it the target of "Midi Mapper".
    explicit RecordingBackend(Clock& clock, std::vector<std::string> ports = {"Recorder"}, bool defaultRoute = false);

    std::vector<std::string> listPorts() override;
    OpenResult open(const std::string& name, const DeviceSetup& setup) override;
    void send(const ShortMessage& message) override;
    void sendAt(const ShortMessage& message, Clock::Duration time) override;
    void sendSysex(std::span<const uint8_t> message) override;
    void close() override;
    Clock::Duration latency() const override { return latency_.load(); }
    // What latency() reports, as a device that places messages in time would.
    void setLatency(Clock::Duration latency) { latency_.store(latency); }
    bool isDefaultRoute() const override { return defaultRoute_; }

    // Every open from now on fails with `status` (Ok: opens succeed again).
    void refuseOpens(OpenStatus status, const std::string& detail = {});

    std::vector<Record> records() const;
    // The short messages, without the SysEx.
    std::vector<ShortMessage> messages() const;
    void clear();
    bool isOpen() const;
    std::string openPort() const;  // the port of the current or last open
    DeviceSetup lastSetup() const;
    int opens() const;
    int closes() const;
    // Messages that arrived while the device was closed; a correct caller sends none.
    int sentWhileClosed() const;

   private:
    Clock& clock_;
    const std::vector<std::string> ports_;
    const bool defaultRoute_;

    mutable std::mutex mutex_;
    std::vector<Record> records_;
    OpenStatus refusal_ = OpenStatus::Ok;
    std::string refusalDetail_;
    bool open_ = false;
    std::string openPort_;
    DeviceSetup setup_;
    int opens_ = 0;
    int closes_ = 0;
    int sentWhileClosed_ = 0;
    std::atomic<Clock::Duration> latency_{Clock::Duration{0}};
};

}  // namespace tarrowin

#pragma once
// MidiOutput: the process's one connection to a MIDI output device. It lists the devices of
// its backends, holds the user's choice, the open device, the playing flag every worker
// polls and the percussion channel, and owns the format of every short message sent.
//
// Threads: the device list, the choice and open run on the user-interface thread; a
// worker sends and, after its final messages, closes. A mutex keeps the handle whole, so no
// message ever goes through a closed device whatever the order of calls.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi_backend.h"

namespace tarrowin {

class MidiOutput {
   public:
    // The device id of "Midi Mapper": the default routing, here the built-in synthesizer.
    static constexpr int32_t kMidiMapper = -1;
    static constexpr const char* kMidiMapperName = "Midi Mapper";

    explicit MidiOutput(std::vector<std::unique_ptr<MidiBackend>> backends);
    ~MidiOutput();
    MidiOutput(const MidiOutput&) = delete;
    MidiOutput& operator=(const MidiOutput&) = delete;

    // Looks the devices up in every backend and stores their count.
    uint32_t countDevices();
    uint32_t deviceCount() const { return static_cast<uint32_t>(devices_.size()); }
    // The name of device `id` (0..count-1), "Midi Mapper" for -1, empty otherwise.
    std::string deviceName(int32_t id) const;
    // The rows of "MidiOut Setup": "Midi Mapper", then device 0, 1, ...
    std::vector<std::string> setupRows() const;
    // The dialog's result for a row: the row number - 1, so row 0 is the mapper.
    static int32_t deviceForRow(int row) { return row - 1; }

    void chooseDevice(int32_t id) { selected_ = id; }
    int32_t selectedDevice() const { return selected_; }

    int32_t percussionChannel() const { return percussionChannel_; }
    void setPercussionChannel(int32_t channel) { percussionChannel_ = channel & 0x0F; }

    // Opens the selected device. A device that is open already is in use. `retuning`: the
    // keys a device that retunes keys itself tunes (see selectedRetunesKeys).
    OpenResult open(std::shared_ptr<const Retuning> retuning = nullptr);
    // Whether the device open() would open tunes keys itself (the built-in synthesizer).
    bool selectedRetunesKeys() const;
    // Closes the device if it is open.
    void close();
    // Gets the selected device ready for a quick open, in the background (the built-in
    // synthesizer starts its audio stream); a failure shows at open.
    void prepare();
    // Closes the device and lets go of what the backends keep open between plays.
    void release();
    bool isOpen() const;

    // Packs the low 8 bits of each value into one message and sends it; dropped when the
    // device is closed.
    void sendShort(int32_t status, int32_t data1, int32_t data2 = 0);
    void send(const ShortMessage& message);
    // The message meant for steady-clock time `time`: see MidiBackend::sendAt.
    void sendAt(const ShortMessage& message, Clock::Duration time);
    // The open device's latency for messages sent with sendAt (zero when closed).
    Clock::Duration latency() const;
    void sendSysex(const SysexMessage& message);

    // 1 from a successful Play until Stop; every playback worker polls it.
    std::atomic<int32_t>& playingFlag() { return playing_; }

    // The backends, for the settings of their own (the built-in synthesizer's SoundFont).
    // Change them only while nothing plays.
    const std::vector<std::unique_ptr<MidiBackend>>& backends() const { return backends_; }

   private:
    struct Device {
        MidiBackend* backend;
        std::string name;
    };
    // The device the choice names, or nullptr with the reason in `why`.
    const Device* selected(std::string& why) const;

    std::vector<std::unique_ptr<MidiBackend>> backends_;
    std::vector<Device> devices_;
    int32_t selected_ = kMidiMapper;
    int32_t percussionChannel_ = kDefaultPercussionChannel;
    std::atomic<int32_t> playing_{0};

    mutable std::mutex deviceMutex_;
    MidiBackend* open_ = nullptr;  // guarded by deviceMutex_
};

}  // namespace tarrowin

#include "midi_output.h"

namespace tarrowin {

OpenResult OpenResult::failure(OpenStatus status, const std::string& detail) {
    switch (status) {
        case OpenStatus::Ok: return success();
        case OpenStatus::Allocated: return {status, kDeviceInUseMessage};
        case OpenStatus::NoMemory: return {status, kNoMemoryMessage};
        case OpenStatus::InvalidParam: return {status, kInvalidPointerMessage};
        case OpenStatus::Failed: break;
    }
    return {OpenStatus::Failed, detail.empty() ? "The MIDI output device could not be opened" : detail};
}

MidiOutput::MidiOutput(std::vector<std::unique_ptr<MidiBackend>> backends) : backends_(std::move(backends)) {}

MidiOutput::~MidiOutput() { close(); }

uint32_t MidiOutput::countDevices() {
    std::vector<Device> found;
    for (const auto& backend : backends_) {
        for (std::string& name : backend->listPorts()) found.push_back({backend.get(), std::move(name)});
    }
    devices_ = std::move(found);
    return deviceCount();
}

std::string MidiOutput::deviceName(int32_t id) const {
    if (id == kMidiMapper) return kMidiMapperName;
    if (id < 0 || static_cast<size_t>(id) >= devices_.size()) return {};
    return devices_[static_cast<size_t>(id)].name;
}

std::vector<std::string> MidiOutput::setupRows() const {
    std::vector<std::string> rows{kMidiMapperName};
    for (const Device& d : devices_) rows.push_back(d.name);
    return rows;
}

const MidiOutput::Device* MidiOutput::selected(std::string& why) const {
    if (selected_ == kMidiMapper) {
        // The mapper routes to the default backend's first port, or to the first device
        // when no backend is the default.
        for (const Device& d : devices_) {
            if (d.backend->isDefaultRoute()) return &d;
        }
        if (!devices_.empty()) return &devices_.front();
        why = kNoDevicesMessage;
        return nullptr;
    }
    if (selected_ >= 0 && static_cast<size_t>(selected_) < devices_.size()) {
        return &devices_[static_cast<size_t>(selected_)];
    }
    why = "MIDI output device " + std::to_string(selected_) + " does not exist";
    return nullptr;
}

bool MidiOutput::selectedRetunesKeys() const {
    std::string why;
    const Device* device = selected(why);
    return device != nullptr && device->backend->retunesKeys();
}

OpenResult MidiOutput::open(std::shared_ptr<const Retuning> retuning) {
    std::string why;
    const Device* device = selected(why);
    if (device == nullptr) return OpenResult::failure(OpenStatus::Failed, why);

    std::lock_guard lock(deviceMutex_);
    if (open_ != nullptr) return OpenResult::failure(OpenStatus::Allocated);
    DeviceSetup setup;
    setup.percussionChannel = percussionChannel_;
    setup.retuning = std::move(retuning);
    OpenResult result = device->backend->open(device->name, setup);
    if (result.ok()) open_ = device->backend;
    return result;
}

void MidiOutput::close() {
    std::lock_guard lock(deviceMutex_);
    if (open_ == nullptr) return;
    open_->close();
    open_ = nullptr;
}

void MidiOutput::prepare() {
    std::string why;
    if (const Device* device = selected(why)) device->backend->prepare(device->name);
}

void MidiOutput::release() {
    std::lock_guard lock(deviceMutex_);
    if (open_ != nullptr) open_->close();
    open_ = nullptr;
    for (const auto& backend : backends_) backend->release();
}

bool MidiOutput::isOpen() const {
    std::lock_guard lock(deviceMutex_);
    return open_ != nullptr;
}

void MidiOutput::sendShort(int32_t status, int32_t data1, int32_t data2) {
    send(ShortMessage{static_cast<uint8_t>(status & 0xFF), static_cast<uint8_t>(data1 & 0xFF),
                      static_cast<uint8_t>(data2 & 0xFF)});
}

void MidiOutput::send(const ShortMessage& message) {
    std::lock_guard lock(deviceMutex_);
    if (open_ != nullptr) open_->send(message);
}

void MidiOutput::sendAt(const ShortMessage& message, Clock::Duration time) {
    std::lock_guard lock(deviceMutex_);
    if (open_ != nullptr) open_->sendAt(message, time);
}

Clock::Duration MidiOutput::latency() const {
    std::lock_guard lock(deviceMutex_);
    return open_ != nullptr ? open_->latency() : Clock::Duration{};
}

void MidiOutput::sendSysex(const SysexMessage& message) {
    std::lock_guard lock(deviceMutex_);
    if (open_ != nullptr) open_->sendSysex(message.data());
}

}  // namespace tarrowin

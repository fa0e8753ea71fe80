#include "recording_backend.h"

#include <algorithm>

namespace tarrowin {

RecordingBackend::RecordingBackend(Clock& clock, std::vector<std::string> ports, bool defaultRoute)
    : clock_(clock), ports_(std::move(ports)), defaultRoute_(defaultRoute) {}

std::vector<std::string> RecordingBackend::listPorts() { return ports_; }

OpenResult RecordingBackend::open(const std::string& name, const DeviceSetup& setup) {
    std::lock_guard lock(mutex_);
    if (refusal_ != OpenStatus::Ok) return OpenResult::failure(refusal_, refusalDetail_);
    if (std::find(ports_.begin(), ports_.end(), name) == ports_.end()) {
        return OpenResult::failure(OpenStatus::Failed, "No port named " + name);
    }
    open_ = true;
    openPort_ = name;
    setup_ = setup;
    ++opens_;
    return OpenResult::success();
}

void RecordingBackend::send(const ShortMessage& message) {
    const Clock::Duration now = clock_.now();
    sendAt(message, now);
}

void RecordingBackend::sendAt(const ShortMessage& message, Clock::Duration time) {
    const Clock::Duration now = clock_.now();
    std::lock_guard lock(mutex_);
    if (!open_) {
        ++sentWhileClosed_;
        return;
    }
    records_.push_back({now, message, time});
}

void RecordingBackend::sendSysex(std::span<const uint8_t> message) {
    const Clock::Duration now = clock_.now();
    std::lock_guard lock(mutex_);
    if (!open_) {
        ++sentWhileClosed_;
        return;
    }
    records_.push_back({now, ShortMessage{}, now, std::vector<uint8_t>(message.begin(), message.end())});
}

void RecordingBackend::close() {
    std::lock_guard lock(mutex_);
    open_ = false;
    ++closes_;
}

void RecordingBackend::refuseOpens(OpenStatus status, const std::string& detail) {
    std::lock_guard lock(mutex_);
    refusal_ = status;
    refusalDetail_ = detail;
}

std::vector<RecordingBackend::Record> RecordingBackend::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<ShortMessage> RecordingBackend::messages() const {
    std::lock_guard lock(mutex_);
    std::vector<ShortMessage> out;
    out.reserve(records_.size());
    for (const Record& r : records_) {
        if (r.sysex.empty()) out.push_back(r.message);
    }
    return out;
}

void RecordingBackend::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

bool RecordingBackend::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

std::string RecordingBackend::openPort() const {
    std::lock_guard lock(mutex_);
    return openPort_;
}

DeviceSetup RecordingBackend::lastSetup() const {
    std::lock_guard lock(mutex_);
    return setup_;
}

int RecordingBackend::opens() const {
    std::lock_guard lock(mutex_);
    return opens_;
}

int RecordingBackend::closes() const {
    std::lock_guard lock(mutex_);
    return closes_;
}

int RecordingBackend::sentWhileClosed() const {
    std::lock_guard lock(mutex_);
    return sentWhileClosed_;
}

}  // namespace tarrowin

#include "rtmidi_backend.h"

#include <rtmidi/RtMidi.h>

#include "audio_system.h"

namespace tarrowin {

// The last critical error RtMidi reported through its callback. With a callback set,
// RtMidi reports instead of throwing, so every call is followed by a look at this.
struct RtMidiBackend::ErrorSink {
    bool failed = false;
    RtMidiError::Type type = RtMidiError::UNSPECIFIED;
    std::string text;

    void reset() { *this = ErrorSink{}; }
    static void callback(RtMidiError::Type type, const std::string& text, void* data) {
        if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING) return;
        auto* self = static_cast<ErrorSink*>(data);
        self->failed = true;
        self->type = type;
        self->text = text;
    }
};

namespace {

constexpr const char* kSystem = "ALSA: ";

OpenResult openFailure(RtMidiError::Type type, const std::string& text) {
    switch (type) {
        case RtMidiError::MEMORY_ERROR: return OpenResult::failure(OpenStatus::NoMemory);
        case RtMidiError::INVALID_PARAMETER:
        case RtMidiError::INVALID_DEVICE:
        case RtMidiError::INVALID_USE: return OpenResult::failure(OpenStatus::InvalidParam);
        case RtMidiError::DRIVER_ERROR:
            // A port that refuses the connection is held by someone else (exclusive ports).
            if (text.find("connection") != std::string::npos) return OpenResult::failure(OpenStatus::Allocated);
            break;
        default: break;
    }
    return OpenResult::failure(OpenStatus::Failed, text);
}

}  // namespace

RtMidiBackend::RtMidiBackend() : errors_(std::make_unique<ErrorSink>()) {}

RtMidiBackend::~RtMidiBackend() {
    close();
    virtualPort_.reset();
    client_.reset();
}

std::unique_ptr<RtMidiOut> RtMidiBackend::makeClient(const std::string& clientName) {
    quietAudioLibraries();
    try {
        auto out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, clientName);
        out->setErrorCallback(&ErrorSink::callback, errors_.get());
        return out;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

std::string RtMidiBackend::virtualPortListing() { return tarrowin::virtualPortListing(kSystem); }

std::vector<std::string> RtMidiBackend::listPorts() {
    std::vector<std::string> names;
    if (active_ == nullptr) {
        // RtMidi's ALSA client throws without a sequencer device: ask the system first.
        if (!alsaSequencerPresent()) {
            client_.reset();
            virtualPort_.reset();
        } else if (!client_) {
            client_ = makeClient(kConnectingClientName);
        }
    }
    if (!client_) return names;
    errors_->reset();
    const unsigned count = client_->getPortCount();
    for (unsigned i = 0; i < count && !errors_->failed; ++i) names.push_back(kSystem + client_->getPortName(i));
    names.push_back(virtualPortListing());
    return names;
}

OpenResult RtMidiBackend::open(const std::string& name, const DeviceSetup&) {
    if (active_ != nullptr) return OpenResult::failure(OpenStatus::Allocated);
    if (!client_ || !alsaSequencerPresent()) {
        return OpenResult::failure(OpenStatus::Failed, "The ALSA sequencer is not available, so " + name + " cannot be opened");
    }
    errors_->reset();
    if (name == virtualPortListing()) {
        if (!virtualPort_) {
            auto port = makeClient(kVirtualPortName);
            if (!port) return OpenResult::failure(OpenStatus::Failed, "The virtual port could not be created");
            port->openVirtualPort(kVirtualPortName);
            if (errors_->failed) return openFailure(errors_->type, errors_->text);
            virtualPort_ = std::move(port);
        }
        active_ = virtualPort_.get();
        return OpenResult::success();
    }
    const unsigned count = client_->getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        if (kSystem + client_->getPortName(i) != name) continue;
        client_->openPort(i, kVirtualPortName);
        if (errors_->failed || !client_->isPortOpen()) {
            if (client_->isPortOpen()) client_->closePort();
            return openFailure(errors_->type, errors_->text);
        }
        active_ = client_.get();
        return OpenResult::success();
    }
    return OpenResult::failure(OpenStatus::Failed, "The MIDI port " + name + " is no longer available");
}

void RtMidiBackend::send(const ShortMessage& message) {
    if (active_ == nullptr) return;
    const unsigned char bytes[3] = {message.status, message.data1, message.data2};
    active_->sendMessage(bytes, static_cast<size_t>(message.size()));
}

void RtMidiBackend::sendSysex(std::span<const uint8_t> message) {
    if (active_ != nullptr) active_->sendMessage(message.data(), message.size());
}

void RtMidiBackend::close() {
    // The virtual port stays, so the connections made to it survive from one play to the
    // next; only a port we connected to is let go.
    if (active_ == client_.get() && client_) client_->closePort();
    active_ = nullptr;
}

}  // namespace tarrowin

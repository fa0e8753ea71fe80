#include "nsm_client.h"

#include <lo/lo.h>

#include <string_view>

namespace tarrowin::remote {

namespace {

constexpr const char* kAnnounce = "/nsm/server/announce";

// liblo reports a message no method takes, and socket errors, through this; the protocol
// has nothing to do about them.
void quiet(int, const char*, const char*) {}

}  // namespace

std::string capabilityText(const NsmCapabilities& c) {
    std::string text = ":";
    if (c.dirty) text += "dirty:";
    if (c.optionalGui) text += "optional-gui:";
    if (c.switching) text += "switch:";
    return text;
}

bool hasCapability(const std::string& list, const std::string& name) {
    return (":" + list + ":").find(":" + name + ":") != std::string::npos;
}

struct NsmClient::Liblo {
    lo_address manager = nullptr;
    lo_server_thread thread = nullptr;
    lo_server server = nullptr;
    NsmHandlers handlers;

    // liblo's thread is stopped before the handlers it calls go.
    ~Liblo() {
        if (thread != nullptr) {
            lo_server_thread_stop(thread);
            lo_server_thread_free(thread);
        }
        if (manager != nullptr) lo_address_free(manager);
    }

    // Every message from the manager, on liblo's thread. Those whose type tags are not the
    // protocol's, and those that need no action (session_is_loaded, a newer manager's), are
    // left alone.
    static int receive(const char* path, const char* types, lo_arg** argv, int argc, lo_message, void* data) {
        const NsmHandlers& h = static_cast<Liblo*>(data)->handlers;
        const std::string_view p = path;
        const std::string_view t = types;
        // OSC aligns arguments to 4 bytes only: a string is read as bytes, not through lo_arg.
        const auto text = [&](int i) { return std::string(reinterpret_cast<const char*>(argv[i])); };
        const bool aboutAnnounce = argc >= 1 && t[0] == LO_STRING && text(0) == kAnnounce;
        if (p == "/reply" && aboutAnnounce && t.substr(0, 4) == "ssss") {
            if (h.announced) h.announced(text(2), text(3));
        } else if (p == "/error" && aboutAnnounce && t.substr(0, 3) == "sis") {
            if (h.refused) h.refused(text(2));
        } else if (p == "/nsm/client/open" && t == "sss") {
            if (h.open) h.open(text(0), text(1), text(2));
        } else if (p == "/nsm/client/save" && t.empty()) {
            if (h.save) h.save();
        } else if ((p == "/nsm/client/show_optional_gui" || p == "/nsm/client/hide_optional_gui") && t.empty()) {
            if (h.showGui) h.showGui(p == "/nsm/client/show_optional_gui");
        }
        return 0;
    }
};

NsmClient::NsmClient() : lo_(std::make_unique<Liblo>()) {}

NsmClient::~NsmClient() = default;

std::unique_ptr<NsmClient> NsmClient::start(const std::string& url, NsmHandlers handlers, std::string& error) {
    std::unique_ptr<NsmClient> c(new NsmClient);
    Liblo& lo = *c->lo_;
    lo.handlers = std::move(handlers);
    lo.manager = lo_address_new_from_url(url.c_str());
    if (lo.manager == nullptr) {
        error = "NSM_URL is not an OSC address: " + url;
        return nullptr;
    }
    lo.thread = lo_server_thread_new_with_proto(nullptr, lo_address_get_protocol(lo.manager), quiet);
    if (lo.thread == nullptr) {
        error = "no socket for the session manager's messages";
        return nullptr;
    }
    lo.server = lo_server_thread_get_server(lo.thread);
    lo_server_thread_add_method(lo.thread, nullptr, nullptr, &Liblo::receive, &lo);
    if (lo_server_thread_start(lo.thread) != 0) {
        error = "the session manager's messages cannot be received";
        return nullptr;
    }
    return c;
}

void NsmClient::announce(const std::string& name, const NsmCapabilities& capabilities, const std::string& executable,
                         int64_t pid) {
    lo_send_from(lo_->manager, lo_->server, LO_TT_IMMEDIATE, kAnnounce, "sssiii", name.c_str(),
                 capabilityText(capabilities).c_str(), executable.c_str(), kNsmApiMajor, kNsmApiMinor,
                 static_cast<int>(pid));
}

void NsmClient::reply(const std::string& path, const std::string& message) {
    lo_send_from(lo_->manager, lo_->server, LO_TT_IMMEDIATE, "/reply", "ss", path.c_str(), message.c_str());
}

void NsmClient::error(const std::string& path, NsmError code, const std::string& message) {
    lo_send_from(lo_->manager, lo_->server, LO_TT_IMMEDIATE, "/error", "sis", path.c_str(), static_cast<int>(code),
                 message.c_str());
}

void NsmClient::dirty(bool isDirty) {
    lo_send_from(lo_->manager, lo_->server, LO_TT_IMMEDIATE, isDirty ? "/nsm/client/is_dirty" : "/nsm/client/is_clean",
                 "");
}

void NsmClient::guiShown(bool shown) {
    lo_send_from(lo_->manager, lo_->server, LO_TT_IMMEDIATE,
                 shown ? "/nsm/client/gui_is_shown" : "/nsm/client/gui_is_hidden", "");
}

}  // namespace tarrowin::remote

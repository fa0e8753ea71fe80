#include "nsm_client.h"

#include <lo/lo.h>

#include <cstring>
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

    ~Liblo() {
        if (thread != nullptr) {
            lo_server_thread_stop(thread);
            lo_server_thread_free(thread);
        }
        if (manager != nullptr) lo_address_free(manager);
    }
};

NsmClient::NsmClient() : lo_(std::make_unique<Liblo>()) {}

// liblo's thread is stopped before the handlers it calls go.
NsmClient::~NsmClient() { lo_.reset(); }

std::unique_ptr<NsmClient> NsmClient::start(const std::string& url, NsmHandlers handlers, std::string& error) {
    std::unique_ptr<NsmClient> c(new NsmClient);
    c->handlers_ = std::move(handlers);
    Liblo& lo = *c->lo_;
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
    NsmClient* self = c.get();

    lo_server_thread_add_method(
        lo.thread, "/reply", nullptr,
        [](const char*, const char* types, lo_arg** argv, int argc, lo_message, void* data) -> int {
            auto* client = static_cast<NsmClient*>(data);
            if (argc >= 4 && std::strncmp(types, "ssss", 4) == 0 && std::strcmp(&argv[0]->s, kAnnounce) == 0 &&
                client->handlers_.announced)
                client->handlers_.announced(&argv[2]->s, &argv[3]->s);
            return 0;
        },
        self);
    lo_server_thread_add_method(
        lo.thread, "/error", nullptr,
        [](const char*, const char* types, lo_arg** argv, int argc, lo_message, void* data) -> int {
            auto* client = static_cast<NsmClient*>(data);
            if (argc >= 3 && std::strncmp(types, "sis", 3) == 0 && std::strcmp(&argv[0]->s, kAnnounce) == 0 &&
                client->handlers_.refused)
                client->handlers_.refused(&argv[2]->s);
            return 0;
        },
        self);
    lo_server_thread_add_method(
        lo.thread, "/nsm/client/open", "sss",
        [](const char*, const char*, lo_arg** argv, int, lo_message, void* data) -> int {
            auto* client = static_cast<NsmClient*>(data);
            if (client->handlers_.open) client->handlers_.open(&argv[0]->s, &argv[1]->s, &argv[2]->s);
            return 0;
        },
        self);
    lo_server_thread_add_method(
        lo.thread, "/nsm/client/save", "",
        [](const char*, const char*, lo_arg**, int, lo_message, void* data) -> int {
            auto* client = static_cast<NsmClient*>(data);
            if (client->handlers_.save) client->handlers_.save();
            return 0;
        },
        self);
    for (const bool shown : {true, false}) {
        lo_server_thread_add_method(
            lo.thread, shown ? "/nsm/client/show_optional_gui" : "/nsm/client/hide_optional_gui", "",
            shown ? static_cast<lo_method_handler>(
                        [](const char*, const char*, lo_arg**, int, lo_message, void* data) -> int {
                            auto* client = static_cast<NsmClient*>(data);
                            if (client->handlers_.showGui) client->handlers_.showGui(true);
                            return 0;
                        })
                  : static_cast<lo_method_handler>(
                        [](const char*, const char*, lo_arg**, int, lo_message, void* data) -> int {
                            auto* client = static_cast<NsmClient*>(data);
                            if (client->handlers_.showGui) client->handlers_.showGui(false);
                            return 0;
                        }),
            self);
    }
    // Everything else (session_is_loaded, a newer manager's messages) needs no action.
    lo_server_thread_add_method(
        lo.thread, nullptr, nullptr, [](const char*, const char*, lo_arg**, int, lo_message, void*) -> int { return 0; },
        nullptr);
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

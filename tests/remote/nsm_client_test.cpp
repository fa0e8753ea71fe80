// The session manager's client against a manager played by a liblo server in the test: the
// announce, the manager's messages reaching their handlers, and the client's answers coming
// from the announce's socket.

#include <gtest/gtest.h>
#include <lo/lo.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "remote/nsm_client.h"

namespace tarrowin::remote {
namespace {

// What the manager received: the path, the types and the arguments as text.
struct Received {
    std::string path;
    std::string types;
    std::vector<std::string> args;
    int sourcePort = 0;
};

class Manager {
   public:
    Manager() {
        server_ = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
        lo_server_add_method(server_, nullptr, nullptr, &Manager::take, this);
    }
    ~Manager() { lo_server_free(server_); }
    std::string url() const { return "osc.udp://127.0.0.1:" + std::to_string(lo_server_get_port(server_)) + "/"; }

    // The next message within two seconds.
    Received next() {
        got_.reset();
        for (int i = 0; i < 20 && !got_; ++i) lo_server_recv_noblock(server_, 100);
        return got_.value_or(Received{});
    }
    // Sends to the client at the address its last message came from.
    template <class... A>
    void send(const char* path, const char* types, A... args) {
        lo_address to = lo_address_new("127.0.0.1", std::to_string(clientPort_).c_str());
        lo_send_from(to, server_, LO_TT_IMMEDIATE, path, types, args...);
        lo_address_free(to);
    }

   private:
    static int take(const char* path, const char* types, lo_arg** argv, int argc, lo_message m, void* data) {
        auto* self = static_cast<Manager*>(data);
        Received r{path, types, {}, 0};
        for (int i = 0; i < argc; ++i)
            r.args.push_back(types[i] == 's' ? std::string(&argv[i]->s) : std::to_string(argv[i]->i));
        r.sourcePort = std::stoi(lo_address_get_port(lo_message_get_source(m)));
        self->clientPort_ = r.sourcePort;
        self->got_ = r;
        return 0;
    }
    lo_server server_;
    std::optional<Received> got_;
    int clientPort_ = 0;
};

// The handlers' calls, as text, waited for from the test's thread.
class Calls {
   public:
    NsmHandlers handlers() {
        return {[this](const std::string& m, const std::string& c) { add("announced " + m + " " + c); },
                [this](const std::string& m) { add("refused " + m); },
                [this](const std::string& p, const std::string& n, const std::string& id) {
                    add("open " + p + " " + n + " " + id);
                },
                [this] { add("save"); }, [this](bool shown) { add(shown ? "show" : "hide"); }};
    }
    std::string next() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(2), [&] { return !calls_.empty(); });
        if (calls_.empty()) return "(none)";
        std::string c = calls_.front();
        calls_.erase(calls_.begin());
        return c;
    }

   private:
    void add(std::string c) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(c));
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
};

TEST(NsmClient, TakesPartInASession) {
    Manager manager;
    Calls calls;
    std::string error;
    auto client = NsmClient::start(manager.url(), calls.handlers(), error);
    ASSERT_TRUE(client) << error;

    client->announce("Tarrowin", {true, true, true}, "tarrowin", 4242);
    const Received announce = manager.next();
    EXPECT_EQ(announce.path, "/nsm/server/announce");
    EXPECT_EQ(announce.types, "sssiii");
    EXPECT_EQ(announce.args, (std::vector<std::string>{"Tarrowin", ":dirty:optional-gui:switch:", "tarrowin", "1", "1", "4242"}));

    manager.send("/reply", "ssss", "/nsm/server/announce", "Welcome", "Test Manager", ":optional-gui:");
    EXPECT_EQ(calls.next(), "announced Test Manager :optional-gui:");
    manager.send("/nsm/client/open", "sss", "/s/Tarrowin.nABC", "Tarrowin", "Tarrowin.nABC");
    EXPECT_EQ(calls.next(), "open /s/Tarrowin.nABC Tarrowin Tarrowin.nABC");
    manager.send("/nsm/client/open", "ss", "/s/x", "missing its id");  // not the protocol's: ignored
    manager.send("/nsm/client/session_is_loaded", "");
    manager.send("/nsm/client/save", "");
    EXPECT_EQ(calls.next(), "save");
    manager.send("/nsm/client/hide_optional_gui", "");
    EXPECT_EQ(calls.next(), "hide");
    manager.send("/nsm/client/show_optional_gui", "");
    EXPECT_EQ(calls.next(), "show");

    // Every answer leaves from the socket of the announce.
    client->reply("/nsm/client/save", "Saved");
    const Received reply = manager.next();
    EXPECT_EQ(reply.args, (std::vector<std::string>{"/nsm/client/save", "Saved"}));
    EXPECT_EQ(reply.sourcePort, announce.sourcePort);
    client->error("/nsm/client/open", NsmError::BadProject, "not a document");
    EXPECT_EQ(manager.next().args, (std::vector<std::string>{"/nsm/client/open", "-9", "not a document"}));
    client->dirty(true);
    EXPECT_EQ(manager.next().path, "/nsm/client/is_dirty");
    client->dirty(false);
    EXPECT_EQ(manager.next().path, "/nsm/client/is_clean");
    client->guiShown(false);
    EXPECT_EQ(manager.next().path, "/nsm/client/gui_is_hidden");
}

TEST(NsmClient, ARefusedAnnounceIsReported) {
    Manager manager;
    Calls calls;
    std::string error;
    auto client = NsmClient::start(manager.url(), calls.handlers(), error);
    ASSERT_TRUE(client);
    client->announce("Tarrowin", {}, "tarrowin", 1);
    EXPECT_EQ(manager.next().args.at(1), ":");
    manager.send("/error", "sis", "/nsm/server/announce", -2, "Incompatible API");
    EXPECT_EQ(calls.next(), "refused Incompatible API");
    EXPECT_FALSE(NsmClient::start("not an address", {}, error));
    EXPECT_EQ(error, "NSM_URL is not an OSC address: not an address");
}

TEST(NsmClient, CapabilityLists) {
    EXPECT_EQ(capabilityText({true, false, true}), ":dirty:switch:");
    EXPECT_TRUE(hasCapability(":server-control:optional-gui:", "optional-gui"));
    EXPECT_TRUE(hasCapability("optional-gui", "optional-gui"));
    EXPECT_FALSE(hasCapability(":optional-gui-x:", "optional-gui"));
}

}  // namespace
}  // namespace tarrowin::remote

#pragma once
// The client side of the Non/New Session Manager protocol (API 1.1) on liblo's own server
// thread: the announce, the manager's open, save and optional-GUI messages, and the
// answers and notices a client sends back. Every message from the manager reaches a
// handler on liblo's thread; the program hands it on to its own thread. Messages to the
// manager go out from the socket the announce came from, as the protocol requires.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarrowin::remote {

// The protocol's error codes.
enum class NsmError {
    General = -1,
    IncompatibleApi = -2,
    Blacklisted = -3,
    LaunchFailed = -4,
    NoSuchFile = -5,
    NoSessionOpen = -6,
    UnsavedChanges = -7,
    NotNow = -8,
    BadProject = -9,
    CreateFailed = -10,
};

inline constexpr int kNsmApiMajor = 1;
inline constexpr int kNsmApiMinor = 1;

struct NsmCapabilities {
    bool dirty = false;        // tells the manager about unsaved changes
    bool optionalGui = false;  // the window can be hidden and shown
    bool switching = false;    // opens another project without a restart
};
// ":dirty:optional-gui:switch:" with the capabilities that hold; ":" for none.
std::string capabilityText(const NsmCapabilities& c);
// Whether a capability list such as ":server-control:optional-gui:" names `name`.
bool hasCapability(const std::string& list, const std::string& name);

struct NsmHandlers {
    // The manager took the announce: its name and its capabilities.
    std::function<void(const std::string& manager, const std::string& capabilities)> announced;
    // The manager refused the announce, with its message.
    std::function<void(const std::string& message)> refused;
    // /nsm/client/open: where the project lives (without an extension), the name the
    // manager shows, and the unique id to name JACK clients by.
    std::function<void(const std::string& path, const std::string& displayName, const std::string& clientId)> open;
    std::function<void()> save;
    std::function<void(bool shown)> showGui;
};

class NsmClient {
   public:
    // Starts liblo's server thread with the protocol of `url` (NSM_URL); nothing when the
    // address cannot be used, and `error` says why.
    static std::unique_ptr<NsmClient> start(const std::string& url, NsmHandlers handlers, std::string& error);
    ~NsmClient();
    NsmClient(const NsmClient&) = delete;
    NsmClient& operator=(const NsmClient&) = delete;

    // The messages to the manager; safe from one thread other than liblo's.
    void announce(const std::string& name, const NsmCapabilities& capabilities, const std::string& executable,
                  int64_t pid);
    void reply(const std::string& path, const std::string& message);
    void error(const std::string& path, NsmError code, const std::string& message);
    void dirty(bool isDirty);
    void guiShown(bool shown);

   private:
    struct Liblo;
    NsmClient();
    std::unique_ptr<Liblo> lo_;
};

}  // namespace tarrowin::remote

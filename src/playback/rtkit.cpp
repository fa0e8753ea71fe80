#include "rtkit.h"

#include <dbus/dbus.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <mutex>

namespace tarrowin {

namespace {

constexpr const char* kService = "org.freedesktop.RealtimeKit1";
constexpr const char* kPath = "/org/freedesktop/RealtimeKit1";
// The service answers in about a millisecond; a bus that does not answer in this time is
// not waited for again.
constexpr int kTimeoutMs = 1000;

class ScopedError {
   public:
    ScopedError() { dbus_error_init(&error_); }
    ~ScopedError() { dbus_error_free(&error_); }
    ScopedError(const ScopedError&) = delete;
    ScopedError& operator=(const ScopedError&) = delete;
    DBusError* get() { return &error_; }
    bool noService() const {
        return dbus_error_is_set(&error_) &&
               (dbus_error_has_name(&error_, DBUS_ERROR_SERVICE_UNKNOWN) ||
                dbus_error_has_name(&error_, DBUS_ERROR_NAME_HAS_NO_OWNER) ||
                dbus_error_has_name(&error_, DBUS_ERROR_NO_REPLY) || dbus_error_has_name(&error_, DBUS_ERROR_TIMEOUT) ||
                dbus_error_has_name(&error_, DBUS_ERROR_DISCONNECTED));
    }

   private:
    DBusError error_;
};

struct Message {
    DBusMessage* m = nullptr;
    explicit Message(DBusMessage* message) : m(message) {}
    ~Message() {
        if (m != nullptr) dbus_message_unref(m);
    }
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
};

// One private connection to the system bus for the process, opened at the first request.
class Service {
   public:
    bool request(int priority, int maximum) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (gaveUp_ || !connect() || !readLimits()) return false;
        const int64_t maxPriority = maxPriority_;
        const auto wanted =
            static_cast<dbus_uint32_t>(std::clamp<int64_t>(maxPriority * priority / std::max(maximum, 1), 1, maxPriority));
        Message call(dbus_message_new_method_call(kService, kPath, kService, "MakeThreadRealtime"));
        if (call.m == nullptr) return false;
        const auto thread = static_cast<dbus_uint64_t>(syscall(SYS_gettid));
        if (!dbus_message_append_args(call.m, DBUS_TYPE_UINT64, &thread, DBUS_TYPE_UINT32, &wanted, DBUS_TYPE_INVALID)) {
            return false;
        }
        ScopedError error;
        Message reply(dbus_connection_send_with_reply_and_block(bus_, call.m, kTimeoutMs, error.get()));
        if (reply.m == nullptr && error.noService()) gaveUp_ = true;
        return reply.m != nullptr;
    }

   private:
    // The service's limits, read once (they hold for its lifetime), and the process's
    // RLIMIT_RTTIME set within them once.
    bool readLimits() {
        if (maxPriority_ > 0) return true;
        int64_t maxPriority = 0;
        int64_t maxRtTime = 0;
        if (!property("MaxRealtimePriority", maxPriority) || !property("RTTimeUSecMax", maxRtTime)) return false;
        if (maxPriority < 1 || maxRtTime < 1) return false;
        // The service grants only a process whose CPU time at real-time priority is bounded
        // by its limit: a thread that never blocks is then stopped instead of the desktop.
        rlimit limit{};
        if (getrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
        const auto bound = static_cast<rlim_t>(maxRtTime);
        if (limit.rlim_max == RLIM_INFINITY || limit.rlim_max > bound) {
            limit.rlim_cur = limit.rlim_max = bound;
            if (setrlimit(RLIMIT_RTTIME, &limit) != 0) return false;
        }
        maxPriority_ = maxPriority;
        return true;
    }

    bool connect() {
        if (bus_ != nullptr) return true;
        dbus_threads_init_default();
        ScopedError error;
        bus_ = dbus_bus_get_private(DBUS_BUS_SYSTEM, error.get());
        if (bus_ == nullptr) {
            gaveUp_ = true;
            return false;
        }
        dbus_connection_set_exit_on_disconnect(bus_, FALSE);
        return true;
    }

    bool property(const char* name, int64_t& value) {
        Message call(dbus_message_new_method_call(kService, kPath, "org.freedesktop.DBus.Properties", "Get"));
        if (call.m == nullptr) return false;
        const char* interface = kService;
        if (!dbus_message_append_args(call.m, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID)) {
            return false;
        }
        ScopedError error;
        Message reply(dbus_connection_send_with_reply_and_block(bus_, call.m, kTimeoutMs, error.get()));
        if (reply.m == nullptr) {
            if (error.noService()) gaveUp_ = true;
            return false;
        }
        DBusMessageIter it;
        DBusMessageIter variant;
        if (!dbus_message_iter_init(reply.m, &it) || dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_VARIANT) return false;
        dbus_message_iter_recurse(&it, &variant);
        switch (dbus_message_iter_get_arg_type(&variant)) {
            case DBUS_TYPE_INT32: {
                dbus_int32_t v = 0;
                dbus_message_iter_get_basic(&variant, &v);
                value = v;
                return true;
            }
            case DBUS_TYPE_INT64: {
                dbus_int64_t v = 0;
                dbus_message_iter_get_basic(&variant, &v);
                value = v;
                return true;
            }
            default:
                return false;
        }
    }

    std::mutex mutex_;
    DBusConnection* bus_ = nullptr;
    bool gaveUp_ = false;
    int64_t maxPriority_ = 0;  // 0 until the limits were read
};

}  // namespace

bool requestRealtimeFromService(int priority, int maximum) {
    static Service service;
    return service.request(priority, maximum);
}

}  // namespace tarrowin

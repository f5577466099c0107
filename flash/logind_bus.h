// How this program reaches logind (org.freedesktop.login1), for the restart and for the
// lock that keeps the machine up during a flash: over a connection of its own to the
// system bus, at the address that DBUS_SYSTEM_BUS_ADDRESS names (read at every connect, so
// a test that puts a private bus there is never answered by the machine's own) or else at
// the system's standard socket.
//
// The whole road is bounded by one limit: the connect, the authentication, Hello and every
// call. A bus that stalls at any step must not hold up a flash or a restart, nor end the
// program. The client is systemd's sd-bus, which takes a timeout per call and waits on the
// caller's own thread; its own waits for the way in are longer than the limit (and a call
// made before the connection is ready waits for it with none), so the way in is driven
// here, step by step, against the deadline. The road still blocks its caller; the flash and
// the restart offer run it through their waiter, which keeps the window painting meanwhile.
#pragma once

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace flash::logind {

inline constexpr const char* kService = "org.freedesktop.login1";
inline constexpr const char* kPath = "/org/freedesktop/login1";
inline constexpr const char* kManager = "org.freedesktop.login1.Manager";
inline constexpr const char* kAddressVariable = "DBUS_SYSTEM_BUS_ADDRESS";
inline constexpr const char* kStandardAddress = "unix:path=/run/dbus/system_bus_socket";
// logind answers at once; the road to it (connect and calls) takes no longer than this.
inline constexpr std::chrono::milliseconds kRoadLimit{3000};

// Where the next connection goes.
std::string systemBusAddress();

// The answer to one call: the reply, or why there is none.
class Reply {
public:
    bool ok() const { return message_ != nullptr; }
    // Why there is no reply, on one line.
    const std::string& error() const { return error_; }
    // Reads the reply's next arguments as sd_bus_message_read does; false when there is no
    // reply or it does not hold them. Strings and descriptors stay the reply's own.
    template <typename... Out>
    bool read(const char* types, Out*... out)
    {
        return message_ && sd_bus_message_read(message_.get(), types, out...) > 0;
    }

private:
    friend class SystemBus;
    struct Unref {
        void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
    };
    std::unique_ptr<sd_bus_message, Unref> message_;
    std::string error_;
};

// One connection to the system bus, closed when the object goes. The limit counts from
// the object's creation and covers the connect and every call made through it.
class SystemBus {
public:
    explicit SystemBus(std::chrono::milliseconds limit = kRoadLimit);
    SystemBus(const SystemBus&) = delete;
    SystemBus& operator=(const SystemBus&) = delete;

    bool connected() const { return bus_ != nullptr; }
    // Why it is not connected.
    const std::string& error() const { return error_; }
    // logind is on the bus.
    bool hasLogind();
    // Calls a method of logind's manager with arguments as sd_bus_message_append takes them
    // and waits for the answer until the limit.
    template <typename... In>
    Reply callManager(const char* method, const char* types = "", In... in)
    {
        return call(kService, kPath, kManager, method,
                    [&](sd_bus_message* message) { return sd_bus_message_append(message, types, in...); });
    }

private:
    using Append = std::function<int(sd_bus_message*)>;
    Reply call(const char* service, const char* path, const char* interface, const char* method,
               const Append& append);
    // What is left of the limit, in sd-bus's microseconds; 0 once it has passed.
    std::uint64_t left() const;

    struct Close {
        void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
    };
    std::chrono::steady_clock::time_point deadline_;
    std::chrono::milliseconds limit_;
    std::unique_ptr<sd_bus, Close> bus_;
    std::string error_;
};

} // namespace flash::logind

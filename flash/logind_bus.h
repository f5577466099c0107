// How this program reaches logind (org.freedesktop.login1), for the restart and for the
// lock that keeps the machine up during a flash: over a connection of its own to the
// system bus, at the address that DBUS_SYSTEM_BUS_ADDRESS names (read at every connect, so
// a test that puts a private bus there is never answered by the machine's own) or else at
// the system's standard socket.
//
// The whole road, connect and calls together, is bounded: a bus that never answers must
// not hold up a flash or a restart. Qt's own connect waits without any limit for the bus
// to answer the authentication, and it waits on Qt's one D-Bus thread, which would hold up
// every later connect of the program as well; so it only goes to a bus whose socket has
// just answered the authentication within the limit. The road still blocks its caller;
// the flash and the restart offer run it through their waiter, which keeps the window
// painting meanwhile.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QString>
#include <QVariantList>

#include <chrono>
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

// One connection to the system bus, closed when the object goes. The limit counts from
// the object's creation and covers the connect and every call made through it.
class SystemBus {
public:
    explicit SystemBus(std::chrono::milliseconds limit = kRoadLimit);
    ~SystemBus();
    SystemBus(const SystemBus&) = delete;
    SystemBus& operator=(const SystemBus&) = delete;

    bool connected() const { return connection_.isConnected(); }
    // Why it is not connected.
    std::string error() const;
    // logind is on the bus.
    bool hasLogind() const;
    // Calls a method of logind's manager and waits for the answer until the limit.
    QDBusMessage callManager(const char* method, const QVariantList& args = {});

private:
    QDBusMessage call(QDBusMessage message) const;

    QDeadlineTimer deadline_;
    QString name_;
    QDBusConnection connection_;
    std::string unanswered_; // why the bus was not even tried
};

// A D-Bus error's text on one line.
std::string errorText(const QDBusMessage& reply);

} // namespace flash::logind

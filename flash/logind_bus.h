// How this program reaches logind (org.freedesktop.login1), for the restart and for the
// lock that keeps the machine up during a flash: over a connection of its own to the
// system bus, at the address that DBUS_SYSTEM_BUS_ADDRESS names (read at every connect, so
// a test that puts a private bus there is never answered by the machine's own) or else at
// the system's standard socket.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariantList>

#include <string>

namespace flash::logind {

inline constexpr const char* kService = "org.freedesktop.login1";
inline constexpr const char* kPath = "/org/freedesktop/login1";
inline constexpr const char* kManager = "org.freedesktop.login1.Manager";
inline constexpr const char* kAddressVariable = "DBUS_SYSTEM_BUS_ADDRESS";
inline constexpr const char* kStandardAddress = "unix:path=/run/dbus/system_bus_socket";

// Where the next connection goes.
std::string systemBusAddress();

// One connection to the system bus, closed when the object goes.
class SystemBus {
public:
    SystemBus();
    ~SystemBus();
    SystemBus(const SystemBus&) = delete;
    SystemBus& operator=(const SystemBus&) = delete;

    bool connected() const { return connection_.isConnected(); }
    // Why it is not connected.
    std::string error() const;
    // logind is on the bus.
    bool hasLogind() const;
    // Calls a method of logind's manager and waits for the answer, at most timeoutMs
    // milliseconds (-1: the D-Bus default of 25 seconds).
    QDBusMessage callManager(const char* method, const QVariantList& args = {}, int timeoutMs = -1);

private:
    QString name_;
    QDBusConnection connection_;
};

// A D-Bus error's text on one line.
std::string errorText(const QDBusMessage& reply);

} // namespace flash::logind

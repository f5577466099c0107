#include "linux_restart.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace flash {
namespace {

constexpr const char* kService = "org.freedesktop.login1";
constexpr const char* kPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr unsigned kCapSysBoot = 22;

StepResult failed(int error, const std::string& detail)
{
    return {false, error, detail};
}

} // namespace

bool rebootForbidden()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && value[0] != '\0' && std::string(value) != "0";
    };
    // A flash of virtual drives never needs the real machine restarted either.
    return set(kNoRebootVariable) || set("QVX_VIRTUAL_DRIVES");
}

bool capEffHoldsSysBoot(const std::string& procStatus)
{
    std::istringstream lines(procStatus);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("CapEff:", 0) != 0)
            continue;
        try {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> kCapSysBoot) & 1u;
        } catch (const std::exception&) {
            return false;
        }
    }
    return false;
}

struct LinuxRestart::Bus {
    QDBusConnection connection = QDBusConnection::systemBus();
};

LinuxRestart::LinuxRestart(std::function<void(const std::string&)> say) : say_(std::move(say))
{
    if (!say_)
        say_ = [](const std::string& text) { std::cerr << text << '\n'; };
}

LinuxRestart::~LinuxRestart() = default;

StepResult LinuxRestart::openSession()
{
    bus_ = std::make_unique<Bus>();
    if (!bus_->connection.isConnected()) {
        const std::string why = bus_->connection.lastError().message().toStdString();
        say_("restart: no system bus: " + why);
        return failed(ENOTCONN, why);
    }
    return StepResult::success();
}

StepResult LinuxRestart::lookupRebootRight()
{
    if (!bus_ || !bus_->connection.isConnected())
        return failed(ENOTCONN, "no system bus");
    QDBusConnectionInterface* names = bus_->connection.interface();
    const QDBusReply<bool> there = names ? names->isServiceRegistered(kService) : QDBusReply<bool>();
    if (!there.isValid() || !there.value()) {
        say_(std::string("restart: ") + kService + " is not on the system bus");
        return failed(ENOENT, "logind not available");
    }
    return StepResult::success();
}

StepResult LinuxRestart::enableRebootRight()
{
    if (!bus_ || !bus_->connection.isConnected())
        return failed(ENOTCONN, "no system bus");
    QDBusInterface manager(kService, kPath, kManager, bus_->connection);
    const QDBusReply<QString> can = manager.call("CanReboot");
    const std::string answer = can.isValid() ? can.value().toStdString() : std::string();
    if (answer == "yes")
        return StepResult::success();

    std::ifstream statusFile("/proc/self/status");
    std::stringstream status;
    status << statusFile.rdbuf();
    if (capEffHoldsSysBoot(status.str()))
        return StepResult::success();

    const std::string why = can.isValid() ? "CanReboot answered \"" + answer + "\""
                                          : can.error().message().toStdString();
    say_("restart: not allowed to reboot: " + why);
    return failed(EPERM, why);
}

void LinuxRestart::reboot()
{
    if (rebootForbidden()) {
        say_(std::string(kNoRebootVariable) + " is set: would call " + kManager + ".Reboot(false) on "
             + kService + " now");
        return;
    }
    if (!bus_ || !bus_->connection.isConnected())
        return;
    QDBusInterface manager(kService, kPath, kManager, bus_->connection);
    const QDBusMessage reply = manager.call("Reboot", false);
    if (reply.type() == QDBusMessage::ErrorMessage)
        say_("restart: Reboot refused: " + reply.errorMessage().toStdString());
}

} // namespace flash

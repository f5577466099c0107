#include "linux_restart.h"

#include "capabilities.h"
#include "logind_bus.h"
#include "virtual_drive.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>

namespace flash {
namespace {

using logind::kManager;
using logind::kService;
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
    // A flash of virtual drives never needs the real machine restarted either; whether
    // they are in use is the drive list's own rule, so the two cannot disagree.
    return set(kNoRebootVariable) || !scsi::virtualDrivesFolder().empty();
}

bool capEffHoldsSysBoot(const std::string& procStatus)
{
    return os::effectiveCapabilityHeld(procStatus, kCapSysBoot);
}

struct LinuxRestart::Bus : logind::SystemBus {};

LinuxRestart::LinuxRestart(std::function<void(const std::string&)> say,
                           std::function<std::string()> procStatus)
    : say_(std::move(say)), procStatus_(std::move(procStatus))
{
    if (!say_)
        say_ = [](const std::string& text) { std::cerr << text << '\n'; };
    if (!procStatus_)
        procStatus_ = os::ownProcStatus;
}

LinuxRestart::~LinuxRestart() = default;

StepResult LinuxRestart::openSession()
{
    // A dry run reaches for nothing: not even a bus that is missing may end it in a box.
    if (rebootForbidden())
        return StepResult::success();
    bus_ = std::make_unique<Bus>();
    if (!bus_->connected()) {
        const std::string why = bus_->error();
        say_("restart: no system bus: " + why);
        return failed(ENOTCONN, why);
    }
    return StepResult::success();
}

StepResult LinuxRestart::findRebootService()
{
    if (rebootForbidden())
        return StepResult::success();
    if (!bus_ || !bus_->connected())
        return failed(ENOTCONN, "no system bus");
    if (!bus_->hasLogind()) {
        say_(std::string("restart: ") + kService + " is not on the system bus");
        return failed(ENOENT, "logind not available");
    }
    return StepResult::success();
}

StepResult LinuxRestart::checkRebootAllowed()
{
    if (rebootForbidden())
        return StepResult::success();
    if (!bus_ || !bus_->connected())
        return failed(ENOTCONN, "no system bus");
    logind::Reply can = bus_->callManager("CanReboot");
    const char* word = nullptr;
    const bool answered = can.read("s", &word);
    const std::string answer = answered ? word : "";
    if (answer == "yes")
        return StepResult::success();

    if (capEffHoldsSysBoot(procStatus_()))
        return StepResult::success();

    const std::string why = answered ? "CanReboot answered \"" + answer + "\"" : can.error();
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
    if (!bus_ || !bus_->connected())
        return;
    const logind::Reply reply = bus_->callManager("Reboot", "b", 0); // no interactive authentication
    if (!reply.ok())
        say_("restart: Reboot refused: " + reply.error());
}

} // namespace flash

// The restart on Linux: an orderly reboot through logind (org.freedesktop.login1) on the
// system bus, never the raw reboot system call, which would skip the orderly shutdown of
// every other program. With QVX_NO_REBOOT set to anything but "" or "0" it only says
// what it would do, and no step reaches for logind: every test and script sets it. It
// also only pretends while the program works on virtual drives (QVX_VIRTUAL_DRIVES set
// and not empty, as the drive list decides).
#pragma once

#include "restart_offer.h"

#include <functional>
#include <memory>
#include <string>

namespace flash {

inline constexpr const char* kNoRebootVariable = "QVX_NO_REBOOT";

// True when the environment forbids a real reboot.
bool rebootForbidden();

class LinuxRestart : public RestartSystem {
public:
    // say: where a refused or pretended step is told (stderr by default). procStatus: the
    // text of /proc/self/status, where the capabilities are read (the file by default).
    explicit LinuxRestart(std::function<void(const std::string&)> say = {},
                          std::function<std::string()> procStatus = {});
    ~LinuxRestart() override;

    // Connects to the system bus.
    StepResult openSession() override;
    // Finds logind's manager on the bus: it is what grants and performs a reboot.
    StepResult findRebootService() override;
    // The process may reboot: logind's CanReboot answers "yes", or it holds CAP_SYS_BOOT.
    StepResult checkRebootAllowed() override;
    // logind's Reboot(false): no interactive authentication, other sessions' inhibitors
    // are overridden as far as logind allows the caller.
    void reboot() override;

private:
    struct Bus;
    std::unique_ptr<Bus> bus_;
    std::function<void(const std::string&)> say_;
    std::function<std::string()> procStatus_;
};

// The effective capabilities line of /proc/self/status holds CAP_SYS_BOOT (bit 22).
bool capEffHoldsSysBoot(const std::string& procStatus);

} // namespace flash

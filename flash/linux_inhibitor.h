// The lock on Linux: a logind inhibitor lock (org.freedesktop.login1.Manager.Inhibit) in
// "block" mode against shutdown and restart, sleep, idle and the power, suspend,
// hibernate and lid-switch handling. logind hands back a file descriptor; the lock holds
// for as long as it stays open. A lock never restarts or suspends anything, so it is
// taken for real even where the restart only pretends (virtual drives, QVX_NO_REBOOT).
#pragma once

#include "power_inhibitor.h"

#include <functional>
#include <memory>
#include <string>

namespace flash {

inline constexpr const char* kInhibitWhat =
    "shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:handle-lid-switch";
inline constexpr const char* kInhibitMode = "block";

class LogindInhibitor : public PowerInhibitor {
public:
    // who: the application, as the desktop names the lock's holder to the user. say: where
    // a lock that could not be had is told, in one line (stderr by default).
    explicit LogindInhibitor(std::string who, std::function<void(const std::string&)> say = {});

    std::unique_ptr<PowerLock> hold(const std::string& why) override;

private:
    std::string who_;
    std::function<void(const std::string&)> say_;
};

} // namespace flash

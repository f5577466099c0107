// The offer to restart the computer after a completed flash: the new firmware takes
// effect only after a restart. The system's part (the right to restart, the restart
// itself) sits behind RestartSystem, so nothing but the real program can restart.
#pragma once

#include "texts.h"
#include "ui_ports.h"
#include "waiter.h"

#include <functional>
#include <string>

namespace flash {

inline constexpr ui::Text kRestartQuestion =
    UI_TEXT("Flash", "\nYou have successfully completed\ninstallation! The new changes will not take effect\n"
                     "until you reboot your system. Do you want to\nreboot your system now?\n\n");
inline constexpr ui::Text kExitError = UI_TEXT("Flash", "Exit Error");
inline constexpr ui::Text kOpenSessionFailed = UI_TEXT("Flash", "OpenProcessToken() failed");
inline constexpr ui::Text kLookupRightFailed = UI_TEXT("Flash", "LookupPrivilegeValue() failed");
inline constexpr ui::Text kEnableRightFailed = UI_TEXT("Flash", "AdjustTokenPrivileges() failed");

struct StepResult {
    bool ok = false;
    int error = 0;      // errno-style code, 0 when none
    std::string detail; // what the system said, for diagnostics

    static StepResult success() { return {true, 0, {}}; }
};

// The steps a restart takes, in order. Each may fail; a failure ends the attempt.
class RestartSystem {
public:
    virtual ~RestartSystem() = default;
    virtual StepResult openSession() = 0;        // reach whoever grants restarts
    virtual StepResult findRebootService() = 0;  // find the service that grants and performs them
    virtual StepResult checkRebootAllowed() = 0; // make sure this process may restart
    virtual void reboot() = 0;                   // an orderly, forced restart; its result is not reported
};

// How the offer ended, for callers and tests; the user has already been told.
enum class RestartOutcome { Declined, OpenSessionFailed, LookupFailed, EnableFailed, RebootRequested };

class RestartOffer {
public:
    // waiter: how the system's steps, which may wait for the system a while, are waited
    // for; without one they simply run.
    RestartOffer(ui::Dialogs& dialogs, ui::StatusLine& status, ui::BusyCursor& cursor,
                 RestartSystem& system, Waiter* waiter = nullptr)
        : dialogs_(dialogs), status_(status), cursor_(cursor), system_(system), waiter_(waiter)
    {
    }

    // Asks, restarts on Yes, and leaves the status line empty in every case.
    RestartOutcome run();

private:
    ui::Dialogs& dialogs_;
    ui::StatusLine& status_;
    ui::BusyCursor& cursor_;
    void wait(const std::function<void()>& call);

    RestartSystem& system_;
    Waiter* waiter_;
};

} // namespace flash

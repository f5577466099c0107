// The Flash button of a window, put together: the procedure with its request routines, the
// waiter that keeps the window alive while a request is in flight, the lock that keeps the
// machine up while the drive takes the image, and the restart offer.
// While a flash runs the button is disabled and the window refuses to close; the status
// line already says why ("Don't turn off the system, Flash is in progress...").
#pragma once

#include "flash_procedure.h"
#include "power_inhibitor.h"
#include "restart_offer.h"
#include "waiter.h"
#include "waiting_device.h"

#include "device_access.h"
#include "drive_system.h"
#include "drive_table.h"
#include "progress_model.h"
#include "requests.h"
#include "ui_ports.h"

#include <functional>
#include <string>

namespace flash {

struct FlashWindow {
    std::function<int()> selectedIndex;        // ComboBox1's item index
    std::function<void(bool)> setButtonEnabled; // FlashButton
    ui::Dialogs& dialogs;
    ui::StatusLine& status;
    ui::BusyCursor& cursor;
};

struct FlashState {
    scsi::DriveTable& driveTable;
    scsi::DeviceAccess& access;
    scsi::DriveSystem& drives;
    ui::ProgressModel& progress;
    std::string ownPath;
};

class FlashSession {
public:
    FlashSession(FlashWindow window, FlashState state, Waiter& waiter, RestartSystem& restart,
                 PowerInhibitor& inhibitor, ImageSlot slot1 = flash::slot1(),
                 ImageSlot slot2 = flash::slot2());

    // FlashButtonClick in flash mode.
    FlashReport click();
    // Consulted when the window is asked to close.
    bool mayClose() const { return !procedure_.inProgress(); }
    bool inProgress() const { return procedure_.inProgress(); }

private:
    FlashWindow window_;
    WaitingDriveSystem drives_;
    scsi::Requests requests_;
    RestartOffer offer_;
    FlashProcedure procedure_;
};

} // namespace flash

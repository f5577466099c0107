// The request routines: each builds its CDB in the record of its kind, hands the
// record to the open device and judges the answer. Offsets and lengths of WRITE BUFFER
// and READ BUFFER come from the progress model's Position and Step.
#pragma once

#include "device_access.h"
#include "drive_table.h"
#include "records.h"

#include "progress_model.h"
#include "ui_ports.h"

#include <cstdint>
#include <span>

namespace scsi {

// Time-outs in seconds.
inline constexpr std::uint32_t kShortTimeout = 3;
inline constexpr std::uint32_t kStartStopTimeout = 9;
inline constexpr std::uint32_t kClosingTimeout = 40;

class Requests {
public:
    Requests(DeviceAccess& access, ui::ProgressModel& progress, ui::Dialogs& dialogs);

    // START STOP UNIT with value as CDB byte 4. True when the call succeeded; the
    // SCSI status is not examined.
    bool StartStopUnit(DriveEntry& entry, std::uint8_t value);

    // WRITE BUFFER mode 5 buffer 1 at offset Position, length Step. control 0 moves
    // Step bytes from data; any other control moves no data and is the CDB's control byte.
    bool WriteBuffer(DriveEntry& entry, std::span<std::uint8_t> data, std::uint8_t control);

    // READ BUFFER mode 1 buffer 1 of Step bytes at offset Position into data.
    bool ReadBuffer(DriveEntry& entry, std::span<std::uint8_t> data);

    // The disc-absence test (TEST UNIT READY). True when the drive reports no medium.
    bool XCommand(DriveEntry& entry, std::uint8_t mode);

    // Shared with the flash's disc poll: XCommand sets it to 1 when it finds a disc.
    std::uint8_t pollCounter = 0;

    const DirectRecord& directRecord() const { return direct_; }
    const BufferedRecord& bufferedRecord() const { return buffered_; }
    const CallResult& lastCall() const { return lastCall_; }

private:
    DeviceAccess& access_;
    ui::ProgressModel& progress_;
    ui::Dialogs& dialogs_;
    DirectRecord direct_{};
    BufferedRecord buffered_{};
    CallResult lastCall_;
};

// Identification of one drive: opens it, sends INQUIRY, writes the entry's address
// and label, closes it, and tells whether the drive is a supported one. An open
// failure shows "Error opening: <error>" and posts a quit request.
bool CheckInquiry(DriveEntry& entry, DeviceAccess& access, DriveSystem& drives,
                  ui::Dialogs& dialogs, ui::QuitRequest& quit);

} // namespace scsi

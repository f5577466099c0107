// The request routines: each builds its CDB in the record of its kind, hands the
// record to the open device and judges the answer. Offsets and lengths of WRITE BUFFER
// and READ BUFFER come from the progress model's Position and Step.
#pragma once

#include "cdb.h"
#include "device_access.h"
#include "drive_table.h"
#include "records.h"

#include "progress_model.h"
#include "texts.h"
#include "ui_ports.h"

#include <cerrno>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace scsi {

// The user's texts of this layer.
inline constexpr ui::Text kRemoveDiscText = UI_TEXT("Requests", "Remove disc, befor to do the flash task.");
inline constexpr ui::Text kSendErrorText = UI_TEXT("Requests", "Error sending SCSI command; error was %1");
inline constexpr ui::Text kShortReadText = UI_TEXT("Requests", "Read buffer short: %1 of %2 bytes returned");
inline constexpr ui::Text kOpenErrorText = UI_TEXT("Requests", "Error opening: %1");

// The error of a request sent with no open drive, as the system reports a closed handle.
inline constexpr int kNoDeviceError = EBADF;
// The error of a request whose offset, length or data block is out of range; nothing is sent.
inline constexpr int kBadRequestError = EINVAL;

class Requests {
public:
    Requests(DeviceAccess& access, ui::ProgressModel& progress, ui::Dialogs& dialogs);

    // START STOP UNIT with value as CDB byte 4. True when the call succeeded; the
    // SCSI status is not examined.
    bool StartStopUnit(DriveEntry& entry, std::uint8_t value);

    // WRITE BUFFER mode 5 buffer 1 at offset Position, length Step. control 0 moves
    // Step bytes from data; any other control moves no data and is the CDB's control byte.
    // True only when the call succeeded and the drive answered GOOD. A refused call or a
    // transport failure shows "Error sending SCSI command; error was N"; a nonzero status
    // shows the sense report. A Position or Step that does not fit 24 bits, or a data block
    // shorter than Step, sends nothing and fails as a refused call with kBadRequestError.
    bool WriteBuffer(DriveEntry& entry, std::span<std::uint8_t> data, std::uint8_t control);

    // READ BUFFER mode 1 buffer 1 of Step bytes at offset Position into data. Fails as
    // WriteBuffer does, and also when the drive moved fewer than Step bytes (the message
    // kShortReadFormat, or the sense report when the status is nonzero): a short block is
    // never handed back as complete.
    bool ReadBuffer(DriveEntry& entry, std::span<std::uint8_t> data);

    // The disc-absence test (TEST UNIT READY). True when the drive reports no medium
    // (status nonzero, sense key byte 02h whole, ASC 3Ah). A GOOD answer, or sense 00/00,
    // means a disc is in: pollCounter becomes 1 and kRemoveDiscText is shown. A refused or
    // failed call also sets pollCounter to 1 and shows "Error sending SCSI command; error
    // was N" (it says nothing about a disc).
    bool XCommand(DriveEntry& entry, std::uint8_t mode);

    // Shared with the flash's disc poll: XCommand sets it to 1 when it finds a disc.
    std::uint8_t pollCounter = 0;

    // Runs right before a request routine shows a box (a failure, or the disc message): the
    // flash gives back its lock against shutdown and sleep there.
    std::function<void()> beforeBox;

    const DirectRecord& directRecord() const { return direct_; }
    const BufferedRecord& bufferedRecord() const { return buffered_; }
    // How the last call ended (outcome, error code, data moved), for diagnostics.
    const CallResult& lastCall() const { return lastCall_; }

private:
    CallResult send(const RequestShape& shape, std::span<std::uint8_t> record,
                    std::span<std::uint8_t> data);
    void refuse(int error, std::string detail);
    ui::Dialogs& boxes();
    bool judgeBufferRequest();

    DeviceAccess& access_;
    ui::ProgressModel& progress_;
    ui::Dialogs& dialogs_;
    DirectRecord direct_{};
    BufferedRecord buffered_{};
    CallResult lastCall_;
};

// Opens a drive as every open here does: read and write, others may only read. A drive
// that cannot be opened is told to the user ("Error opening: <error>") and its error code
// is kept in access.lastError.
OpenResult openDrive(DeviceAccess& access, DriveSystem& drives, char letter, OpenMode mode,
                     ui::Dialogs& dialogs);

// Identification of one drive: opens it, sends INQUIRY, writes the entry's address
// and label, closes it, and tells whether the drive is a supported one. An open
// failure shows "Error opening: <error>" and posts a quit request.
// Whatever the result the entry's address bytes take what the completed record says. On
// success the entry also keeps the INQUIRY data and, when it had none, its device node.
bool CheckInquiry(DriveEntry& entry, DeviceAccess& access, DriveSystem& drives,
                  ui::Dialogs& dialogs, ui::QuitRequest& quit);

// The accepted identities: vendor and product blank-padded, and the revision's family.
// A drive is supported when INQUIRY bytes 8..33 equal one of them and byte 34 is a digit.
inline constexpr const char* kAcceptedIdentities[] = {"KORVANE QVX-5500        VQ"};
bool isSupportedInquiry(std::span<const std::uint8_t> inquiry);

// The drive list's line: "%d-%d-%d %C: %28.28s" with the entry's address and letter and
// INQUIRY bytes 8..35 (ending early at a NUL, right-aligned in 28 columns as the format
// says). Control characters in those bytes show as '?' so a line stays one line.
std::string driveLabel(const DriveEntry& entry, std::span<const std::uint8_t> inquiry);

} // namespace scsi

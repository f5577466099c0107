// What the Flash button does in flash mode: compare revisions with the user's consent,
// claim the drive, make sure it holds no disc, send the carried image in 16 WRITE BUFFER
// pieces, read them back and compare, send the closing WRITE BUFFER, and on success
// offer a restart. From the first WRITE BUFFER until the flash ends the machine is kept
// from shutting down and sleeping. A box of a failure up to the read-back waits without
// that lock (the drive still has its old firmware then); from the closing request on, the
// lock is held through the box until the flash's common end.
// The drive stays claimed from its open until the flash ends. Strictly sequential; every
// failure, an exception of a call included, is told to the user at once and ends the flash.
#pragma once

#include "container.h"
#include "power_inhibitor.h"
#include "restart_offer.h"
#include "waiter.h"

#include "device_access.h"
#include "drive_system.h"
#include "drive_table.h"
#include "progress_model.h"
#include "requests.h"
#include "texts.h"
#include "ui_ports.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

namespace flash {

inline constexpr std::uint32_t kPieceSize = kImageSize / 16; // 16384, the progress bar's Step
inline constexpr std::size_t kPieceCount = kImageSize / kPieceSize;
inline constexpr std::uint8_t kPollCount = 144;               // about 4.3 s of 30 ms pauses
inline constexpr std::chrono::milliseconds kPollPause{30};
inline constexpr std::size_t kPortInquirySize = 2048;
inline constexpr std::uint8_t kClosingControl = 0x80;
// The closing WRITE BUFFER carries no data; its offset (39) and length (1) come from
// the bar, which is set to 0..40 by 1 and stepped once from 38.
inline constexpr std::int64_t kClosingMax = 40;

inline constexpr ui::Text kInProgressCaption = UI_TEXT("Flash", "Don't turn off the system, Flash is in progress...");
inline constexpr ui::Text kCompletedCaption = UI_TEXT("Flash", "Flash Completed.");
inline constexpr ui::Text kFailCaption = UI_TEXT("Flash", "Flash Fail.");
inline constexpr ui::Text kWriteFail = UI_TEXT("Flash", "Write buffer fail!");
inline constexpr ui::Text kReadFail = UI_TEXT("Flash", "Read buffer fail!");
inline constexpr ui::Text kVerifyFail = UI_TEXT("Flash", "Verify fail!");
inline constexpr ui::Text kVerifyFailCaption = UI_TEXT("Flash", "Verify buffer fail!");
inline constexpr ui::Text kInquiryErrorText =
    UI_TEXT("Flash", "Error reading inquiry data information; error was %1");
// The box of a flash stopped by an exception of a call, with its cause as %1: what the
// drive holds now depends on how far the flash had come.
inline constexpr ui::Text kStoppedBeforeWriting =
    UI_TEXT("Flash", "The flash stopped before anything was written to the drive: %1");
inline constexpr ui::Text kStoppedBeforeClosing = UI_TEXT(
    "Flash",
    "The flash stopped after writing to the drive but before the closing request, so the drive keeps its old firmware: %1");
inline constexpr ui::Text kStoppedWhileClosing = UI_TEXT(
    "Flash", "The flash stopped during the closing request, so the drive may hold part of the new firmware: %1");

using ImageSlot = std::span<const std::uint8_t, kImageSize>;

struct FlashParts {
    scsi::DriveTable& driveTable;
    std::function<int()> selectedIndex; // ComboBox1's item index, -1 for none
    scsi::DeviceAccess& access;
    scsi::DriveSystem& drives;          // re-opens the drive for the flash (exclusive)
    scsi::Requests& requests;
    ui::ProgressModel& progress;
    ui::Dialogs& dialogs;
    ui::StatusLine& status;
    ui::BusyCursor& cursor;
    Waiter& waiter;                     // the disc poll's pauses
    RestartOffer& restartOffer;
    PowerInhibitor& inhibitor;          // keeps the machine up while the drive takes the image
    std::string ownPath;                // the running program's full path, from the system
    ImageSlot slot1 = flash::slot1();   // IBM-K image
    ImageSlot slot2 = flash::slot2();   // non-IBM-K image
};

enum class FlashOutcome {
    NoDrive,       // no line selected: nothing done
    Declined,      // the user did not answer Yes
    OpenFailed,
    QueryFailed,   // the port's inquiry-data query
    NotReady,      // a disc in the drive, or no "medium not present" within the poll
    DiscTestFailed, // the disc test's request was refused or did not complete
    WriteFailed,
    ReadFailed,
    VerifyFailed,
    ClosingFailed,
    Completed,
    CallThrew,     // a call ended in an exception (no thread or memory for it, say): the
                   // flash stopped where it was
};

// Where and why a flash ended. The user's texts stay short ("Verify fail!"); this keeps
// the detail for a caller or a test.
struct FlashReport {
    FlashOutcome outcome = FlashOutcome::NoDrive;
    std::string currentRevision;
    std::string newRevision;
    bool ibmK = false;
    int error = 0;                 // open, query or disc test failure: the system's error code
    int piece = -1;                // write, read or verify failure: the piece (0..15)
    std::size_t offset = 0;        // verify failure: image offset of the first differing byte;
                                   // write or read failure: the piece's offset
    std::uint8_t expected = 0;     // verify failure: the image byte ...
    std::uint8_t got = 0;          // ... and what the drive gave back
    scsi::CallResult lastCall;     // the failed request's call result, when one failed
};

class FlashProcedure {
public:
    explicit FlashProcedure(FlashParts parts) : p_(std::move(parts)) {}

    FlashReport run();

    // True while run() works; the window refuses to close meanwhile.
    bool inProgress() const { return inProgress_; }

private:
    // How far a run has come: what an interruption leaves in the drive and on the status line.
    enum class Stage {
        BeforeTransfer, // nothing sent to the drive's buffer, status line untouched
        SetUp,          // "Flash is in progress" shown, nothing written yet
        Writing,        // WRITE BUFFER pieces handed to the drive
        Verifying,
        Closing,        // the closing WRITE BUFFER handed to the drive: it may hold part of the new firmware
        Completed,
    };

    void flash(scsi::DriveEntry& entry, FlashReport& report);
    bool transfer(scsi::DriveEntry& entry, ImageSlot image, FlashReport& report);
    void endTransfer();
    void threw(FlashReport& report, const std::string& cause);

    FlashParts p_;
    bool inProgress_ = false;
    Stage stage_ = Stage::BeforeTransfer;
    std::unique_ptr<PowerLock> lock_; // held from the transfer's set-up until the common end at the latest
};

} // namespace flash

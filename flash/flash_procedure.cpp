#include "flash_procedure.h"

#include "revisions.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <vector>

namespace flash {
namespace {

// Sets inProgress for the lifetime of one run, whichever way it ends.
class InProgress {
public:
    explicit InProgress(bool& flag) : flag_(flag) { flag_ = true; }
    ~InProgress() { flag_ = false; }
    InProgress(const InProgress&) = delete;
    InProgress& operator=(const InProgress&) = delete;

private:
    bool& flag_;
};

} // namespace

FlashReport FlashProcedure::run()
{
    // Nothing starts a second flash while one runs (the button is disabled), but a
    // re-entrant call must not interleave with the running one either.
    if (inProgress_)
        return {};
    const int index = p_.selectedIndex ? p_.selectedIndex() : -1;
    if (index < 0 || static_cast<std::size_t>(index) >= p_.driveTable.entries.size())
        return {};
    InProgress guard(inProgress_);
    stage_ = Stage::BeforeTransfer;
    FlashReport report;
    try {
        // The selection cannot change while the flash runs (the window takes no input), so
        // the entry is looked up once.
        flash(p_.driveTable.entries[static_cast<std::size_t>(index)], report);
    } catch (const std::exception& e) {
        threw(report, e.what());
    }
    return report;
}

void FlashProcedure::threw(FlashReport& report, const std::string& cause)
{
    // The claim is already given back. The common end runs on this road too, and the user
    // learns that the flash is over, why, and what the drive holds now. The status line
    // says what the other failures of that stage say; "Flash Fail." only once the closing
    // request may have reached the drive, which is also when the lock stays through the box.
    if (stage_ < Stage::Closing)
        lock_.reset();
    if (stage_ == Stage::Writing || stage_ == Stage::Verifying)
        report.piece = static_cast<int>(p_.progress.position() / kPieceSize);
    p_.cursor.setBusy(false);
    p_.progress.setPosition(0);
    std::string text = cause;
    const auto stopped = [&](ui::Text box, std::optional<ui::Text> caption) {
        if (caption)
            p_.status.setCaption(ui::localized(*caption));
        text = ui::localized(box, {cause});
    };
    if (report.outcome != FlashOutcome::Completed) {
        report.outcome = FlashOutcome::CallThrew;
        switch (stage_) {
        case Stage::BeforeTransfer:
            stopped(kStoppedBeforeWriting, std::nullopt);
            break;
        case Stage::SetUp:
            p_.status.setCaption("");
            stopped(kStoppedBeforeWriting, std::nullopt);
            break;
        case Stage::Writing:
            stopped(kStoppedBeforeClosing, kWriteFail);
            break;
        case Stage::Verifying:
            stopped(kStoppedBeforeClosing, kReadFail);
            break;
        case Stage::Closing:
        case Stage::Completed:
            stopped(kStoppedWhileClosing, kFailCaption);
            break;
        }
    }
    p_.dialogs.showMessage(text);
    lock_.reset();
}

void FlashProcedure::flash(scsi::DriveEntry& entry, FlashReport& report)
{
    report.currentRevision = currentRevision(entry.inquiry);
    report.ibmK = isIbmK(report.currentRevision);
    const ImageSlot image = report.ibmK ? p_.slot1 : p_.slot2;
    report.newRevision = newRevision(p_.ownPath, report.ibmK);

    const bool currentNewer = compareRevisions(report.currentRevision, report.newRevision) > 0;
    const ui::Button answer = currentNewer
        ? p_.dialogs.messageDialog(newerWarningText(report.currentRevision, report.newRevision),
                                   ui::DialogKind::Warning, {ui::Button::Yes, ui::Button::No})
        : p_.dialogs.messageDialog(updateQuestionText(report.currentRevision, report.newRevision),
                                   ui::DialogKind::Confirmation, {ui::Button::Yes, ui::Button::No});
    if (answer != ui::Button::Yes) {
        report.outcome = FlashOutcome::Declined;
        return;
    }

    // The flash holds the drive on its own handle: the old one goes first.
    p_.access.device.reset();
    scsi::OpenResult opened =
        scsi::openDrive(p_.access, p_.drives, entry.letter, scsi::OpenMode::Exclusive, p_.dialogs);
    if (!opened.device) {
        report.outcome = FlashOutcome::OpenFailed;
        report.error = opened.error;
        return;
    }
    p_.access.device = std::move(opened.device);
    // The claim ends with the flash, whichever way it ends; the handle stays open.
    struct ClaimEnd {
        scsi::DeviceAccess& access;
        ~ClaimEnd()
        {
            if (access.device)
                access.device->releaseClaim();
        }
    } claimEnd{p_.access};

    // Only the query's success counts; its data is not looked at.
    std::array<std::uint8_t, kPortInquirySize> portInquiry{};
    const scsi::CallResult query = p_.access.device->queryInquiryData(portInquiry);
    p_.access.keep(query);
    if (!query.callSucceeded()) {
        report.outcome = FlashOutcome::QueryFailed;
        report.error = query.error;
        report.lastCall = query;
        p_.dialogs.showMessage(ui::localized(kInquiryErrorText, {std::to_string(query.error)}));
        return;
    }

    // Their answers are not looked at: a drive that refuses either can still be flashed.
    p_.requests.StartStopUnit(entry, 3);
    p_.requests.StartStopUnit(entry, 0);

    // XCommand sets the counter to 1 when it finds a disc or its request fails (and says
    // so), which ends the poll at the next decrement just like running out of polls.
    p_.requests.pollCounter = kPollCount;
    while (p_.requests.pollCounter != 0) {
        if (p_.requests.XCommand(entry, 0))
            break;
        p_.waiter.sleep(kPollPause);
        --p_.requests.pollCounter;
    }
    if (p_.requests.pollCounter == 0) {
        const scsi::CallResult& poll = p_.requests.lastCall();
        report.outcome = poll.callSucceeded() ? FlashOutcome::NotReady : FlashOutcome::DiscTestFailed;
        if (!poll.callSucceeded()) {
            report.error = poll.error;
            report.lastCall = poll;
        }
        return;
    }

    transfer(entry, image, report);
}

bool FlashProcedure::transfer(scsi::DriveEntry& entry, ImageSlot image, FlashReport& report)
{
    ui::ProgressModel& bar = p_.progress;
    bar.setMin(0);
    bar.setMax(static_cast<std::int64_t>(kImageSize));
    bar.setStep(kPieceSize);
    std::vector<std::uint8_t> buffer(kPieceSize);
    p_.cursor.setBusy(true);
    p_.status.setCaption(ui::localized(kInProgressCaption));
    stage_ = Stage::SetUp;
    bar.setPosition(0);
    // Held until the flash ends, whichever way; given back before the restart offer, whose
    // own restart it would block, and before any box of a failure up to the read-back:
    // until the closing request the drive keeps its old firmware, and a box may wait for
    // the user for long. Once the closing request has gone out the drive may hold part of
    // the new firmware, and the machine is kept up through its box too.
    // Asking for it may wait for the system a while, so it is waited for like a drive call.
    const std::string why = ui::localized(kInhibitReason);
    p_.waiter.runBlocking([this, &why] { lock_ = p_.inhibitor.hold(why); });
    struct LockBeforeBoxes {
        scsi::Requests& requests;
        LockBeforeBoxes(scsi::Requests& r, FlashProcedure& procedure) : requests(r)
        {
            requests.beforeBox = [&procedure] {
                if (procedure.stage_ < Stage::Closing)
                    procedure.lock_.reset();
            };
        }
        ~LockBeforeBoxes() { requests.beforeBox = nullptr; }
    } lockBeforeBoxes(p_.requests, *this);

    const auto piece = [&bar] { return static_cast<std::size_t>(bar.position()); };
    const auto fail = [&](FlashOutcome outcome, ui::Text box, ui::Text caption) {
        report.outcome = outcome;
        report.piece = static_cast<int>(piece() / kPieceSize);
        if (outcome != FlashOutcome::VerifyFailed) {
            report.offset = piece();
            report.lastCall = p_.requests.lastCall();
        }
        lock_.reset();
        p_.dialogs.showMessage(ui::localized(box));
        p_.status.setCaption(ui::localized(caption));
    };

    bool ok = true;
    stage_ = Stage::Writing;
    while (ok && bar.position() < bar.max()) {
        const std::size_t at = piece();
        std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(at), kPieceSize, buffer.begin());
        if (!p_.requests.WriteBuffer(entry, buffer, 0)) {
            fail(FlashOutcome::WriteFailed, kWriteFail, kWriteFail);
            ok = false;
        } else {
            bar.stepIt();
        }
    }

    if (ok) {
        bar.setPosition(0);
        stage_ = Stage::Verifying;
    }
    while (ok && bar.position() < bar.max()) {
        const std::size_t at = piece();
        const auto expected = image.subspan(at, kPieceSize);
        // Every byte starts out different from what the drive should send, so a byte the
        // drive did not deliver can never pass the compare.
        std::transform(expected.begin(), expected.end(), buffer.begin(),
                       [](std::uint8_t b) { return static_cast<std::uint8_t>(~b); });
        if (!p_.requests.ReadBuffer(entry, buffer)) {
            fail(FlashOutcome::ReadFailed, kReadFail, kReadFail);
            ok = false;
            break;
        }
        const auto [want, got] = std::mismatch(expected.begin(), expected.end(), buffer.begin());
        if (want != expected.end()) {
            report.offset = at + static_cast<std::size_t>(want - expected.begin());
            report.expected = *want;
            report.got = *got;
            fail(FlashOutcome::VerifyFailed, kVerifyFail, kVerifyFailCaption);
            ok = false;
            break;
        }
        bar.stepIt();
    }

    if (ok) {
        bar.setPosition(0);
        bar.setMin(0);
        bar.setMax(kClosingMax);
        bar.setStep(1);
        bar.setPosition(bar.max() - 2);
        bar.stepIt();
        stage_ = Stage::Closing;
        if (!p_.requests.WriteBuffer(entry, buffer, kClosingControl)) {
            report.outcome = FlashOutcome::ClosingFailed;
            report.lastCall = p_.requests.lastCall();
            p_.status.setCaption(ui::localized(kFailCaption));
            ok = false;
        } else {
            report.outcome = FlashOutcome::Completed;
            stage_ = Stage::Completed;
            p_.status.setCaption(ui::localized(kCompletedCaption));
            bar.stepIt();
            p_.cursor.setBusy(false);
            lock_.reset();
            p_.restartOffer.run();
        }
    }

    endTransfer();
    return ok;
}

void FlashProcedure::endTransfer()
{
    // The common end of every path that set the transfer up; the drive stays open.
    lock_.reset();
    p_.cursor.setBusy(false);
    p_.progress.setPosition(0);
}

} // namespace flash

#include "requests.h"

#include "sense_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace scsi {

namespace {

std::string sendErrorText(int error)
{
    return ui::localized(kSendErrorText, {std::to_string(error)});
}

// Position and Step of the progress model as the 24-bit offset and length of a buffer CDB;
// false when either does not fit.
bool bufferWindow(const ui::ProgressModel& progress, std::uint32_t& offset, std::uint32_t& length)
{
    const std::int64_t position = progress.position();
    const std::int64_t step = progress.step();
    if (position < 0 || position > kMax24 || step < 0 || step > kMax24)
        return false;
    offset = static_cast<std::uint32_t>(position);
    length = static_cast<std::uint32_t>(step);
    return true;
}

// Carries one record to the device and keeps what the call reported. With no device the
// call fails as the system fails one on a closed handle.
CallResult sendRecord(DeviceAccess& access, Device* device, const RequestShape& shape,
                      std::span<std::uint8_t> record, std::span<std::uint8_t> data)
{
    access.requestLength = record::kDirectSize;
    CallResult result;
    if (!device) {
        result.outcome = Outcome::OsError;
        result.error = kNoDeviceError;
        result.detail = "no open drive";
    } else {
        result = device->passThrough(shape.controlCode, record, shape.inputLength,
                                     shape.outputLength, data);
    }
    access.keep(result);
    return result;
}

} // namespace

Requests::Requests(DeviceAccess& access, ui::ProgressModel& progress, ui::Dialogs& dialogs)
    : access_(access), progress_(progress), dialogs_(dialogs)
{
}

ui::Dialogs& Requests::boxes()
{
    if (beforeBox)
        beforeBox();
    return dialogs_;
}

CallResult Requests::send(const RequestShape& shape, std::span<std::uint8_t> record,
                          std::span<std::uint8_t> data)
{
    lastCall_ = sendRecord(access_, access_.device.get(), shape, record, data);
    return lastCall_;
}

void Requests::refuse(int error, std::string detail)
{
    lastCall_ = CallResult{};
    lastCall_.outcome = Outcome::OsError;
    lastCall_.error = error;
    lastCall_.detail = std::move(detail);
    access_.keep(lastCall_);
    boxes().showMessage(sendErrorText(error));
}

bool Requests::StartStopUnit(DriveEntry& entry, std::uint8_t value)
{
    buildStartStopUnitRecord(buffered_, addressOf(entry), value);
    return send(kBufferedShape, buffered_, {}).callSucceeded();
}

// A WRITE BUFFER or READ BUFFER has reached the drive only when the call succeeded: a
// refused call or a lost command leaves the status byte at its cleared 0, which must not
// pass for GOOD.
bool Requests::judgeBufferRequest()
{
    if (!lastCall_.callSucceeded()) {
        boxes().showMessage(sendErrorText(lastCall_.error));
        return false;
    }
    if (direct_[record::kScsiStatus] != 0 || lastCall_.outcome != Outcome::Good) {
        PrintDirectSenseInfo(direct_, boxes());
        return false;
    }
    return true;
}

bool Requests::WriteBuffer(DriveEntry& entry, std::span<std::uint8_t> data, std::uint8_t control)
{
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    if (!bufferWindow(progress_, offset, length)) {
        refuse(kBadRequestError, "offset or length does not fit the WRITE BUFFER command");
        return false;
    }
    const bool moves = control == 0;
    if (moves && data.size() < length) {
        refuse(kBadRequestError, "data block shorter than the WRITE BUFFER length");
        return false;
    }
    buildWriteBufferRecord(direct_, addressOf(entry), offset, length, control);
    send(kDirectShape, direct_, moves ? data.first(length) : std::span<std::uint8_t>{});
    return judgeBufferRequest();
}

bool Requests::ReadBuffer(DriveEntry& entry, std::span<std::uint8_t> data)
{
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    if (!bufferWindow(progress_, offset, length)) {
        refuse(kBadRequestError, "offset or length does not fit the READ BUFFER command");
        return false;
    }
    if (data.size() < length) {
        refuse(kBadRequestError, "data block shorter than the READ BUFFER length");
        return false;
    }
    buildReadBufferRecord(direct_, addressOf(entry), offset, length);
    send(kDirectShape, direct_, data.first(length));
    if (!judgeBufferRequest())
        return false;
    if (lastCall_.dataTransferred < length) {
        boxes().showMessage(ui::localized(
            kShortReadText, {std::to_string(lastCall_.dataTransferred), std::to_string(length)}));
        return false;
    }
    return true;
}

bool Requests::XCommand(DriveEntry& entry, std::uint8_t /*mode: always 0*/)
{
    buildTestUnitReadyRecord(buffered_, addressOf(entry));
    const CallResult result = send(kBufferedShape, buffered_, {});
    // A refused call leaves the status byte at 0, which would read as "a disc is in". It is
    // told as the other requests tell it, and the poll ends as it does for a disc: there is
    // no drive to wait for.
    if (!result.callSucceeded()) {
        pollCounter = 1;
        boxes().showMessage(sendErrorText(result.error));
        return false;
    }

    const std::uint8_t status = buffered_[record::kScsiStatus];
    const std::uint8_t senseKeyByte = buffered_[record::kSenseBuffer + 2];
    const std::uint8_t asc = buffered_[record::kSenseBuffer + 12];
    bool discIn = status == 0;
    if (status != 0) {
        // The whole sense key byte is compared: 42h (flag bit set) with ASC 3Ah is not
        // "medium not present".
        if (senseKeyByte == 0x02 && asc == 0x3A)
            return true;
        discIn = senseKeyByte == 0x00 && asc == 0x00;
    }
    if (discIn) {
        pollCounter = 1; // set before the box opens: the poll ends at its next decrement
        boxes().showMessage(ui::localized(kRemoveDiscText));
    }
    return false;
}

bool isSupportedInquiry(std::span<const std::uint8_t> inquiry)
{
    for (const char* identity : kAcceptedIdentities) {
        const std::size_t n = std::strlen(identity);
        if (inquiry.size() < 8 + n || inquiry.size() <= 34)
            continue;
        if (std::memcmp(inquiry.data() + 8, identity, n) == 0 && inquiry[34] >= '0'
            && inquiry[34] <= '9')
            return true;
    }
    return false;
}

std::string driveLabel(const DriveEntry& entry, std::span<const std::uint8_t> inquiry)
{
    char field[29] = {};
    for (std::size_t i = 0; i < 28 && 8 + i < inquiry.size(); ++i) {
        const std::uint8_t c = inquiry[8 + i];
        if (c == 0)
            break;
        field[i] = (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    }
    char label[kLabelSize];
    std::snprintf(label, sizeof label, "%d-%d-%d %c: %28.28s", entry.path, entry.target, entry.unit,
                  entry.letter, field);
    return label;
}

OpenResult openDrive(DeviceAccess& access, DriveSystem& drives, char letter, OpenMode mode,
                     ui::Dialogs& dialogs)
{
    access.openAccess = kGenericRead | kGenericWrite;
    access.openSharing = kFileShareRead;
    OpenResult opened = drives.open(letter, mode);
    if (!opened.device) {
        access.lastError = opened.error;
        dialogs.showMessage(ui::localized(kOpenErrorText, {std::to_string(opened.error)}));
    }
    return opened;
}

bool CheckInquiry(DriveEntry& entry, DeviceAccess& access, DriveSystem& drives,
                  ui::Dialogs& dialogs, ui::QuitRequest& quit)
{
    entry.label.fill('\0');
    OpenResult opened = openDrive(access, drives, entry.letter, OpenMode::Identify, dialogs);
    if (!opened.device) {
        quit.postQuit();
        return false;
    }

    std::array<std::uint8_t, kInquirySize> data{};
    DirectRecord record{};
    buildInquiryRecord(record, addressOf(entry));
    const CallResult result = sendRecord(access, opened.device.get(), kDirectShape, record, data);

    // The system fills in the drive's real address; keep it whatever the result.
    entry.path = record[record::kPathId];
    entry.target = record[record::kTargetId];
    entry.unit = record[record::kLun];
    opened.device.reset(); // no drive stays open after identification

    if (!result.callSucceeded())
        return false;

    const std::string label = driveLabel(entry, data);
    std::copy_n(label.c_str(), std::min(label.size() + 1, entry.label.size()), entry.label.begin());
    entry.label.back() = '\0';
    entry.inquiry = data;
    if (entry.node.empty()) {
        for (const DriveRoot& root : drives.driveRoots())
            if (root.letter == entry.letter)
                entry.node = root.node;
    }
    return isSupportedInquiry(data);
}

} // namespace scsi

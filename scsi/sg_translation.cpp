#include "sg_translation.h"

#include "records.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

namespace scsi::sg {

namespace {

Translation refuse(std::string detail)
{
    Translation t;
    t.error = EINVAL;
    t.detail = std::move(detail);
    return t;
}

std::string hex(const char* what, unsigned value)
{
    char text[48];
    std::snprintf(text, sizeof text, "%s 0x%02x", what, value);
    return text;
}

// errno values that mean the request was on its way and did not complete, as opposed
// to a call the system refused before sending anything.
bool isTransportErrno(int error)
{
    return error == ETIMEDOUT || error == EIO || error == ENODEV || error == ENXIO
        || error == EINTR || error == ENOMEDIUM;
}

// Fixed-format sense: where its fields lie.
namespace fixed {
constexpr std::size_t kSize = 18;
constexpr std::uint8_t kCurrent = 0x70;
constexpr std::uint8_t kValid = 0x80; // byte 0: the information field holds a value
constexpr std::size_t kSenseKey = 2;
constexpr std::size_t kInformation = 3;  // 4 bytes
constexpr std::size_t kAdditionalLength = 7;
constexpr std::size_t kCommandSpecific = 8; // 4 bytes
constexpr std::size_t kAsc = 12;
constexpr std::size_t kAscq = 13;
constexpr std::size_t kFru = 14;
constexpr std::size_t kSenseKeySpecific = 15; // 3 bytes
constexpr std::uint8_t kFlags = 0xE0;         // byte 2: filemark, end of medium, incorrect length
constexpr std::uint8_t kIncorrectLength = 0x20;
} // namespace fixed

// Descriptor-format sense: response codes, header and descriptor types.
namespace descriptor {
constexpr std::uint8_t kCurrent = 0x72;
constexpr std::uint8_t kDeferred = 0x73;
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kAdditionalLength = 7;
constexpr std::uint8_t kInformation = 0x00;
constexpr std::uint8_t kCommandSpecific = 0x01;
constexpr std::uint8_t kSenseKeySpecific = 0x02;
constexpr std::uint8_t kFru = 0x03;
constexpr std::uint8_t kStreamCommands = 0x04;
constexpr std::uint8_t kBlockCommands = 0x05;
} // namespace descriptor

} // namespace

std::vector<std::uint8_t> fixedFormatSense(std::span<const std::uint8_t> sense)
{
    const std::uint8_t responseCode = sense.empty() ? 0 : sense[0] & 0x7F;
    if (responseCode != descriptor::kCurrent && responseCode != descriptor::kDeferred)
        return {sense.begin(), sense.end()};

    const auto at = [&sense](std::size_t i) -> std::uint8_t { return i < sense.size() ? sense[i] : 0; };
    std::vector<std::uint8_t> out(fixed::kSize, 0);
    out[0] = static_cast<std::uint8_t>(fixed::kCurrent + (responseCode - descriptor::kCurrent));
    out[fixed::kSenseKey] = at(1) & 0x0F;
    out[fixed::kAdditionalLength] = fixed::kSize - 8;
    out[fixed::kAsc] = at(2);
    out[fixed::kAscq] = at(3);

    // Descriptors: type, additional length, then that many bytes; one cut short is dropped.
    const std::size_t end = std::min(sense.size(), descriptor::kHeaderSize + at(descriptor::kAdditionalLength));
    for (std::size_t d = descriptor::kHeaderSize; d + 2 <= end;) {
        const std::uint8_t type = sense[d];
        const std::size_t length = sense[d + 1];
        if (d + 2 + length > end)
            break;
        const std::uint8_t* body = sense.data() + d + 2;
        if ((type == descriptor::kInformation || type == descriptor::kCommandSpecific) && length >= 10) {
            // An 8-byte field; the fixed format has room for its low 4 bytes only.
            const bool fits = std::all_of(body + 2, body + 6, [](std::uint8_t b) { return b == 0; });
            if (type == descriptor::kCommandSpecific)
                std::copy_n(body + 6, 4, out.begin() + fixed::kCommandSpecific);
            else if (fits) {
                std::copy_n(body + 6, 4, out.begin() + fixed::kInformation);
                out[0] |= body[0] & fixed::kValid;
            }
        } else if (type == descriptor::kSenseKeySpecific && length >= 6) {
            std::copy_n(body + 2, 3, out.begin() + fixed::kSenseKeySpecific);
        } else if (type == descriptor::kFru && length >= 2) {
            out[fixed::kFru] = body[1];
        } else if (type == descriptor::kStreamCommands && length >= 2) {
            out[fixed::kSenseKey] |= body[1] & fixed::kFlags;
        } else if (type == descriptor::kBlockCommands && length >= 2) {
            out[fixed::kSenseKey] |= body[1] & fixed::kIncorrectLength;
        }
        d += 2 + length;
    }
    return out;
}

int directionCode(Direction direction)
{
    switch (direction) {
    case Direction::ToDevice:
        return kDxferToDev;
    case Direction::FromDevice:
        return kDxferFromDev;
    case Direction::None:
        break;
    }
    return kDxferNone;
}

Translation translateRequest(std::uint32_t controlCode, std::span<std::uint8_t> record,
                             std::uint32_t inputLength, std::uint32_t outputLength,
                             std::span<std::uint8_t> data)
{
    const bool buffered = controlCode == kIoctlScsiPassThrough;
    if (!buffered && controlCode != kIoctlScsiPassThroughDirect)
        return refuse(hex("unsupported control code", controlCode));
    // The status, sense length and address come back in the header, so what is handed
    // back holds the header whole.
    if (record.size() < record::kHeaderSize || inputLength < record::kHeaderSize
        || outputLength < record::kHeaderSize || inputLength > record.size()
        || outputLength > record.size())
        return refuse("record shorter than its header or its stated lengths");

    const RecordHeader header = decodeHeader(record);
    if (header.cdbLength == 0 || header.cdbLength > kMaxCdbLength)
        return refuse("CDB length out of range");
    if (header.senseInfoLength > 0) {
        const std::uint64_t senseEnd =
            std::uint64_t{header.senseInfoOffset} + header.senseInfoLength;
        if (header.senseInfoOffset < record::kHeaderSize || senseEnd > outputLength)
            return refuse("sense buffer outside the record handed back");
    }

    Translation t;
    Request& r = t.request;
    r.cdbLength = header.cdbLength;
    std::copy_n(header.cdb.begin(), header.cdbLength, r.cdb.begin());
    r.maxSenseLength = header.senseInfoLength;
    r.senseOffset = header.senseInfoOffset;
    r.outputLength = outputLength;
    r.dxferLength = header.dataTransferLength;

    // Seconds to milliseconds; the kernel reads the all-ones value as "no time-out", so a
    // huge value stops just below it.
    const std::uint64_t ms = std::uint64_t{header.timeOutValue} * 1000u;
    r.timeoutMs = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(ms, std::numeric_limits<std::uint32_t>::max() - 1u));

    if (header.dataTransferLength == 0) {
        // DataIn says "to the host" on requests without data too; the kernel must be
        // told that nothing moves.
        r.direction = Direction::None;
        return t;
    }
    if (header.dataIn == record::kDataInToHost)
        r.direction = Direction::FromDevice;
    else if (header.dataIn == record::kDataInToDevice)
        r.direction = Direction::ToDevice;
    else
        return refuse("data direction neither in nor out");

    if (buffered) {
        const std::uint64_t end = std::uint64_t{header.dataBuffer} + header.dataTransferLength;
        if (header.dataBuffer < record::kHeaderSize || end > record.size())
            return refuse("data area outside the record");
        r.data = record.subspan(header.dataBuffer, header.dataTransferLength);
    } else {
        if (data.size() < header.dataTransferLength)
            return refuse("data block smaller than the transfer length");
        r.data = data.first(header.dataTransferLength);
    }
    return t;
}

int hostErrorCode(std::uint16_t hostStatus)
{
    switch (hostStatus) {
    case host::kOk:
        return 0;
    case host::kTimeOut:
        return ETIMEDOUT;
    case host::kNoConnect:
    case host::kBadTarget:
        return ENODEV;
    case host::kBusBusy:
    case host::kImmRetry:
    case host::kRequeue:
        return EBUSY;
    case host::kAllocFailure:
        return ENOMEM;
    default:
        return EIO;
    }
}

int driverErrorCode(std::uint16_t driverStatus)
{
    switch (driverStatus & driver::kMask) {
    case driver::kOk:
    case driver::kSense:
        return 0;
    case driver::kTimeout:
        return ETIMEDOUT;
    case driver::kBusy:
        return EBUSY;
    default:
        return EIO;
    }
}

CallResult translateCompletion(const Request& request, const Completion& completion,
                               std::span<const std::uint8_t> sense, const Address& address,
                               std::span<std::uint8_t> record)
{
    CallResult result;
    if (completion.ioctlResult != 0) {
        const int error = completion.ioctlErrno != 0 ? completion.ioctlErrno : EIO;
        result.outcome = isTransportErrno(error) ? Outcome::Transport : Outcome::OsError;
        result.error = error;
        result.detail = error == ETIMEDOUT ? "timed out" : std::strerror(error);
        return result;
    }

    // From here on the kernel filled the header; resid is meaningful.
    const std::int64_t moved = std::int64_t{request.dxferLength} - completion.resid;
    result.dataTransferred = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(moved, 0, request.dxferLength));

    if (const int error = hostErrorCode(completion.hostStatus); error != 0) {
        result.outcome = Outcome::Transport;
        result.error = error;
        // Which layer gave up shows in the detail: the kernel's own time-out is a host status.
        result.detail = completion.hostStatus == host::kTimeOut
            ? "timed out (" + hex("host status", completion.hostStatus) + ")"
            : hex("host status", completion.hostStatus);
        return result;
    }
    if (const int error = driverErrorCode(completion.driverStatus); error != 0) {
        result.outcome = Outcome::Transport;
        result.error = error;
        result.detail = (completion.driverStatus & driver::kMask) == driver::kTimeout
            ? "timed out (" + hex("driver status", completion.driverStatus) + ")"
            : hex("driver status", completion.driverStatus);
        return result;
    }
    const bool senseReported = (completion.driverStatus & driver::kMask) == driver::kSense;
    if (completion.status == 0 && (completion.info & kInfoOkMask) != kInfoOk && !senseReported) {
        // The kernel flagged the request as abnormal with nothing to show for it: do not
        // let that pass as GOOD.
        result.outcome = Outcome::Transport;
        result.error = EIO;
        result.detail = hex("sg info", completion.info);
        return result;
    }

    // The command completed: write back what the drive said, its sense in fixed format.
    const std::vector<std::uint8_t> given =
        fixedFormatSense(sense.first(std::min<std::size_t>(completion.senseLengthWritten, sense.size())));
    std::size_t senseLength = std::min<std::size_t>(given.size(), request.maxSenseLength);
    if (request.senseOffset + senseLength > record.size())
        senseLength = 0;
    record[record::kScsiStatus] = completion.status;
    record[record::kSenseInfoLength] = static_cast<std::uint8_t>(senseLength);
    if (senseLength > 0)
        std::copy_n(given.begin(), senseLength, record.begin() + request.senseOffset);
    record[record::kPathId] = address.path;
    record[record::kTargetId] = address.target;
    record[record::kLun] = address.lun;

    result.bytesReturned = request.outputLength;
    if (completion.status == 0)
        result.outcome = Outcome::Good;
    else
        result.outcome = senseLength > 0 ? Outcome::Sense : Outcome::Status;
    if (result.outcome != Outcome::Good)
        result.detail = hex("SCSI status", completion.status);
    return result;
}

CallResult carryRecord(std::uint32_t controlCode, std::span<std::uint8_t> record,
                       std::uint32_t inputLength, std::uint32_t outputLength,
                       std::span<std::uint8_t> data, const Address& address,
                       const Executor& execute)
{
    const Translation t = translateRequest(controlCode, record, inputLength, outputLength, data);
    if (!t.ok()) {
        CallResult refused;
        refused.outcome = Outcome::OsError;
        refused.error = t.error;
        refused.detail = t.detail;
        return refused;
    }
    // Room for as many sense bytes as mx_sb_len can ask for.
    std::array<std::uint8_t, 255> sense{};
    const Completion c = execute(t.request, sense);
    return translateCompletion(t.request, c, sense, address, record);
}

} // namespace scsi::sg

// How a pass-through request record becomes a Linux SCSI generic (sg_io_hdr version 3)
// request, and how the completed request becomes a CallResult and the record's
// write-back. Pure: no Linux header is included here. The kernel values that this
// needs are pinned below; linux_pass_through.cpp checks them against the kernel's own.
//
// Every drive is reached this way, the virtual drive too: carryRecord checks the record,
// hands the request to whatever carries it (the SG_IO call, or the virtual drive as a
// SCSI target would be handed the command) and classifies how it ended, so a record is
// judged by the same rules whichever drive it goes to.
#pragma once

#include "drive_system.h"
#include "records.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace scsi::sg {

// sg_io_hdr constants.
inline constexpr int kInterfaceId = 'S';
inline constexpr int kDxferNone = -1;    // SG_DXFER_NONE
inline constexpr int kDxferToDev = -2;   // SG_DXFER_TO_DEV
inline constexpr int kDxferFromDev = -3; // SG_DXFER_FROM_DEV
inline constexpr unsigned kInfoOkMask = 0x1; // SG_INFO_OK_MASK
inline constexpr unsigned kInfoOk = 0x0;     // SG_INFO_OK
inline constexpr unsigned kInfoCheck = 0x1;  // SG_INFO_CHECK: something to look at
inline constexpr std::uint32_t kMaxCdbLength = 16;

// ioctl request numbers.
inline constexpr unsigned long kSgIo = 0x2285;              // SG_IO
inline constexpr unsigned long kSgGetScsiId = 0x2276;       // SG_GET_SCSI_ID
inline constexpr unsigned long kScsiIoctlGetIdlun = 0x5382; // SCSI_IOCTL_GET_IDLUN

// host_status values (the kernel's DID_* codes).
namespace host {
inline constexpr std::uint16_t kOk = 0x00;
inline constexpr std::uint16_t kNoConnect = 0x01;
inline constexpr std::uint16_t kBusBusy = 0x02;
inline constexpr std::uint16_t kTimeOut = 0x03;
inline constexpr std::uint16_t kBadTarget = 0x04;
inline constexpr std::uint16_t kAbort = 0x05;
inline constexpr std::uint16_t kParity = 0x06;
inline constexpr std::uint16_t kError = 0x07;
inline constexpr std::uint16_t kReset = 0x08;
inline constexpr std::uint16_t kImmRetry = 0x0c;
inline constexpr std::uint16_t kRequeue = 0x0d;
inline constexpr std::uint16_t kTransportDisrupted = 0x0e;
inline constexpr std::uint16_t kTransportFailfast = 0x0f;
inline constexpr std::uint16_t kAllocFailure = 0x12;
} // namespace host

// driver_status values (the kernel's DRIVER_* codes); the low nibble is the code,
// the high nibble held the old "suggest" bits, which say nothing about success.
namespace driver {
inline constexpr std::uint16_t kMask = 0x0f;
inline constexpr std::uint16_t kOk = 0x00;
inline constexpr std::uint16_t kBusy = 0x01;
inline constexpr std::uint16_t kError = 0x04;
inline constexpr std::uint16_t kTimeout = 0x06;
inline constexpr std::uint16_t kSense = 0x08; // sense data came back; not an error
} // namespace driver

enum class Direction { None, ToDevice, FromDevice };

int directionCode(Direction direction);

// The OS-free description of one sg_io_hdr request.
struct Request {
    Direction direction = Direction::None;
    std::array<std::uint8_t, kMaxCdbLength> cdb{};
    std::uint8_t cdbLength = 0;
    std::uint32_t timeoutMs = 0;
    std::uint32_t dxferLength = 0;
    std::uint8_t maxSenseLength = 0; // mx_sb_len: the sense length the record asks for
    std::uint32_t senseOffset = 0;   // where the sense bytes go back into the record
    std::uint32_t outputLength = 0;  // record bytes handed back on completion
    std::span<std::uint8_t> data;    // the data block the transfer uses (dxferLength bytes)
};

// A request that cannot be carried: error is an errno-style code (EINVAL), detail says why.
struct Translation {
    Request request;
    int error = 0;
    std::string detail;
    bool ok() const { return error == 0; }
};

// Builds the sg request from a record of either kind. For the buffered record
// (kIoctlScsiPassThrough) the data lies in the record at DataBufferOffset; for the
// direct record it is the block handed beside the record. Checks every length against
// the buffers it names so that no transfer can run past them.
Translation translateRequest(std::uint32_t controlCode, std::span<std::uint8_t> record,
                             std::uint32_t inputLength, std::uint32_t outputLength,
                             std::span<std::uint8_t> data);

// The completed fields of an sg_io_hdr, plus the ioctl's own return and errno.
struct Completion {
    int ioctlResult = 0; // what ioctl() returned
    int ioctlErrno = 0;  // errno when it returned -1
    unsigned info = 0;
    std::uint8_t status = 0;
    std::uint8_t maskedStatus = 0;
    std::uint16_t hostStatus = 0;
    std::uint16_t driverStatus = 0;
    std::uint8_t senseLengthWritten = 0; // sb_len_wr
    std::int32_t resid = 0;
    std::uint32_t durationMs = 0;
};

// Classifies the completion and, when the command completed (Good, Status, Sense),
// writes ScsiStatus, SenseInfoLength, the sense bytes and the address into the record.
// sense is the buffer the kernel wrote (its first senseLengthWritten bytes are valid).
// A call that did not complete leaves the record as it was.
CallResult translateCompletion(const Request& request, const Completion& completion,
                               std::span<const std::uint8_t> sense, const Address& address,
                               std::span<std::uint8_t> record);

// Carries one request to a drive: executes it and reports the completed sg_io_hdr fields.
// sense is room for the sense bytes (as many as any mx_sb_len can ask); the executor
// writes them there and says how many in senseLengthWritten.
using Executor = std::function<Completion(const Request& request, std::span<std::uint8_t> sense)>;

// One call of Device::passThrough: translateRequest, then (for a record that may be
// carried) execute, then translateCompletion with the drive's address. A record refused
// here never reaches execute and comes back untouched, as OsError with the refusal's code.
CallResult carryRecord(std::uint32_t controlCode, std::span<std::uint8_t> record,
                       std::uint32_t inputLength, std::uint32_t outputLength,
                       std::span<std::uint8_t> data, const Address& address,
                       const Executor& execute);

// Sense data as the program reads it: fixed format, response code 70h (current) or 71h
// (deferred), the sense key byte at 2, ASC at 12, ASCQ at 13. A drive may answer in
// descriptor format (72h, 73h) instead; that is rewritten here into the 18 bytes of fixed
// format, with the information, command-specific, sense-key-specific and field-replaceable-
// unit descriptors and the stream and block flags (filemark, end of medium, incorrect
// length) in their fixed places. Other descriptors have no fixed place and are dropped;
// nothing is read past the bytes handed in. Sense data of any other format is returned as
// it is.
std::vector<std::uint8_t> fixedFormatSense(std::span<const std::uint8_t> sense);

// The errno-style code of a host or driver failure (0 when the status is clean).
int hostErrorCode(std::uint16_t hostStatus);
int driverErrorCode(std::uint16_t driverStatus);

} // namespace scsi::sg

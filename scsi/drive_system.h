// The one seam between the request routines and the operating system: a list of drive
// roots, opening a drive, and carrying a request record to an open drive. The Linux
// backend (SG_IO) and the virtual drive implement it; nothing above it knows which.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace scsi {

// How one pass-through call ended, classified once so no caller can take a refused
// call for a good one.
enum class Outcome {
    Good,      // the command completed with status GOOD
    Status,    // completed with a nonzero SCSI status and no sense data
    Sense,     // completed with a nonzero SCSI status and sense data
    Transport, // never completed: time-out, device gone, host or driver error
    OsError,   // the system refused the call (bad handle, no rights, unsupported)
};

struct CallResult {
    Outcome outcome = Outcome::OsError;
    int error = 0;                  // errno-style code for Transport and OsError, else 0
    std::string detail;             // short text for diagnostics ("timed out", "host status 0x07")
    std::uint32_t bytesReturned = 0;   // the record bytes handed back (the output length)
    std::uint32_t dataTransferred = 0; // data bytes actually moved (asked length less residual)

    // The call itself succeeded: the command reached the drive and completed,
    // whatever its SCSI status.
    bool callSucceeded() const
    {
        return outcome == Outcome::Good || outcome == Outcome::Status || outcome == Outcome::Sense;
    }
};

// An open drive: the device handle.
class Device {
public:
    virtual ~Device() = default;

    // Carries one request record to the drive. controlCode is kIoctlScsiPassThrough or
    // kIoctlScsiPassThroughDirect; record is the whole record (592 or 80 bytes), of which
    // inputLength bytes go in and outputLength bytes come back. data is the caller's data
    // block, handed beside the record because its address does not fit the record's
    // 32-bit DataBuffer field; its size is at least DataTransferLength.
    // On a call that succeeded the device writes back into the record: ScsiStatus,
    // SenseInfoLength (the number of sense bytes returned, at most the length asked),
    // the sense bytes at SenseInfoOffset, and PathId, TargetId and Lun of the drive.
    virtual CallResult passThrough(std::uint32_t controlCode, std::span<std::uint8_t> record,
                                   std::uint32_t inputLength, std::uint32_t outputLength,
                                   std::span<std::uint8_t> data) = 0;

    // The port's inquiry-data query for this drive; only its success counts.
    virtual CallResult queryInquiryData(std::span<std::uint8_t> out) = 0;

    // Ends the claim that an exclusive open (OpenMode::Exclusive) holds on the drive, so
    // others may use the drive again; the device itself stays. Where requests travel on
    // the claimed node itself, they fail from then on. Nothing for a device without a claim.
    virtual void releaseClaim() {}
};

// Drive types of a drive root, numbered as the platform numbers them.
enum class DriveType : std::uint8_t {
    Unknown = 0,
    NoRootDir = 1,
    Removable = 2,
    Fixed = 3,
    Remote = 4,
    CdRom = 5,
    RamDisk = 6,
};

struct DriveRoot {
    char letter = 0;          // the drive's letter, from D upward in a stable order
    DriveType type = DriveType::Unknown;
    std::string node;         // the device node a user recognises (/dev/sr0)
};

enum class OpenMode {
    Identify,  // a short look: INQUIRY only, shared with others
    Exclusive, // a flash: nothing else may talk to the drive meanwhile
};

struct OpenResult {
    std::unique_ptr<Device> device; // null when the open failed
    int error = 0;                  // errno-style code of a failed open
};

class DriveSystem {
public:
    virtual ~DriveSystem() = default;
    virtual std::vector<DriveRoot> driveRoots() = 0;
    virtual OpenResult open(char letter, OpenMode mode) = 0;
};

} // namespace scsi

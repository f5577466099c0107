// A virtual QVX-5500: a model of the drive that answers this program's requests as the
// drive does, records every request it receives, and injects faults on request. Tests use
// it in-process; the real program can use a folder of them (makeFolderDriveSystem) so the
// window can be tried without hardware.
//
// What the drive answers:
//   INQUIRY (12h)            36 bytes of standard data: peripheral type 05h, removable, the
//                            vendor (8), product (16) and revision (4) fields blank-padded.
//   TEST UNIT READY (00h)    GOOD with a disc; CHECK CONDITION 02/3A/00 when empty;
//                            02/04/01 (becoming ready) forever when set never to be ready.
//   START STOP UNIT (1Bh)    GOOD; LoEj without Start ejects the disc unless it stays in.
//   WRITE BUFFER (3Bh)       mode 5, buffer 1, control 00h: the data goes into the 262144-
//                            byte download buffer at the CDB's offset. Control 80h with no
//                            data is the closing request: the download becomes the drive's
//                            firmware. Anything out of bounds or of another mode, buffer or
//                            control: CHECK CONDITION 05/24/00.
//   READ BUFFER (3Ch)        mode 1, buffer 1: from the download buffer, bounds-checked.
//   anything else            CHECK CONDITION 05/20/00.
// Sense data is fixed format (70h), 18 bytes; SenseInfoLength comes back as the smaller of
// the length asked and 18.
//
// Folder form (makeFolderDriveSystem): one subfolder per drive, taken in name order and
// given letters from D upward. Each holds a text file "drive" of key=value lines
// (# starts a comment, blank lines are skipped):
//   vendor=KORVANE          (8 characters at most, blank-padded)
//   product=QVX-5500        (16 at most)
//   revision=VQ8E           (4 at most)
//   address=1-0-0           (path-target-lun, each 0..255)
//   disc=yes|no             (a disc in the tray; default no)
//   type=cdrom|fixed|removable|remote|ramdisk   (default cdrom; other types are never opened)
//   fault=<fault>           (any number of lines), one of:
//     open-error=<errno>              every open fails with this error
//     inquiry-data-error=<errno>      the port inquiry-data query fails
//     never-ready                     TEST UNIT READY answers 02/04/01 forever
//     disc-stays-in                   the disc cannot be ejected
//     vanish-at=<n>                   request n and everything after fail (ENODEV/ENXIO)
//     refuse-at=<n>:<errno>           request n is refused with the error
//     timeout-at=<n>                  request n times out
//     check-at=<n>:<KK>/<AA>/<QQ>     request n ends in CHECK CONDITION with that sense (hex)
//     short-read-at=<n>:<missing>     READ BUFFER n moves <missing> bytes fewer
//     corrupt-read-at=<n>:<offset>    READ BUFFER n comes back with byte <offset> flipped
//   <n> counts the drive's requests from 1 in the order received; write "<n>@<opcode hex>"
//   (for example check-at=3@3B:05/24/00) to count only requests of that operation code.
// When the closing WRITE BUFFER succeeds the firmware is written to "firmware.bin" in the
// drive's folder (through a temporary file and a rename). A drive whose file cannot be read
// or holds an unknown key or bad value is still listed, but opening it fails with EINVAL;
// the problem is written to standard error.
#pragma once

#include "drive_system.h"
#include "records.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace scsi {

inline constexpr std::size_t kDownloadBufferSize = 262144;

struct SenseTriple {
    std::uint8_t key = 0; // the whole sense key byte, flag bits included
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    bool operator==(const SenseTriple&) const = default;
};

// One injected fault. It fires at the drive's request number atRequest (counted from 1
// over all requests, or over those of one operation code), once, or at every request from
// then on when persistent is set.
struct Fault {
    enum class Kind {
        CheckCondition, // status CHECK CONDITION with sense (or none when withSense is false)
        Refused,        // the system refuses the call with error (OsError, or Transport for
                        // an error that says the request was on its way, such as EIO)
        TimeOut,        // the command never completes: Transport, ETIMEDOUT
        ShortRead,      // a data-in command moves missingBytes fewer bytes, status GOOD
        CorruptRead,    // a data-in command returns with the byte at corruptOffset flipped
        Vanish,         // the drive is gone from this request on: Transport, ENODEV
    };
    Kind kind = Kind::CheckCondition;
    unsigned atRequest = 1;
    std::optional<std::uint8_t> opcode;
    bool persistent = false;
    SenseTriple sense{0x05, 0x24, 0x00};
    bool withSense = true;
    int error = EIO;
    std::uint32_t missingBytes = 1;
    std::uint32_t corruptOffset = 0;

    static Fault checkCondition(unsigned n, SenseTriple sense, std::optional<std::uint8_t> op = {});
    static Fault refused(unsigned n, int error, std::optional<std::uint8_t> op = {});
    static Fault timeOut(unsigned n, std::optional<std::uint8_t> op = {});
    static Fault shortRead(unsigned n, std::uint32_t missing, std::optional<std::uint8_t> op = {});
    static Fault corruptRead(unsigned n, std::uint32_t offset, std::optional<std::uint8_t> op = {});
    static Fault vanish(unsigned n, std::optional<std::uint8_t> op = {});
};

struct VirtualDriveConfig {
    std::string vendor = "KORVANE";
    std::string product = "QVX-5500";
    std::string revision = "VQ8E";
    std::uint8_t path = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    bool discPresent = false;
    bool discStaysIn = false;   // START STOP UNIT cannot eject it
    bool neverReady = false;    // TEST UNIT READY: NOT READY 02/04/01 forever
    int openError = 0;          // nonzero: every open fails with this error
    int inquiryDataError = 0;   // nonzero: the port inquiry-data query fails with it
};

// One request as the drive received it.
struct ReceivedRequest {
    std::uint32_t controlCode = 0;
    RecordHeader header;               // decoded from the record as it came in
    std::vector<std::uint8_t> cdb;     // CdbLength bytes
    std::uint32_t inputLength = 0;
    std::uint32_t outputLength = 0;
    std::size_t dataLength = 0;        // size of the data block handed beside the record
    std::vector<std::uint8_t> dataOut; // the bytes sent to the drive (data-out requests)

    std::uint8_t opcode() const { return cdb.empty() ? 0xFF : cdb[0]; }
};

// A command as it reaches the drive over a SCSI transport, without a request record
// around it (a target that hands the drive its commands, as the kernel rig's handler does).
enum class DataDirection { None, ToDrive, FromDrive };

struct CommandAnswer {
    // What became of the command. Answered: the drive completed it with status, sense and
    // transferred. The others are faults of the path to the drive rather than answers of
    // the drive: the transport decides what the initiator sees (error holds the code the
    // in-process path would give).
    enum class Fate { Answered, Refused, TimedOut, Vanished };
    Fate fate = Fate::Answered;
    int error = 0;
    std::uint8_t status = 0;
    std::optional<SenseTriple> sense;
    std::uint32_t transferred = 0;
};

// Fixed-format (70h) sense data of 18 bytes for a sense key byte, ASC and ASCQ.
std::array<std::uint8_t, 18> fixedSense(SenseTriple sense);

// Errors of a vanished drive: its open fails with ENXIO, its calls with ENODEV.
inline constexpr int kVanishedOpenError = ENXIO;
inline constexpr int kVanishedCallError = ENODEV;
inline constexpr int kBusyError = EBUSY;
inline constexpr int kTimedOutError = ETIMEDOUT;

class VirtualDrive : public std::enable_shared_from_this<VirtualDrive> {
public:
    explicit VirtualDrive(VirtualDriveConfig config = {});

    VirtualDriveConfig& config() { return config_; }
    const VirtualDriveConfig& config() const { return config_; }

    void addFault(Fault fault) { faults_.push_back({fault, false}); }
    void vanish() { vanished_ = true; }
    bool vanished() const { return vanished_; }

    // Opens the drive. Exclusive opens exclude each other (EBUSY); Identify opens share.
    OpenResult open(OpenMode mode);
    int openCount() const { return openCount_; } // opens that succeeded
    int openDevices() const { return openDevices_; }

    // Carries one request record (Device::passThrough of the drive's devices) as SG_IO
    // carries it to a real drive: the record is checked and translated as there, the drive
    // answers the command as command() does, and the answer is classified and written back
    // into the record as the completed SG_IO call would be. A record that reaches the drive
    // is recorded as it came in; one the checks refuse never reaches it.
    CallResult passThrough(std::uint32_t controlCode, std::span<std::uint8_t> record,
                           std::uint32_t inputLength, std::uint32_t outputLength,
                           std::span<std::uint8_t> data);
    CallResult queryInquiryData(std::span<std::uint8_t> out);
    // Carries one bare command: the CDB, the direction the transport gives it and the
    // transport's data block (data.size() bytes move at most). Recorded and counted with
    // the requests of passThrough (controlCode 0, the header made up from these values),
    // and open to the same faults.
    CommandAnswer command(std::span<const std::uint8_t> cdb, DataDirection direction,
                          std::span<std::uint8_t> data);

    const std::vector<ReceivedRequest>& requests() const { return requests_; }
    void clearRequests() { requests_.clear(); }
    int inquiryDataQueries() const { return inquiryDataQueries_; }

    const std::vector<std::uint8_t>& downloadBuffer() const { return download_; }
    // The firmware the last successful closing request saved; empty before that.
    const std::vector<std::uint8_t>& firmware() const { return firmware_; }
    int firmwareSaves() const { return firmwareSaves_; }

    // Called when a closing request saves the download; returning false makes the request
    // fail with CHECK CONDITION 04/44/00 (the save did not happen).
    void setOnSave(std::function<bool(std::span<const std::uint8_t>)> onSave)
    {
        onSave_ = std::move(onSave);
    }

    // The 36 bytes of standard INQUIRY data the drive answers with.
    std::vector<std::uint8_t> inquiryData() const;

private:
    friend class VirtualDevice;
    struct Armed {
        Fault fault;
        bool fired = false;
    };
    struct Answer {
        std::uint8_t status = 0;
        std::optional<SenseTriple> sense;
        std::uint32_t transferred = 0;
    };
    Answer execute(const ReceivedRequest& request, std::span<std::uint8_t> data);
    // Records rq and finds its fault; a fault of the path (or a drive gone) is the fate.
    const Fault* receive(const ReceivedRequest& rq, CommandAnswer::Fate& fate, int& error);
    // Records logged, then answers seen (the command as the transport hands it over; block
    // is its data) unless a fault of the path, or a drive gone, decides its fate.
    CommandAnswer respond(const ReceivedRequest& logged, const ReceivedRequest& seen,
                          std::span<std::uint8_t> block);
    // The drive's answer to a recorded request, with a due CHECK CONDITION, short read or
    // corrupt read applied; block is the data to or from the drive.
    Answer answer(const ReceivedRequest& rq, const Fault* fault, std::span<std::uint8_t> block);
    const Fault* dueFault(std::uint8_t opcode);
    void released(OpenMode mode);

    VirtualDriveConfig config_;
    std::vector<Armed> faults_;
    std::vector<ReceivedRequest> requests_;
    std::vector<unsigned> countByOpcode_ = std::vector<unsigned>(256, 0);
    std::vector<std::uint8_t> download_;
    std::vector<std::uint8_t> firmware_;
    std::function<bool(std::span<const std::uint8_t>)> onSave_;
    int firmwareSaves_ = 0;
    int inquiryDataQueries_ = 0;
    int openCount_ = 0;
    int openDevices_ = 0;
    bool exclusiveHeld_ = false;
    bool vanished_ = false;
};

// A drive system of virtual drives and other roots, listed in letter order.
class VirtualDriveSystem : public DriveSystem {
public:
    // A CD-ROM drive answering as drive; node defaults to "virtual:<letter>".
    void addDrive(char letter, std::shared_ptr<VirtualDrive> drive, std::string node = {});
    // A root of another type (or a CD-ROM root with no drive behind it): opening it fails.
    void addRoot(char letter, DriveType type, std::string node = {});
    // A root whose drive answers but is of another type.
    void addDrive(char letter, DriveType type, std::shared_ptr<VirtualDrive> drive,
                  std::string node = {});

    std::vector<DriveRoot> driveRoots() override;
    OpenResult open(char letter, OpenMode mode) override;

    int opens() const { return opens_; } // open attempts, failed ones included
    std::shared_ptr<VirtualDrive> drive(char letter) const;

private:
    struct Slot {
        DriveRoot root;
        std::shared_ptr<VirtualDrive> drive;
    };
    std::vector<Slot> slots_;
    int opens_ = 0;
};

// The folder form: a drive's description file parsed.
struct VirtualDriveDescription {
    VirtualDriveConfig config;
    std::vector<Fault> faults;
    DriveType type = DriveType::CdRom;
    std::vector<std::string> problems; // "line 3: unknown key 'vendr'"; empty when sound
};
VirtualDriveDescription parseVirtualDriveDescription(const std::string& text);

// One drive of the folder form: folder/drive parsed (problems written to standard error),
// its faults armed, and its saved firmware written to folder/firmware.bin.
struct FolderDrive {
    std::shared_ptr<VirtualDrive> drive;
    DriveType type = DriveType::CdRom;
    bool sound = true; // false: the description has problems and every open fails (EINVAL)
};
FolderDrive loadVirtualDriveFolder(const std::string& folder);

// The name of the environment variable that names a folder of virtual drives.
inline constexpr const char* kVirtualDrivesVariable = "QVX_VIRTUAL_DRIVES";

// The one rule for "virtual drives are in use", asked by the drive list and by the restart
// alike: the folder that kVirtualDrivesVariable names, or "" when the program works on the
// machine's own drives (the variable unset or empty). Any other value is a folder's name,
// "0" included.
std::string virtualDrivesFolder();

// The drives described in folder (format above). A folder that does not exist or holds no
// drives gives a system with no drives.
std::unique_ptr<DriveSystem> makeFolderDriveSystem(const std::string& folder);

} // namespace scsi

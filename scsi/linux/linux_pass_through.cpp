// The one file of the program that speaks SG_IO.
#include "linux_pass_through.h"

#include "capabilities.h"
#include "records.h"
#include "sg_translation.h"
#include "unique_fd.h"

#include <scsi/scsi.h>
#include <scsi/sg.h>

#include <fcntl.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace scsi::sg {

// The pure translation pins these values without the kernel's headers; they must agree.
static_assert(kDxferNone == SG_DXFER_NONE);
static_assert(kDxferToDev == SG_DXFER_TO_DEV);
static_assert(kDxferFromDev == SG_DXFER_FROM_DEV);
static_assert(kInfoOkMask == SG_INFO_OK_MASK);
static_assert(kInfoOk == SG_INFO_OK);
static_assert(kInfoCheck == SG_INFO_CHECK);
static_assert(kSgIo == SG_IO);
static_assert(kSgGetScsiId == SG_GET_SCSI_ID);
static_assert(kScsiIoctlGetIdlun == SCSI_IOCTL_GET_IDLUN);

namespace {

constexpr int kCapSysRawIo = 17; // bit of CAP_SYS_RAWIO in the capability sets

os::UniqueFd openNode(const std::string& node, int flags, int& error)
{
    int fd;
    do {
        fd = ::open(node.c_str(), flags | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    error = fd < 0 ? errno : 0;
    return os::UniqueFd(fd);
}

std::uint8_t addressByte(int value)
{
    return static_cast<std::uint8_t>(std::clamp(value, 0, 255));
}

class LinuxDevice final : public Device {
public:
    // requestsClaim: the requests' node is itself the claim (no sg node, an exclusive open).
    LinuxDevice(os::UniqueFd requests, bool generic, os::UniqueFd claim, Address address,
                bool requestsClaim = false)
        : requests_(std::move(requests)), claim_(std::move(claim)), generic_(generic),
          requestsClaim_(requestsClaim), address_(address)
    {
    }

    CallResult passThrough(std::uint32_t controlCode, std::span<std::uint8_t> record,
                           std::uint32_t inputLength, std::uint32_t outputLength,
                           std::span<std::uint8_t> data) override
    {
        return carryRecord(controlCode, record, inputLength, outputLength, data, address_,
                           [this](const Request& r, std::span<std::uint8_t> sense) {
                               return sgIo(r, sense);
                           });
    }

    CallResult queryInquiryData(std::span<std::uint8_t> out) override
    {
        // What the port knows of the drive: host, channel, target, LUN and type. Only the
        // call's success is used.
        std::array<std::uint8_t, 5> answer{};
        int rc;
        if (generic_) {
            sg_scsi_id id;
            std::memset(&id, 0, sizeof id);
            rc = ::ioctl(requests_.get(), SG_GET_SCSI_ID, &id);
            answer = {addressByte(id.host_no), addressByte(id.channel), addressByte(id.scsi_id),
                      addressByte(id.lun), addressByte(id.scsi_type)};
        } else {
            // dev_id: target bits 0-7, lun 8-15, channel 16-23, host 24-31.
            int idlun[2] = {0, 0};
            rc = ::ioctl(requests_.get(), SCSI_IOCTL_GET_IDLUN, idlun);
            const auto v = static_cast<unsigned>(idlun[0]);
            answer = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                      static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), 5};
        }
        CallResult result;
        if (rc != 0) {
            result.outcome = Outcome::OsError;
            result.error = errno != 0 ? errno : EIO;
            result.detail = std::strerror(result.error);
            return result;
        }
        std::fill(out.begin(), out.end(), std::uint8_t{0});
        const std::size_t n = std::min(out.size(), answer.size());
        std::copy_n(answer.begin(), n, out.begin());
        result.outcome = Outcome::Good;
        result.bytesReturned = static_cast<std::uint32_t>(n);
        return result;
    }

    void releaseClaim() override
    {
        claim_.reset();
        if (requestsClaim_)
            requests_.reset();
    }

private:
    Completion sgIo(const Request& r, std::span<std::uint8_t> sense)
    {
        std::array<std::uint8_t, kMaxCdbLength> cdb = r.cdb;
        sg_io_hdr_t h;
        std::memset(&h, 0, sizeof h);
        h.interface_id = kInterfaceId;
        h.dxfer_direction = directionCode(r.direction);
        h.cmd_len = r.cdbLength;
        // The kernel writes up to mx_sb_len sense bytes at sbp: never past the buffer.
        h.mx_sb_len = static_cast<unsigned char>(std::min<std::size_t>(r.maxSenseLength, sense.size()));
        h.dxfer_len = r.dxferLength;
        h.dxferp = r.dxferLength > 0 ? r.data.data() : nullptr;
        h.cmdp = cdb.data();
        h.sbp = sense.data();
        h.timeout = r.timeoutMs;

        Completion c;
        c.ioctlResult = ::ioctl(requests_.get(), SG_IO, &h);
        c.ioctlErrno = c.ioctlResult != 0 ? errno : 0;
        c.info = h.info;
        c.status = h.status;
        c.maskedStatus = h.masked_status;
        c.hostStatus = h.host_status;
        c.driverStatus = h.driver_status;
        c.senseLengthWritten = h.sb_len_wr;
        c.resid = h.resid;
        c.durationMs = h.duration;
        return c;
    }

    os::UniqueFd requests_; // the node that carries SG_IO
    os::UniqueFd claim_;    // the block node held with O_EXCL during a flash
    bool generic_;
    bool requestsClaim_;
    Address address_;
};

class LinuxDriveSystem final : public DriveSystem {
public:
    explicit LinuxDriveSystem(SystemPaths paths) : paths_(std::move(paths)) {}

    std::vector<DriveRoot> driveRoots() override
    {
        drives_ = listOpticalDrives(paths_);
        listed_ = true;
        std::vector<DriveRoot> roots;
        for (const auto& d : drives_)
            roots.push_back(DriveRoot{d.letter, DriveType::CdRom, d.blockNode});
        return roots;
    }

    OpenResult open(char letter, OpenMode mode) override
    {
        if (!listed_)
            driveRoots();
        for (const auto& d : drives_) {
            if (d.letter == letter)
                return openOpticalDrive(d, mode);
        }
        OpenResult none;
        none.error = ENOENT;
        return none;
    }

private:
    SystemPaths paths_;
    std::vector<OpticalDrive> drives_;
    bool listed_ = false;
};

} // namespace

bool hasRawIoCapability()
{
    return os::effectiveCapabilityHeld(os::ownProcStatus(), kCapSysRawIo);
}

OpenResult openOpticalDrive(const OpticalDrive& drive, OpenMode mode)
{
    OpenResult result;
    const Address address{addressByte(drive.channel), addressByte(drive.target),
                          addressByte(drive.lun)};
    const bool exclusive = mode == OpenMode::Exclusive;
    int error = 0;

    if (!drive.genericNode.empty()) {
        os::UniqueFd requests = openNode(drive.genericNode, O_RDWR | O_NONBLOCK, error);
        if (!requests.valid()) {
            result.error = error;
            return result;
        }
        os::UniqueFd claim;
        if (exclusive) {
            // Only a claim for writing makes the kernel stop polling the drive for media.
            claim = openNode(drive.blockNode, O_RDWR | O_NONBLOCK | O_EXCL, error);
            if (!claim.valid()) {
                result.error = error;
                return result;
            }
        }
        result.device = std::make_unique<LinuxDevice>(std::move(requests), true, std::move(claim),
                                                      address);
        return result;
    }

    // No sg node: the block node carries the requests, and WRITE BUFFER through it needs
    // CAP_SYS_RAWIO; say so now rather than at the first WRITE BUFFER.
    if (!hasRawIoCapability()) {
        result.error = EPERM;
        return result;
    }
    os::UniqueFd requests =
        openNode(drive.blockNode, exclusive ? O_RDWR | O_NONBLOCK | O_EXCL : O_RDONLY | O_NONBLOCK, error);
    if (!requests.valid()) {
        result.error = error;
        return result;
    }
    result.device = std::make_unique<LinuxDevice>(std::move(requests), false, os::UniqueFd{},
                                                  address, exclusive);
    return result;
}

std::unique_ptr<DriveSystem> makeLinuxDriveSystem(SystemPaths paths)
{
    return std::make_unique<LinuxDriveSystem>(std::move(paths));
}

} // namespace scsi::sg

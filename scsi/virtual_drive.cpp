#include "virtual_drive.h"

#include "cdb.h"
#include "sg_translation.h"

#include <algorithm>
#include <cerrno>

namespace scsi {

namespace {

constexpr std::uint8_t kCheckCondition = 0x02;
constexpr std::size_t kFixedSenseSize = 18;
constexpr std::size_t kStandardInquirySize = 36;
constexpr std::uint8_t kSaveControl = 0x80;

constexpr SenseTriple kInvalidOpcode{0x05, 0x20, 0x00};
constexpr SenseTriple kInvalidField{0x05, 0x24, 0x00};
constexpr SenseTriple kNoMedium{0x02, 0x3A, 0x00};
constexpr SenseTriple kBecomingReady{0x02, 0x04, 0x01};
constexpr SenseTriple kSaveFailed{0x04, 0x44, 0x00};

CallResult refusedCall(int error, std::string detail)
{
    CallResult r;
    r.outcome = Outcome::OsError;
    r.error = error;
    r.detail = std::move(detail);
    return r;
}

// A bare command as the drive takes it: the header made up from the transport's view.
ReceivedRequest bareCommand(std::span<const std::uint8_t> cdb, DataDirection direction,
                            std::span<std::uint8_t> block)
{
    ReceivedRequest rq;
    rq.cdb.assign(cdb.begin(), cdb.begin() + std::min<std::size_t>(cdb.size(), record::kCdbCapacity));
    rq.header.cdbLength = static_cast<std::uint8_t>(rq.cdb.size());
    std::copy(rq.cdb.begin(), rq.cdb.end(), rq.header.cdb.begin());
    rq.header.dataIn = direction == DataDirection::FromDrive ? record::kDataInToHost
                                                             : record::kDataInToDevice;
    rq.header.dataTransferLength = static_cast<std::uint32_t>(block.size());
    rq.dataLength = block.size();
    return rq;
}

DataDirection directionOf(sg::Direction direction)
{
    switch (direction) {
    case sg::Direction::ToDevice:
        return DataDirection::ToDrive;
    case sg::Direction::FromDevice:
        return DataDirection::FromDrive;
    case sg::Direction::None:
        break;
    }
    return DataDirection::None;
}

// The fate of a command as the SG_IO call that carried it would complete.
sg::Completion completionOf(const CommandAnswer& a, const sg::Request& r, std::span<std::uint8_t> sense)
{
    sg::Completion c;
    switch (a.fate) {
    case CommandAnswer::Fate::Refused:
    case CommandAnswer::Fate::Vanished:
        // The call itself fails: the system refused it, or the drive is gone.
        c.ioctlResult = -1;
        c.ioctlErrno = a.error;
        return c;
    case CommandAnswer::Fate::TimedOut:
        // The kernel gives up on the command: a host time-out, nothing moved.
        c.hostStatus = sg::host::kTimeOut;
        c.info = sg::kInfoCheck;
        c.resid = static_cast<std::int32_t>(r.dxferLength);
        return c;
    case CommandAnswer::Fate::Answered:
        break;
    }
    c.status = a.status;
    c.maskedStatus = static_cast<std::uint8_t>((a.status >> 1) & 0x7F);
    if (a.sense) {
        const auto bytes = fixedSense(*a.sense);
        const std::size_t n = std::min({bytes.size(), std::size_t{r.maxSenseLength}, sense.size()});
        std::copy_n(bytes.begin(), n, sense.begin());
        c.senseLengthWritten = static_cast<std::uint8_t>(n);
        c.driverStatus = sg::driver::kSense;
    }
    if (c.status != 0 || c.driverStatus != 0)
        c.info = sg::kInfoCheck;
    c.resid = static_cast<std::int32_t>(r.dxferLength - std::min(a.transferred, r.dxferLength));
    return c;
}

void putField(std::vector<std::uint8_t>& out, std::size_t offset, std::size_t width,
              const std::string& text)
{
    for (std::size_t i = 0; i < width; ++i)
        out[offset + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
}

} // namespace

namespace {

Fault faultAt(Fault::Kind kind, unsigned n, std::optional<std::uint8_t> op)
{
    Fault f;
    f.kind = kind;
    f.atRequest = n;
    f.opcode = op;
    return f;
}

} // namespace

Fault Fault::checkCondition(unsigned n, SenseTriple sense, std::optional<std::uint8_t> op)
{
    Fault f = faultAt(Kind::CheckCondition, n, op);
    f.sense = sense;
    return f;
}

Fault Fault::refused(unsigned n, int error, std::optional<std::uint8_t> op)
{
    Fault f = faultAt(Kind::Refused, n, op);
    f.error = error;
    return f;
}

Fault Fault::timeOut(unsigned n, std::optional<std::uint8_t> op)
{
    Fault f = faultAt(Kind::TimeOut, n, op);
    f.error = kTimedOutError;
    return f;
}

Fault Fault::shortRead(unsigned n, std::uint32_t missing, std::optional<std::uint8_t> op)
{
    Fault f = faultAt(Kind::ShortRead, n, op);
    f.missingBytes = missing;
    return f;
}

Fault Fault::corruptRead(unsigned n, std::uint32_t offset, std::optional<std::uint8_t> op)
{
    Fault f = faultAt(Kind::CorruptRead, n, op);
    f.corruptOffset = offset;
    return f;
}

Fault Fault::vanish(unsigned n, std::optional<std::uint8_t> op)
{
    Fault f = faultAt(Kind::Vanish, n, op);
    f.error = kVanishedCallError;
    return f;
}

// An open handle on a virtual drive.
class VirtualDevice : public Device {
public:
    VirtualDevice(std::shared_ptr<VirtualDrive> drive, OpenMode mode)
        : drive_(std::move(drive)), mode_(mode)
    {
    }
    ~VirtualDevice() override { drive_->released(mode_); }

    CallResult passThrough(std::uint32_t controlCode, std::span<std::uint8_t> record,
                           std::uint32_t inputLength, std::uint32_t outputLength,
                           std::span<std::uint8_t> data) override
    {
        return drive_->passThrough(controlCode, record, inputLength, outputLength, data);
    }
    CallResult queryInquiryData(std::span<std::uint8_t> out) override
    {
        return drive_->queryInquiryData(out);
    }
    // From here on the device is like a shared one: another exclusive open may follow.
    void releaseClaim() override
    {
        if (mode_ == OpenMode::Exclusive)
            drive_->exclusiveHeld_ = false;
        mode_ = OpenMode::Identify;
    }

private:
    std::shared_ptr<VirtualDrive> drive_;
    OpenMode mode_;
};

VirtualDrive::VirtualDrive(VirtualDriveConfig config)
    : config_(std::move(config)), download_(kDownloadBufferSize, 0xFF)
{
}

OpenResult VirtualDrive::open(OpenMode mode)
{
    OpenResult result;
    if (vanished_) {
        result.error = kVanishedOpenError;
    } else if (config_.openError != 0) {
        result.error = config_.openError;
    } else if (mode == OpenMode::Exclusive && exclusiveHeld_) {
        result.error = kBusyError;
    } else {
        if (mode == OpenMode::Exclusive)
            exclusiveHeld_ = true;
        ++openCount_;
        ++openDevices_;
        result.device = std::make_unique<VirtualDevice>(shared_from_this(), mode);
    }
    return result;
}

void VirtualDrive::released(OpenMode mode)
{
    --openDevices_;
    if (mode == OpenMode::Exclusive)
        exclusiveHeld_ = false;
}

std::vector<std::uint8_t> VirtualDrive::inquiryData() const
{
    std::vector<std::uint8_t> d(kStandardInquirySize, 0);
    d[0] = 0x05; // CD/DVD device
    d[1] = 0x80; // removable medium
    d[2] = 0x00;
    d[3] = 0x02; // response data format 2
    d[4] = static_cast<std::uint8_t>(kStandardInquirySize - 5);
    putField(d, 8, 8, config_.vendor);
    putField(d, 16, 16, config_.product);
    putField(d, 32, 4, config_.revision);
    return d;
}

const Fault* VirtualDrive::dueFault(std::uint8_t opcode)
{
    for (Armed& armed : faults_) {
        const Fault& f = armed.fault;
        if (f.opcode && *f.opcode != opcode)
            continue;
        const unsigned count = f.opcode ? countByOpcode_[opcode]
                                        : static_cast<unsigned>(requests_.size());
        const bool due = f.persistent ? count >= f.atRequest : (!armed.fired && count == f.atRequest);
        if (due) {
            armed.fired = true;
            return &f;
        }
    }
    return nullptr;
}

std::array<std::uint8_t, 18> fixedSense(SenseTriple triple)
{
    std::array<std::uint8_t, kFixedSenseSize> sense{};
    sense[0] = 0x70;
    sense[2] = triple.key;
    sense[7] = kFixedSenseSize - 8;
    sense[12] = triple.asc;
    sense[13] = triple.ascq;
    return sense;
}

const Fault* VirtualDrive::receive(const ReceivedRequest& rq, CommandAnswer::Fate& fate, int& error)
{
    const std::uint8_t opcode = rq.opcode();
    requests_.push_back(rq);
    ++countByOpcode_[opcode];

    fate = CommandAnswer::Fate::Answered;
    if (vanished_) {
        fate = CommandAnswer::Fate::Vanished;
        error = kVanishedCallError;
        return nullptr;
    }
    const Fault* fault = dueFault(opcode);
    if (!fault)
        return nullptr;
    switch (fault->kind) {
    case Fault::Kind::Vanish:
        vanished_ = true;
        fate = CommandAnswer::Fate::Vanished;
        error = kVanishedCallError;
        break;
    case Fault::Kind::Refused:
        fate = CommandAnswer::Fate::Refused;
        error = fault->error;
        break;
    case Fault::Kind::TimeOut:
        fate = CommandAnswer::Fate::TimedOut;
        error = kTimedOutError;
        break;
    default:
        break;
    }
    return fault;
}

VirtualDrive::Answer VirtualDrive::answer(const ReceivedRequest& rq, const Fault* fault,
                                          std::span<std::uint8_t> block)
{
    if (fault && fault->kind == Fault::Kind::CheckCondition) {
        Answer a;
        a.status = kCheckCondition;
        if (fault->withSense)
            a.sense = fault->sense;
        return a;
    }
    if (rq.header.dataIn == record::kDataInToDevice)
        return execute(rq, block);

    std::vector<std::uint8_t> incoming(rq.header.dataTransferLength, 0);
    Answer a = execute(rq, incoming);
    if (a.status == 0 && fault && fault->kind == Fault::Kind::ShortRead)
        a.transferred -= std::min(a.transferred, fault->missingBytes);
    if (a.status == 0 && fault && fault->kind == Fault::Kind::CorruptRead && a.transferred > 0)
        incoming[fault->corruptOffset % a.transferred] ^= 0xFF;
    std::copy_n(incoming.begin(), std::min<std::size_t>(a.transferred, block.size()), block.begin());
    return a;
}

CallResult VirtualDrive::passThrough(std::uint32_t controlCode, std::span<std::uint8_t> record,
                                     std::uint32_t inputLength, std::uint32_t outputLength,
                                     std::span<std::uint8_t> data)
{
    const Address address{config_.path, config_.target, config_.lun};
    return sg::carryRecord(
        controlCode, record, inputLength, outputLength, data, address,
        [&](const sg::Request& r, std::span<std::uint8_t> sense) {
            // Logged as the record came in: nothing has been written back into it yet.
            ReceivedRequest logged;
            logged.controlCode = controlCode;
            logged.header = decodeHeader(record);
            logged.cdb.assign(r.cdb.begin(), r.cdb.begin() + r.cdbLength);
            logged.inputLength = inputLength;
            logged.outputLength = outputLength;
            logged.dataLength = data.size();
            const std::uint32_t asked = logged.header.dataTransferLength;
            if (logged.header.dataIn == record::kDataInToDevice
                && controlCode == kIoctlScsiPassThroughDirect)
                logged.dataOut.assign(data.begin(), data.begin() + std::min<std::size_t>(asked, data.size()));

            // The drive sees only the command and the transfer, as over any transport.
            const std::span<const std::uint8_t> cdb(r.cdb.data(), r.cdbLength);
            const ReceivedRequest seen = bareCommand(cdb, directionOf(r.direction), r.data);
            return completionOf(respond(logged, seen, r.data), r, sense);
        });
}

CommandAnswer VirtualDrive::command(std::span<const std::uint8_t> cdb, DataDirection direction,
                                    std::span<std::uint8_t> data)
{
    // No data moves without a direction, whatever the data block's size.
    const std::span<std::uint8_t> block = direction == DataDirection::None ? data.first(0) : data;
    ReceivedRequest rq = bareCommand(cdb, direction, block);
    if (direction == DataDirection::ToDrive)
        rq.dataOut.assign(block.begin(), block.end());
    return respond(rq, rq, block);
}

CommandAnswer VirtualDrive::respond(const ReceivedRequest& logged, const ReceivedRequest& seen,
                                    std::span<std::uint8_t> block)
{
    CommandAnswer result;
    const Fault* fault = receive(logged, result.fate, result.error);
    if (result.fate != CommandAnswer::Fate::Answered)
        return result;
    if (seen.cdb.empty()) {
        result.status = kCheckCondition;
        result.sense = kInvalidOpcode;
        return result;
    }
    const Answer answered = answer(seen, fault, block);
    result.status = answered.status;
    result.sense = answered.sense;
    result.transferred = answered.transferred;
    return result;
}

VirtualDrive::Answer VirtualDrive::execute(const ReceivedRequest& rq, std::span<std::uint8_t> data)
{
    const auto check = [](SenseTriple sense) {
        Answer a;
        a.status = kCheckCondition;
        a.sense = sense;
        return a;
    };
    const std::vector<std::uint8_t>& c = rq.cdb;
    const std::uint32_t asked = rq.header.dataTransferLength;
    switch (rq.opcode()) {
    case op::kInquiry: {
        if (c.size() < 6 || (c[1] & 0x01) != 0)
            return check(kInvalidField);
        const std::vector<std::uint8_t> inquiry = inquiryData();
        const std::size_t n = std::min({inquiry.size(), static_cast<std::size_t>(c[4]),
                                        static_cast<std::size_t>(asked), data.size()});
        std::copy_n(inquiry.begin(), n, data.begin());
        Answer a;
        a.transferred = static_cast<std::uint32_t>(n);
        return a;
    }
    case op::kTestUnitReady:
        if (config_.neverReady)
            return check(kBecomingReady);
        if (!config_.discPresent)
            return check(kNoMedium);
        return {};
    case op::kStartStopUnit: {
        if (c.size() < 6)
            return check(kInvalidField);
        const bool start = (c[4] & 0x01) != 0;
        const bool loadEject = (c[4] & 0x02) != 0;
        if (loadEject && !start && !config_.discStaysIn)
            config_.discPresent = false;
        return {};
    }
    case op::kWriteBuffer: {
        if (c.size() != 10 || (c[1] & 0x1F) != kWriteBufferModeDownloadSave || c[2] != kBufferId)
            return check(kInvalidField);
        const std::uint32_t offset = getBe24(c, 3);
        const std::uint32_t length = getBe24(c, 6);
        const std::uint8_t control = c[9];
        if (control == 0) {
            if (rq.header.dataIn != record::kDataInToDevice || asked != length
                || static_cast<std::uint64_t>(offset) + length > download_.size())
                return check(kInvalidField);
            std::copy_n(data.begin(), length, download_.begin() + offset);
            Answer a;
            a.transferred = length;
            return a;
        }
        if (control == kSaveControl) {
            if (asked != 0)
                return check(kInvalidField);
            if (onSave_ && !onSave_(download_))
                return check(kSaveFailed);
            firmware_ = download_;
            ++firmwareSaves_;
            return {};
        }
        return check(kInvalidField);
    }
    case op::kReadBuffer: {
        if (c.size() != 10 || (c[1] & 0x1F) != kReadBufferModeVendor || c[2] != kBufferId)
            return check(kInvalidField);
        const std::uint32_t offset = getBe24(c, 3);
        const std::uint32_t length = getBe24(c, 6);
        // Data must be able to come back; a READ BUFFER of nothing needs no way back.
        const bool noWayBack = rq.header.dataIn == record::kDataInToDevice && (asked > 0 || length > 0);
        if (noWayBack || static_cast<std::uint64_t>(offset) + length > download_.size())
            return check(kInvalidField);
        const std::size_t n = std::min<std::size_t>({length, asked, data.size()});
        std::copy_n(download_.begin() + offset, n, data.begin());
        Answer a;
        a.transferred = static_cast<std::uint32_t>(n);
        return a;
    }
    default:
        return check(kInvalidOpcode);
    }
}

CallResult VirtualDrive::queryInquiryData(std::span<std::uint8_t> out)
{
    ++inquiryDataQueries_;
    if (vanished_)
        return refusedCall(kVanishedCallError, "drive gone");
    if (config_.inquiryDataError != 0)
        return refusedCall(config_.inquiryDataError, "inquiry data query failed");
    // One bus with one device: its address and the first bytes of its INQUIRY data.
    std::fill(out.begin(), out.end(), 0);
    const std::uint8_t head[] = {1, config_.path, config_.target, config_.lun};
    const std::size_t n = std::min(out.size(), sizeof head);
    std::copy_n(head, n, out.begin());
    CallResult r;
    r.outcome = Outcome::Good;
    r.bytesReturned = static_cast<std::uint32_t>(n);
    return r;
}

// The drive system.

void VirtualDriveSystem::addDrive(char letter, std::shared_ptr<VirtualDrive> drive, std::string node)
{
    addDrive(letter, DriveType::CdRom, std::move(drive), std::move(node));
}

void VirtualDriveSystem::addRoot(char letter, DriveType type, std::string node)
{
    addDrive(letter, type, nullptr, std::move(node));
}

void VirtualDriveSystem::addDrive(char letter, DriveType type, std::shared_ptr<VirtualDrive> drive,
                                  std::string node)
{
    if (node.empty())
        node = std::string("virtual:") + letter;
    Slot slot{DriveRoot{letter, type, std::move(node)}, std::move(drive)};
    const auto at = std::find_if(slots_.begin(), slots_.end(),
                                 [letter](const Slot& s) { return s.root.letter > letter; });
    slots_.insert(at, std::move(slot));
}

std::vector<DriveRoot> VirtualDriveSystem::driveRoots()
{
    std::vector<DriveRoot> roots;
    for (const Slot& s : slots_)
        roots.push_back(s.root);
    return roots;
}

OpenResult VirtualDriveSystem::open(char letter, OpenMode mode)
{
    ++opens_;
    for (const Slot& s : slots_) {
        if (s.root.letter != letter)
            continue;
        if (!s.drive)
            return OpenResult{nullptr, kVanishedOpenError};
        return s.drive->open(mode);
    }
    return OpenResult{nullptr, ENOENT};
}

std::shared_ptr<VirtualDrive> VirtualDriveSystem::drive(char letter) const
{
    for (const Slot& s : slots_)
        if (s.root.letter == letter)
            return s.drive;
    return nullptr;
}

} // namespace scsi

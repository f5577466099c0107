#include "cdb.h"

#include "drive_table.h"

#include <algorithm>
#include <cassert>

namespace scsi {

void putBe24(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value)
{
    assert(offset + 3 <= bytes.size());
    bytes[offset] = static_cast<std::uint8_t>(value >> 16);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    bytes[offset + 2] = static_cast<std::uint8_t>(value);
}

std::uint32_t getBe24(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    assert(offset + 3 <= bytes.size());
    return (static_cast<std::uint32_t>(bytes[offset]) << 16)
        | (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) | bytes[offset + 2];
}

Cdb6 inquiryCdb()
{
    return {op::kInquiry, 0x00, 0x00, 0x00, kInquiryAllocation, 0x00};
}

Cdb6 startStopUnitCdb(std::uint8_t value)
{
    return {op::kStartStopUnit, 0x00, 0x00, 0x00, value, 0x00};
}

Cdb6 testUnitReadyCdb()
{
    return {op::kTestUnitReady, 0x00, 0x00, 0x00, 0x00, 0x00};
}

Cdb10 writeBufferCdb(std::uint32_t offset, std::uint32_t length, std::uint8_t control)
{
    Cdb10 c{op::kWriteBuffer, kWriteBufferModeDownloadSave, kBufferId};
    putBe24(c, 3, offset);
    putBe24(c, 6, length);
    c[9] = control;
    return c;
}

Cdb10 readBufferCdb(std::uint32_t offset, std::uint32_t length)
{
    Cdb10 c{op::kReadBuffer, kReadBufferModeVendor, kBufferId};
    putBe24(c, 3, offset);
    putBe24(c, 6, length);
    c[9] = 0x00;
    return c;
}

Address addressOf(const DriveEntry& entry)
{
    return {entry.path, entry.target, entry.unit};
}

namespace {

RecordHeader header(Address address, std::span<const std::uint8_t> cdb, std::uint8_t dataIn,
                    std::uint32_t transferLength, std::uint32_t timeoutSeconds,
                    std::uint32_t dataField)
{
    assert(cdb.size() <= record::kCdbCapacity);
    RecordHeader h;
    h.length = record::kHeaderSize;
    h.pathId = address.path;
    h.targetId = address.target;
    h.lun = address.lun;
    h.cdbLength = static_cast<std::uint8_t>(cdb.size());
    h.senseInfoLength = record::kSenseLengthAsked;
    h.dataIn = dataIn;
    h.dataTransferLength = transferLength;
    h.timeOutValue = timeoutSeconds;
    h.dataBuffer = dataField;
    h.senseInfoOffset = record::kSenseBuffer;
    std::copy(cdb.begin(), cdb.end(), h.cdb.begin());
    return h;
}

} // namespace

void buildDirectRecord(DirectRecord& r, Address address, std::span<const std::uint8_t> cdb,
                       std::uint8_t dataIn, std::uint32_t transferLength, std::uint32_t timeoutSeconds)
{
    r.fill(0);
    encodeHeader(header(address, cdb, dataIn, transferLength, timeoutSeconds, kDirectDataBufferField), r);
}

void buildBufferedRecord(BufferedRecord& r, Address address, std::span<const std::uint8_t> cdb,
                         std::uint8_t dataIn, std::uint32_t transferLength,
                         std::uint32_t timeoutSeconds)
{
    r.fill(0);
    encodeHeader(header(address, cdb, dataIn, transferLength, timeoutSeconds, record::kDataArea), r);
}

void buildInquiryRecord(DirectRecord& r, Address address)
{
    buildDirectRecord(r, address, inquiryCdb(), record::kDataInToHost, kInquiryAllocation,
                      kShortTimeout);
}

void buildStartStopUnitRecord(BufferedRecord& r, Address address, std::uint8_t value)
{
    // DataIn 1 although nothing moves: the drive's driver has always been sent it so.
    buildBufferedRecord(r, address, startStopUnitCdb(value), record::kDataInToHost, 0,
                        kStartStopTimeout);
}

void buildTestUnitReadyRecord(BufferedRecord& r, Address address)
{
    buildBufferedRecord(r, address, testUnitReadyCdb(), record::kDataInToHost, 0, kShortTimeout);
}

void buildWriteBufferRecord(DirectRecord& r, Address address, std::uint32_t offset,
                            std::uint32_t length, std::uint8_t control)
{
    // A nonzero control byte is the closing request: no data, the longer time-out while
    // the drive saves the download.
    const bool data = control == 0;
    buildDirectRecord(r, address, writeBufferCdb(offset, length, control), record::kDataInToDevice,
                      data ? length : 0, data ? kShortTimeout : kClosingTimeout);
}

void buildReadBufferRecord(DirectRecord& r, Address address, std::uint32_t offset,
                           std::uint32_t length)
{
    buildDirectRecord(r, address, readBufferCdb(offset, length), record::kDataInToHost, length,
                      kShortTimeout);
}

} // namespace scsi

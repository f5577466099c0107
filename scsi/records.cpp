#include "records.h"

#include <algorithm>
#include <cassert>

namespace scsi {

void putLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value)
{
    assert(offset + 2 <= bytes.size());
    bytes[offset] = static_cast<std::uint8_t>(value);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value)
{
    assert(offset + 4 <= bytes.size());
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t getLe16(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    assert(offset + 2 <= bytes.size());
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t getLe32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    assert(offset + 4 <= bytes.size());
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

void encodeHeader(const RecordHeader& h, std::span<std::uint8_t> r)
{
    using namespace record;
    assert(r.size() >= kHeaderSize);
    putLe16(r, kLength, h.length);
    r[kScsiStatus] = h.scsiStatus;
    r[kPathId] = h.pathId;
    r[kTargetId] = h.targetId;
    r[kLun] = h.lun;
    r[kCdbLength] = h.cdbLength;
    r[kSenseInfoLength] = h.senseInfoLength;
    r[kDataIn] = h.dataIn;
    putLe32(r, kDataTransferLength, h.dataTransferLength);
    putLe32(r, kTimeOutValue, h.timeOutValue);
    putLe32(r, kDataBuffer, h.dataBuffer);
    putLe32(r, kSenseInfoOffset, h.senseInfoOffset);
    std::copy(h.cdb.begin(), h.cdb.end(), r.begin() + kCdb);
}

RecordHeader decodeHeader(std::span<const std::uint8_t> r)
{
    using namespace record;
    assert(r.size() >= kHeaderSize);
    RecordHeader h;
    h.length = getLe16(r, kLength);
    h.scsiStatus = r[kScsiStatus];
    h.pathId = r[kPathId];
    h.targetId = r[kTargetId];
    h.lun = r[kLun];
    h.cdbLength = r[kCdbLength];
    h.senseInfoLength = r[kSenseInfoLength];
    h.dataIn = r[kDataIn];
    h.dataTransferLength = getLe32(r, kDataTransferLength);
    h.timeOutValue = getLe32(r, kTimeOutValue);
    h.dataBuffer = getLe32(r, kDataBuffer);
    h.senseInfoOffset = getLe32(r, kSenseInfoOffset);
    std::copy_n(r.begin() + kCdb, kCdbCapacity, h.cdb.begin());
    return h;
}

} // namespace scsi

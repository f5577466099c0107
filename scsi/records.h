// The pass-through request records, byte for byte as the drive's driver stack expects
// them: a 44-byte header in its 32-bit little-endian layout, followed either by the
// sense buffer (the 80-byte direct record) or by the sense buffer and a 512-byte data
// area (the 592-byte buffered record). Records are plain bytes; fields are encoded and
// decoded one by one, never by copying a host struct.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace scsi {

// Control codes of the pass-through calls.
inline constexpr std::uint32_t kIoctlScsiPassThrough = 0x0004D004;
inline constexpr std::uint32_t kIoctlScsiPassThroughDirect = 0x0004D014;
inline constexpr std::uint32_t kIoctlScsiGetInquiryData = 0x0004100C;

namespace record {

inline constexpr std::size_t kHeaderSize = 44;
inline constexpr std::size_t kDirectSize = 80;
inline constexpr std::size_t kBufferedSize = 592;

// Field offsets in the header.
inline constexpr std::size_t kLength = 0;              // 2 bytes
inline constexpr std::size_t kScsiStatus = 2;          // 1
inline constexpr std::size_t kPathId = 3;              // 1
inline constexpr std::size_t kTargetId = 4;            // 1
inline constexpr std::size_t kLun = 5;                 // 1
inline constexpr std::size_t kCdbLength = 6;           // 1
inline constexpr std::size_t kSenseInfoLength = 7;     // 1
inline constexpr std::size_t kDataIn = 8;              // 1, then 3 bytes of padding
inline constexpr std::size_t kDataTransferLength = 12; // 4
inline constexpr std::size_t kTimeOutValue = 16;       // 4, seconds
inline constexpr std::size_t kDataBuffer = 20;         // 4: DataBufferOffset or DataBuffer
inline constexpr std::size_t kSenseInfoOffset = 24;    // 4
inline constexpr std::size_t kCdb = 28;                // 16
inline constexpr std::size_t kCdbCapacity = 16;

// Behind the header.
inline constexpr std::size_t kFiller = 44;             // 4
inline constexpr std::size_t kSenseBuffer = 48;        // 32
inline constexpr std::size_t kSenseBufferSize = 32;
inline constexpr std::size_t kDataArea = 80;           // 512, buffered record only
inline constexpr std::size_t kDataAreaSize = 512;

// What every request of this program asks for.
inline constexpr std::uint8_t kSenseLengthAsked = 24;

static_assert(kCdb + kCdbCapacity == kHeaderSize);
static_assert(kFiller + 4 == kSenseBuffer);
static_assert(kSenseBuffer + kSenseBufferSize == kDirectSize);
static_assert(kDataArea + kDataAreaSize == kBufferedSize);
static_assert(kTimeOutValue + 4 == kDataBuffer && kDataBuffer + 4 == kSenseInfoOffset);

inline constexpr std::uint8_t kDataInToHost = 1;   // data to the host (also used with no data)
inline constexpr std::uint8_t kDataInToDevice = 0; // data to the device

} // namespace record

using DirectRecord = std::array<std::uint8_t, record::kDirectSize>;
using BufferedRecord = std::array<std::uint8_t, record::kBufferedSize>;

// The header's fields, decoded.
struct RecordHeader {
    std::uint16_t length = 0;
    std::uint8_t scsiStatus = 0;
    std::uint8_t pathId = 0;
    std::uint8_t targetId = 0;
    std::uint8_t lun = 0;
    std::uint8_t cdbLength = 0;
    std::uint8_t senseInfoLength = 0;
    std::uint8_t dataIn = 0;
    std::uint32_t dataTransferLength = 0;
    std::uint32_t timeOutValue = 0;
    std::uint32_t dataBuffer = 0;
    std::uint32_t senseInfoOffset = 0;
    std::array<std::uint8_t, record::kCdbCapacity> cdb{};

    bool operator==(const RecordHeader&) const = default;
};

// The drive's SCSI address as a record carries it in PathId, TargetId and Lun: the
// caller's on the way in, the drive's own as the system reports it on the way back.
struct Address {
    std::uint8_t path = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;
    bool operator==(const Address&) const = default;
};

// Little-endian helpers over record bytes.
void putLe16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void putLe32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);
std::uint16_t getLe16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t getLe32(std::span<const std::uint8_t> bytes, std::size_t offset);

// Writes the header's fields into the first 44 bytes of a record (padding left as it is).
void encodeHeader(const RecordHeader& header, std::span<std::uint8_t> record);
RecordHeader decodeHeader(std::span<const std::uint8_t> record);

} // namespace scsi

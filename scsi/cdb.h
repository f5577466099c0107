// Command descriptor blocks of the requests this program sends, and the filling of the
// request record of each. Pure functions over bytes: the tests compare their output with
// literal byte arrays.
//
// Numbers inside a CDB are big-endian; the record's header fields are little-endian
// (records.h). On a 64-bit build the data block's address does not fit the direct
// record's 32-bit DataBuffer field, so that field is written as 0 and the data block
// travels beside the record (Device::passThrough's data argument).
#pragma once

#include "records.h"

#include <array>
#include <cstdint>
#include <span>

namespace scsi {

struct DriveEntry;

namespace op {
inline constexpr std::uint8_t kTestUnitReady = 0x00;
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kStartStopUnit = 0x1B;
inline constexpr std::uint8_t kWriteBuffer = 0x3B;
inline constexpr std::uint8_t kReadBuffer = 0x3C;
} // namespace op

inline constexpr std::uint8_t kWriteBufferModeDownloadSave = 0x05; // download microcode and save
inline constexpr std::uint8_t kReadBufferModeVendor = 0x01;        // vendor specific
inline constexpr std::uint8_t kBufferId = 0x01;
inline constexpr std::uint8_t kInquiryAllocation = 128;
// Time-outs in seconds.
inline constexpr std::uint32_t kShortTimeout = 3;
inline constexpr std::uint32_t kStartStopTimeout = 9;
inline constexpr std::uint32_t kClosingTimeout = 40;

inline constexpr std::uint32_t kMax24 = 0xFFFFFF; // largest offset or length a buffer CDB carries

// What the direct record's DataBuffer field holds: the data block's address does not fit
// 32 bits, so the field stays 0 and the block is handed beside the record.
inline constexpr std::uint32_t kDirectDataBufferField = 0;

using Cdb6 = std::array<std::uint8_t, 6>;
using Cdb10 = std::array<std::uint8_t, 10>;

void putBe24(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);
std::uint32_t getBe24(std::span<const std::uint8_t> bytes, std::size_t offset);

Cdb6 inquiryCdb();                          // 12 00 00 00 80 00
Cdb6 startStopUnitCdb(std::uint8_t value);  // 1B 00 00 00 value 00
Cdb6 testUnitReadyCdb();                    // 00 00 00 00 00 00
// 3B 05 01 O2 O1 O0 L2 L1 L0 control. The length field carries the length also when
// the control byte is nonzero and no data moves.
Cdb10 writeBufferCdb(std::uint32_t offset, std::uint32_t length, std::uint8_t control);
// 3C 01 01 O2 O1 O0 L2 L1 L0 00
Cdb10 readBufferCdb(std::uint32_t offset, std::uint32_t length);

// The address a request to the entry's drive carries.
Address addressOf(const DriveEntry& entry);

// How a record is handed to the device: control code, bytes in, bytes out.
struct RequestShape {
    std::uint32_t controlCode;
    std::uint32_t inputLength;
    std::uint32_t outputLength;
};
// The direct record goes in and comes back whole; of the buffered record only the
// header goes in, and the header with the sense buffer comes back.
inline constexpr RequestShape kDirectShape{kIoctlScsiPassThroughDirect, record::kDirectSize,
                                           record::kDirectSize};
inline constexpr RequestShape kBufferedShape{kIoctlScsiPassThrough, record::kHeaderSize,
                                             record::kDirectSize};

// Clear the whole record, then set Length 44, the address, CdbLength, SenseInfoLength 24,
// DataIn, DataTransferLength, TimeOutValue, the data field (buffered: 80, the data
// area's offset; direct: kDirectDataBufferField), SenseInfoOffset 48 and the CDB.
void buildDirectRecord(DirectRecord& record, Address address, std::span<const std::uint8_t> cdb,
                       std::uint8_t dataIn, std::uint32_t transferLength, std::uint32_t timeoutSeconds);
void buildBufferedRecord(BufferedRecord& record, Address address, std::span<const std::uint8_t> cdb,
                         std::uint8_t dataIn, std::uint32_t transferLength,
                         std::uint32_t timeoutSeconds);

// The records of the program's requests, every field as the drive expects it.
void buildInquiryRecord(DirectRecord& record, Address address);
void buildStartStopUnitRecord(BufferedRecord& record, Address address, std::uint8_t value);
void buildTestUnitReadyRecord(BufferedRecord& record, Address address);
void buildWriteBufferRecord(DirectRecord& record, Address address, std::uint32_t offset,
                            std::uint32_t length, std::uint8_t control);
void buildReadBufferRecord(DirectRecord& record, Address address, std::uint32_t offset,
                           std::uint32_t length);

} // namespace scsi

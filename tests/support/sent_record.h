// A request as the virtual drive received it, in the form the record builders give, so that
// a test compares it whole with the record the builder makes for the request it should have
// been: how it was handed over (control code, bytes in, bytes out) and the 44 bytes of its
// header, the CDB among them. The builders' own bytes are pinned by their golden tests; the
// tests that use this pin what the routines choose: request, address, offset, length,
// control byte, record kind. Header only, for the tests that link the scsi library.
#pragma once

#include "cdb.h"
#include "records.h"
#include "virtual_drive.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <span>

namespace testsupport {

struct SentRecord {
    std::uint32_t controlCode = 0;
    std::uint32_t inputLength = 0;
    std::uint32_t outputLength = 0;
    std::array<std::uint8_t, scsi::record::kHeaderSize> header{};
    bool operator==(const SentRecord&) const = default;
};

inline void PrintTo(const SentRecord& s, std::ostream* out)
{
    char text[12];
    std::snprintf(text, sizeof text, "%05X", s.controlCode);
    *out << "code " << text << " in " << s.inputLength << " out " << s.outputLength << " header";
    for (const std::uint8_t b : s.header) {
        std::snprintf(text, sizeof text, " %02X", b);
        *out << text;
    }
}

inline SentRecord asSent(const scsi::ReceivedRequest& rq)
{
    SentRecord s{rq.controlCode, rq.inputLength, rq.outputLength};
    scsi::encodeHeader(rq.header, s.header);
    return s;
}

inline SentRecord built(const scsi::RequestShape& shape, std::span<const std::uint8_t> record)
{
    SentRecord s{shape.controlCode, shape.inputLength, shape.outputLength};
    std::copy_n(record.begin(), s.header.size(), s.header.begin());
    return s;
}

inline SentRecord inquiryRecord(scsi::Address a)
{
    scsi::DirectRecord r;
    scsi::buildInquiryRecord(r, a);
    return built(scsi::kDirectShape, r);
}

inline SentRecord startStopUnitRecord(scsi::Address a, std::uint8_t value)
{
    scsi::BufferedRecord r;
    scsi::buildStartStopUnitRecord(r, a, value);
    return built(scsi::kBufferedShape, r);
}

inline SentRecord testUnitReadyRecord(scsi::Address a)
{
    scsi::BufferedRecord r;
    scsi::buildTestUnitReadyRecord(r, a);
    return built(scsi::kBufferedShape, r);
}

inline SentRecord writeBufferRecord(scsi::Address a, std::uint32_t offset, std::uint32_t length,
                                    std::uint8_t control)
{
    scsi::DirectRecord r;
    scsi::buildWriteBufferRecord(r, a, offset, length, control);
    return built(scsi::kDirectShape, r);
}

inline SentRecord readBufferRecord(scsi::Address a, std::uint32_t offset, std::uint32_t length)
{
    scsi::DirectRecord r;
    scsi::buildReadBufferRecord(r, a, offset, length);
    return built(scsi::kDirectShape, r);
}

} // namespace testsupport

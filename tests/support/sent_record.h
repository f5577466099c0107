// A request as the virtual drive received it, compared whole with the one a record builder
// makes: how it was handed over (control code, bytes in, bytes out) and the 44 bytes of its
// header, the CDB among them. The builders' bytes are pinned by their own golden tests; the
// tests that use this pin what the routines choose: the request, address, offset, length,
// control byte and kind of record. Header only, for the tests that link the scsi library.
#pragma once

#include "cdb.h"
#include "records.h"
#include "virtual_drive.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <type_traits>

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

// The request a record builder makes, handed over as its kind of record is: for example
// built(scsi::buildWriteBufferRecord, address, offset, length, control).
template <class Record, class... Args>
SentRecord built(void (*build)(Record&, scsi::Address, Args...), scsi::Address address,
                 std::type_identity_t<Args>... args)
{
    Record r;
    build(r, address, args...);
    const scsi::RequestShape& shape =
        std::is_same_v<Record, scsi::DirectRecord> ? scsi::kDirectShape : scsi::kBufferedShape;
    SentRecord s{shape.controlCode, shape.inputLength, shape.outputLength};
    std::copy_n(r.begin(), s.header.size(), s.header.begin());
    return s;
}

} // namespace testsupport

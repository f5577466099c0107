// The record <-> sg_io_hdr translation, both ways.
#include "sg_translation.h"

#include "records.h"
#include "sense_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <vector>

using namespace scsi;
using namespace scsi::sg;

namespace {

RecordHeader header(std::vector<std::uint8_t> cdb, std::uint8_t dataIn, std::uint32_t length,
                    std::uint32_t timeout)
{
    RecordHeader h;
    h.length = record::kHeaderSize;
    h.cdbLength = static_cast<std::uint8_t>(cdb.size());
    h.senseInfoLength = record::kSenseLengthAsked;
    h.dataIn = dataIn;
    h.dataTransferLength = length;
    h.timeOutValue = timeout;
    h.senseInfoOffset = record::kSenseBuffer;
    std::copy(cdb.begin(), cdb.end(), h.cdb.begin());
    return h;
}

DirectRecord direct(const RecordHeader& h)
{
    DirectRecord r{};
    encodeHeader(h, r);
    return r;
}

const std::vector<std::uint8_t> kInquiry = {0x12, 0, 0, 0, 0x80, 0};
const std::vector<std::uint8_t> kClosingWriteBuffer = {0x3B, 0x05, 0x01, 0x00, 0x00,
                                                       0x27, 0x00, 0x00, 0x01, 0x80};

std::vector<std::uint8_t> fixedSense(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                                     std::size_t length = 18)
{
    std::vector<std::uint8_t> s(std::max<std::size_t>(length, 18), 0);
    s[0] = 0x70;
    s[2] = key;
    s[7] = static_cast<std::uint8_t>(s.size() - 8);
    s[12] = asc;
    s[13] = ascq;
    s.resize(length);
    return s;
}

} // namespace

TEST(SgRequest, InquiryReadsIntoTheCallersBlock)
{
    DirectRecord r = direct(header(kInquiry, record::kDataInToHost, 128, 3));
    std::vector<std::uint8_t> block(128);
    const Translation t = translateRequest(kIoctlScsiPassThroughDirect, r, 80, 80, block);
    ASSERT_TRUE(t.ok()) << t.detail;
    EXPECT_EQ(t.request.direction, Direction::FromDevice);
    EXPECT_EQ(directionCode(t.request.direction), kDxferFromDev);
    EXPECT_EQ(t.request.cdbLength, 6);
    EXPECT_TRUE(std::equal(kInquiry.begin(), kInquiry.end(), t.request.cdb.begin()));
    EXPECT_EQ(t.request.timeoutMs, 3000u);
    EXPECT_EQ(t.request.dxferLength, 128u);
    EXPECT_EQ(t.request.maxSenseLength, 24);
    EXPECT_EQ(t.request.data.data(), block.data());
    EXPECT_EQ(t.request.data.size(), 128u);
}

TEST(SgRequest, DirectionFollowsDataInOnlyWhenDataMoves)
{
    // The closing WRITE BUFFER: DataIn 0 but no data, 40 s.
    DirectRecord closing = direct(header(kClosingWriteBuffer, record::kDataInToDevice, 0, 40));
    Translation t = translateRequest(kIoctlScsiPassThroughDirect, closing, 80, 80, {});
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(t.request.direction, Direction::None);
    EXPECT_EQ(directionCode(t.request.direction), kDxferNone);
    EXPECT_EQ(t.request.timeoutMs, 40000u);
    EXPECT_EQ(t.request.cdbLength, 10);
    EXPECT_EQ(t.request.cdb[9], 0x80);

    // TEST UNIT READY in the buffered record: DataIn 1 with length 0 moves nothing.
    BufferedRecord tur{};
    encodeHeader(header({0, 0, 0, 0, 0, 0}, record::kDataInToHost, 0, 3), tur);
    t = translateRequest(kIoctlScsiPassThrough, tur, 44, 80, {});
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(t.request.direction, Direction::None);
    EXPECT_EQ(t.request.dxferLength, 0u);

    // A WRITE BUFFER piece goes to the device.
    std::vector<std::uint8_t> piece(16384);
    DirectRecord write = direct(header({0x3B, 5, 1, 0, 0, 0, 0, 0x40, 0, 0},
                                       record::kDataInToDevice, 16384, 3));
    t = translateRequest(kIoctlScsiPassThroughDirect, write, 80, 80, piece);
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(directionCode(t.request.direction), kDxferToDev);
    EXPECT_EQ(t.request.dxferLength, 16384u);
}

TEST(SgRequest, BufferedRecordCarriesItsOwnDataArea)
{
    BufferedRecord r{};
    RecordHeader h = header(kInquiry, record::kDataInToHost, 36, 3);
    h.dataBuffer = record::kDataArea;
    encodeHeader(h, r);
    Translation t = translateRequest(kIoctlScsiPassThrough, r, 44, 80, {});
    ASSERT_TRUE(t.ok()) << t.detail;
    EXPECT_EQ(t.request.data.data(), r.data() + record::kDataArea);

    h.dataTransferLength = 600; // past the end of the record
    encodeHeader(h, r);
    t = translateRequest(kIoctlScsiPassThrough, r, 44, 80, {});
    EXPECT_EQ(t.error, EINVAL);
}

TEST(SgRequest, RefusesWhatCouldRunPastABuffer)
{
    std::vector<std::uint8_t> small(100);
    DirectRecord r = direct(header(kInquiry, record::kDataInToHost, 128, 3));
    EXPECT_EQ(translateRequest(kIoctlScsiPassThroughDirect, r, 80, 80, small).error, EINVAL);

    RecordHeader h = header(kInquiry, record::kDataInToHost, 0, 3);
    h.cdbLength = 17;
    r = direct(h);
    EXPECT_EQ(translateRequest(kIoctlScsiPassThroughDirect, r, 80, 80, {}).error, EINVAL);
    h.cdbLength = 0;
    r = direct(h);
    EXPECT_EQ(translateRequest(kIoctlScsiPassThroughDirect, r, 80, 80, {}).error, EINVAL);

    h = header(kInquiry, record::kDataInToHost, 0, 3);
    h.senseInfoOffset = 70; // 24 bytes from 70 run past the 80 handed back
    r = direct(h);
    EXPECT_EQ(translateRequest(kIoctlScsiPassThroughDirect, r, 80, 80, {}).error, EINVAL);

    h = header(kInquiry, record::kDataInToHost, 0, 3);
    h.senseInfoLength = 0;
    r = direct(h);
    // Less handed back than the header, which the completion writes.
    EXPECT_EQ(translateRequest(kIoctlScsiPassThroughDirect, r, 80, 43, {}).error, EINVAL);

    h = header(kInquiry, 2, 16, 3); // neither in nor out
    r = direct(h);
    std::vector<std::uint8_t> block(16);
    EXPECT_EQ(translateRequest(kIoctlScsiPassThroughDirect, r, 80, 80, block).error, EINVAL);

    r = direct(header(kInquiry, record::kDataInToHost, 0, 3));
    EXPECT_EQ(translateRequest(kIoctlScsiGetInquiryData, r, 80, 80, {}).error, EINVAL);
    EXPECT_EQ(translateRequest(kIoctlScsiPassThroughDirect, r, 80, 81, {}).error, EINVAL);
}

TEST(SgRequest, HugeTimeOutStopsShortOfNoTimeOut)
{
    DirectRecord r = direct(header(kInquiry, record::kDataInToHost, 0, 0xFFFFFFFFu));
    const Translation t = translateRequest(kIoctlScsiPassThroughDirect, r, 80, 80, {});
    ASSERT_TRUE(t.ok());
    EXPECT_EQ(t.request.timeoutMs, 0xFFFFFFFEu);
}

class SgCompletion : public ::testing::Test {
protected:
    void prepare(std::uint32_t length, std::uint8_t dataIn = record::kDataInToHost)
    {
        RecordHeader h = header(kInquiry, dataIn, length, 3);
        h.pathId = 9; // what the caller put there; the system's address replaces it
        h.targetId = 9;
        h.lun = 9;
        rec = direct(h);
        block.assign(length, 0);
        Translation t = translateRequest(kIoctlScsiPassThroughDirect, rec, 80, 80, block);
        ASSERT_TRUE(t.ok());
        request = t.request;
    }
    CallResult complete(const Completion& c, const std::vector<std::uint8_t>& sense = {})
    {
        return translateCompletion(request, c, sense, Address{1, 2, 3}, rec);
    }
    Completion checkCondition(std::uint8_t senseLength)
    {
        Completion c;
        c.info = 1;
        c.status = 0x02;
        c.maskedStatus = 0x01;
        c.driverStatus = driver::kSense;
        c.senseLengthWritten = senseLength;
        return c;
    }

    DirectRecord rec{};
    std::vector<std::uint8_t> block;
    Request request;
};

TEST_F(SgCompletion, GoodWritesStatusAndAddress)
{
    prepare(128);
    rec[record::kScsiStatus] = 0x55;
    const CallResult r = complete(Completion{});
    EXPECT_EQ(r.outcome, Outcome::Good);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(r.dataTransferred, 128u);
    EXPECT_EQ(r.bytesReturned, 80u);
    EXPECT_EQ(rec[record::kScsiStatus], 0);
    EXPECT_EQ(rec[record::kSenseInfoLength], 0);
    EXPECT_EQ(rec[record::kPathId], 1);
    EXPECT_EQ(rec[record::kTargetId], 2);
    EXPECT_EQ(rec[record::kLun], 3);
}

TEST_F(SgCompletion, ResidualCountsReduceWhatMoved)
{
    prepare(128);
    Completion c;
    c.resid = 92; // a drive that answers 36 bytes of INQUIRY
    EXPECT_EQ(complete(c).dataTransferred, 36u);
    c.resid = 500; // more than was asked: nothing moved, not a wrap-around
    EXPECT_EQ(complete(c).dataTransferred, 0u);
    c.resid = -4; // a negative residual never makes more than was asked
    EXPECT_EQ(complete(c).dataTransferred, 128u);
}

TEST_F(SgCompletion, CheckConditionCopiesSenseIntoTheRecord)
{
    prepare(0);
    const auto sense = fixedSense(0x05, 0x24, 0x00);
    const CallResult r = complete(checkCondition(18), sense);
    EXPECT_EQ(r.outcome, Outcome::Sense);
    EXPECT_TRUE(r.callSucceeded());
    EXPECT_EQ(rec[record::kScsiStatus], 0x02);
    EXPECT_EQ(rec[record::kSenseInfoLength], 18);
    EXPECT_EQ(rec[50], 0x05);
    EXPECT_EQ(rec[60], 0x24);
    EXPECT_EQ(rec[61], 0x00);
    EXPECT_EQ(rec[record::kSenseBuffer], 0x70);
    EXPECT_EQ(rec[record::kSenseBuffer + 18], 0); // nothing past what came back
}

TEST_F(SgCompletion, SenseLongerThanAskedIsCutAt24)
{
    prepare(0);
    auto sense = fixedSense(0x02, 0x3A, 0x00, 32);
    for (std::size_t i = 18; i < 32; ++i)
        sense[i] = 0xEE;
    const CallResult r = complete(checkCondition(32), sense);
    EXPECT_EQ(r.outcome, Outcome::Sense);
    EXPECT_EQ(rec[record::kSenseInfoLength], 24);
    EXPECT_EQ(rec[record::kSenseBuffer + 23], 0xEE);
    for (std::size_t i = record::kSenseBuffer + 24; i < record::kDirectSize; ++i)
        EXPECT_EQ(rec[i], 0) << "record byte " << i;
}

TEST_F(SgCompletion, SenseLengthNeverExceedsWhatTheKernelHandedOver)
{
    prepare(0);
    const auto sense = fixedSense(0x05, 0x20, 0x00, 8);
    // sb_len_wr claims 18 but only 8 bytes exist.
    complete(checkCondition(18), sense);
    EXPECT_EQ(rec[record::kSenseInfoLength], 8);
}

// A drive that answers in descriptor format: the record gets the fixed format the program
// reads, so "medium not present" and the sense report see the right bytes.
TEST_F(SgCompletion, DescriptorSenseIsWrittenBackInFixedFormat)
{
    using Bytes = std::vector<std::uint8_t>;
    const auto senseInRecord = [this] {
        return Bytes(rec.begin() + record::kSenseBuffer, rec.begin() + record::kSenseBuffer + rec[record::kSenseInfoLength]);
    };
    prepare(0);
    EXPECT_EQ(complete(checkCondition(8), {0x72, 0x02, 0x3A, 0x00, 0, 0, 0, 0}).outcome, Outcome::Sense);
    EXPECT_EQ(senseInRecord(), (Bytes{0x70, 0, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x3A, 0x00, 0, 0, 0, 0}));

    // Deferred, with a valid information field and a field-replaceable unit.
    complete(checkCondition(24), {0x73, 0x03, 0x11, 0x05, 0, 0, 0, 16,
                                  0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78,
                                  0x03, 0x02, 0, 0x9C});
    EXPECT_EQ(senseInRecord(), (Bytes{0xF1, 0, 0x03, 0x12, 0x34, 0x56, 0x78, 0x0A, 0, 0, 0, 0, 0x11, 0x05, 0x9C, 0, 0, 0}));

    // Sense-key specific bytes and the block commands' incorrect-length flag; an information
    // field too wide for the fixed format is left out, not cut.
    complete(checkCondition(24), {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 16,
                                  0x02, 0x06, 0, 0, 0xC0, 0x00, 0x05, 0,
                                  0x05, 0x02, 0, 0x20, 0x00, 0x0A, 0x80, 0});
    EXPECT_EQ(senseInRecord(), (Bytes{0x70, 0, 0x25, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x24, 0x00, 0, 0xC0, 0x00, 0x05}));
    complete(checkCondition(20), {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 12,
                                  0x00, 0x0A, 0x80, 0, 0, 0, 0, 1, 0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(rec[record::kSenseBuffer], 0x70);
    EXPECT_EQ(rec[record::kSenseBuffer + 3], 0);

    // A descriptor running past the bytes handed over is dropped; the header still counts.
    complete(checkCondition(11), {0x72, 0x02, 0x04, 0x01, 0, 0, 0, 12, 0x03, 0x02, 0, 0x9C});
    EXPECT_EQ(senseInRecord(), (Bytes{0x70, 0, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x04, 0x01, 0, 0, 0, 0}));

    // VALID clear, command-specific information, the stream flags (the report shows them)
    // and a descriptor past the additional length, which does not count.
    complete(checkCondition(40), {0x72, 0x00, 0x00, 0x01, 0, 0, 0, 28,
                                  0x00, 0x0A, 0x00, 0, 0, 0, 0, 0, 0x00, 0x00, 0x01, 0x00,
                                  0x01, 0x0A, 0, 0, 0, 0, 0, 0, 0xCA, 0xFE, 0xBE, 0xEF,
                                  0x04, 0x02, 0, 0xA0, 0x03, 0x02, 0, 0x9C});
    EXPECT_EQ(senseInRecord(), (Bytes{0x70, 0, 0xA0, 0, 0, 0x01, 0, 0x0A, 0xCA, 0xFE, 0xBE, 0xEF, 0x00, 0x01, 0, 0, 0, 0}));
    EXPECT_EQ(directSenseText(rec), "Scsi status: 02h, SensCode: A0 00 01");
}

TEST_F(SgCompletion, StatusWithoutSense)
{
    prepare(0);
    Completion c = checkCondition(0);
    c.driverStatus = 0;
    const CallResult r = complete(c);
    EXPECT_EQ(r.outcome, Outcome::Status);
    EXPECT_EQ(rec[record::kScsiStatus], 0x02);
    EXPECT_EQ(rec[record::kSenseInfoLength], 0);

    c.status = 0x08; // BUSY
    c.maskedStatus = 0x04;
    EXPECT_EQ(complete(c).outcome, Outcome::Status);
    EXPECT_EQ(rec[record::kScsiStatus], 0x08);
}

TEST_F(SgCompletion, DriverSenseAloneIsClean)
{
    prepare(0);
    // GOOD with sense data (a recovered error): still GOOD.
    Completion c;
    c.info = 1;
    c.driverStatus = driver::kSense;
    c.senseLengthWritten = 18;
    const auto sense = fixedSense(0x01, 0x17, 0x01);
    CallResult r = complete(c, sense);
    EXPECT_EQ(r.outcome, Outcome::Good);
    EXPECT_EQ(rec[record::kSenseInfoLength], 18);

    // The old suggest bits beside DRIVER_SENSE change nothing.
    c = checkCondition(18);
    c.driverStatus = 0x10 | driver::kSense;
    r = complete(c, sense);
    EXPECT_EQ(r.outcome, Outcome::Sense);
}

TEST_F(SgCompletion, HostErrorsAreTransportFailuresNeverGood)
{
    struct Case {
        std::uint16_t host;
        int error;
    };
    for (const Case k : {Case{host::kTimeOut, ETIMEDOUT}, Case{host::kNoConnect, ENODEV},
                         Case{host::kBadTarget, ENODEV}, Case{host::kError, EIO},
                         Case{host::kAbort, EIO}, Case{host::kReset, EIO},
                         Case{host::kBusBusy, EBUSY}, Case{host::kTransportDisrupted, EIO}}) {
        prepare(16384, record::kDataInToDevice);
        Completion c; // status 0 and info OK: only the host status tells
        c.hostStatus = k.host;
        c.resid = 16384;
        const CallResult r = complete(c);
        EXPECT_EQ(r.outcome, Outcome::Transport) << "host " << k.host;
        EXPECT_EQ(r.error, k.error) << "host " << k.host;
        EXPECT_FALSE(r.callSucceeded());
        EXPECT_EQ(r.dataTransferred, 0u);
        EXPECT_EQ(rec[record::kPathId], 9) << "a failed call leaves the record as it was";
    }
    prepare(0);
    Completion c;
    c.hostStatus = host::kTimeOut;
    EXPECT_EQ(complete(c).detail, "timed out (host status 0x03)");
    c.hostStatus = host::kError;
    EXPECT_EQ(complete(c).detail, "host status 0x07");
}

TEST_F(SgCompletion, HostErrorWinsOverACheckCondition)
{
    prepare(0);
    Completion c = checkCondition(18);
    c.hostStatus = host::kError;
    const CallResult r = complete(c, fixedSense(5, 0x20, 0));
    EXPECT_EQ(r.outcome, Outcome::Transport);
    EXPECT_EQ(rec[record::kScsiStatus], 0);
    EXPECT_EQ(rec[record::kSenseInfoLength], 24) << "the asked length stays untouched";
}

TEST_F(SgCompletion, DriverErrorsAreTransportFailures)
{
    prepare(0);
    Completion c;
    c.info = 1;
    c.driverStatus = driver::kTimeout;
    CallResult r = complete(c);
    EXPECT_EQ(r.outcome, Outcome::Transport);
    EXPECT_EQ(r.error, ETIMEDOUT);
    EXPECT_EQ(r.detail, "timed out (driver status 0x06)");

    c.driverStatus = driver::kError;
    r = complete(c);
    EXPECT_EQ(r.outcome, Outcome::Transport);
    EXPECT_EQ(r.error, EIO);

    c.driverStatus = driver::kError | driver::kSense; // 0x0c: an error, not sense
    EXPECT_EQ(complete(c).outcome, Outcome::Transport);
}

TEST_F(SgCompletion, IoctlErrnoIsTheCallsError)
{
    prepare(0);
    Completion c;
    c.ioctlResult = -1;
    c.ioctlErrno = EPERM; // refused before anything was sent
    CallResult r = complete(c);
    EXPECT_EQ(r.outcome, Outcome::OsError);
    EXPECT_EQ(r.error, EPERM);

    c.ioctlErrno = ETIMEDOUT;
    r = complete(c);
    EXPECT_EQ(r.outcome, Outcome::Transport);
    EXPECT_EQ(r.error, ETIMEDOUT);

    c.ioctlErrno = ENODEV; // the drive went away
    EXPECT_EQ(complete(c).outcome, Outcome::Transport);

    c.ioctlErrno = 0; // a failure without errno still carries a code
    r = complete(c);
    EXPECT_FALSE(r.callSucceeded());
    EXPECT_NE(r.error, 0);
    EXPECT_EQ(rec[record::kPathId], 9);
}

TEST_F(SgCompletion, InfoNotOkWithNothingToShowIsNotGood)
{
    prepare(0);
    Completion c;
    c.info = 1; // SG_INFO_CHECK, yet status, host and driver are all clean
    const CallResult r = complete(c);
    EXPECT_EQ(r.outcome, Outcome::Transport);
    EXPECT_EQ(r.error, EIO);
    EXPECT_FALSE(r.callSucceeded());

    c.info = 0x2; // SG_INFO_DIRECT_IO only: still OK
    EXPECT_EQ(complete(c).outcome, Outcome::Good);
}

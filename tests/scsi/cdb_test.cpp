// The CDBs and records against byte arrays copied from the drive's request table.
#include "cdb.h"
#include "drive_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace scsi {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <std::size_t N>
Bytes bytes(const std::array<std::uint8_t, N>& a)
{
    return Bytes(a.begin(), a.end());
}

// The first 44 bytes of a record as literal bytes, the fields laid out little-endian.
Bytes expectedHeader(std::uint8_t path, std::uint8_t target, std::uint8_t lun, Bytes cdb,
                     std::uint8_t dataIn, std::uint32_t length, std::uint32_t timeout,
                     std::uint32_t dataField)
{
    Bytes h(44, 0);
    h[0] = 44;
    h[3] = path;
    h[4] = target;
    h[5] = lun;
    h[6] = static_cast<std::uint8_t>(cdb.size());
    h[7] = 24;
    h[8] = dataIn;
    for (int i = 0; i < 4; ++i) {
        h[12 + i] = static_cast<std::uint8_t>(length >> (8 * i));
        h[16 + i] = static_cast<std::uint8_t>(timeout >> (8 * i));
        h[20 + i] = static_cast<std::uint8_t>(dataField >> (8 * i));
    }
    h[24] = 48;
    std::copy(cdb.begin(), cdb.end(), h.begin() + 28);
    return h;
}

TEST(Cdb, EveryCommandByteForByte)
{
    EXPECT_EQ(bytes(inquiryCdb()), (Bytes{0x12, 0x00, 0x00, 0x00, 0x80, 0x00}));
    EXPECT_EQ(bytes(testUnitReadyCdb()), (Bytes{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(bytes(startStopUnitCdb(3)), (Bytes{0x1B, 0x00, 0x00, 0x00, 0x03, 0x00}));
    EXPECT_EQ(bytes(startStopUnitCdb(0)), (Bytes{0x1B, 0x00, 0x00, 0x00, 0x00, 0x00}));
    // First, third and last image piece, the closing request, the first and second
    // read-back pieces.
    EXPECT_EQ(bytes(writeBufferCdb(0, 16384, 0)),
              (Bytes{0x3B, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00}));
    EXPECT_EQ(bytes(writeBufferCdb(2 * 16384, 16384, 0)),
              (Bytes{0x3B, 0x05, 0x01, 0x00, 0x80, 0x00, 0x00, 0x40, 0x00, 0x00}));
    EXPECT_EQ(bytes(writeBufferCdb(15 * 16384, 16384, 0)),
              (Bytes{0x3B, 0x05, 0x01, 0x03, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00}));
    EXPECT_EQ(bytes(writeBufferCdb(39, 1, 0x80)),
              (Bytes{0x3B, 0x05, 0x01, 0x00, 0x00, 0x27, 0x00, 0x00, 0x01, 0x80}));
    EXPECT_EQ(bytes(readBufferCdb(0, 16384)),
              (Bytes{0x3C, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00}));
    EXPECT_EQ(bytes(readBufferCdb(16384, 16384)),
              (Bytes{0x3C, 0x01, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00}));
    // All three bytes of the 24-bit fields are used, most significant first.
    EXPECT_EQ(bytes(readBufferCdb(0x123456, 0xABCDEF)),
              (Bytes{0x3C, 0x01, 0x01, 0x12, 0x34, 0x56, 0xAB, 0xCD, 0xEF, 0x00}));
}

TEST(Cdb, Be24RoundTrip)
{
    std::array<std::uint8_t, 5> b{};
    putBe24(b, 1, 0xFEDCBA);
    EXPECT_EQ(bytes(b), (Bytes{0x00, 0xFE, 0xDC, 0xBA, 0x00}));
    EXPECT_EQ(getBe24(b, 1), 0xFEDCBAu);
}

TEST(Records, InquiryIsADirectRecordOf128BytesIn)
{
    DirectRecord r;
    r.fill(0xEE); // whatever a previous request left must be cleared
    buildInquiryRecord(r, {1, 2, 3});
    Bytes expected = expectedHeader(1, 2, 3, {0x12, 0, 0, 0, 0x80, 0}, 1, 128, 3, 0);
    expected.resize(80, 0);
    EXPECT_EQ(bytes(r), expected);
    EXPECT_EQ(kDirectShape.controlCode, 0x4D014u);
    EXPECT_EQ(kDirectShape.inputLength, 80u);
    EXPECT_EQ(kDirectShape.outputLength, 80u);
}

TEST(Records, StartStopUnitAndTestUnitReadyAreBufferedRecordsSentWith44)
{
    BufferedRecord r;
    r.fill(0xEE);
    buildStartStopUnitRecord(r, {0, 1, 0}, 3);
    Bytes expected = expectedHeader(0, 1, 0, {0x1B, 0, 0, 0, 0x03, 0}, 1, 0, 9, 80);
    expected.resize(592, 0);
    EXPECT_EQ(bytes(r), expected);

    buildStartStopUnitRecord(r, {0, 1, 0}, 0);
    expected = expectedHeader(0, 1, 0, {0x1B, 0, 0, 0, 0x00, 0}, 1, 0, 9, 80);
    expected.resize(592, 0);
    EXPECT_EQ(bytes(r), expected);

    r.fill(0xEE);
    buildTestUnitReadyRecord(r, {1, 0, 0});
    expected = expectedHeader(1, 0, 0, {0, 0, 0, 0, 0, 0}, 1, 0, 3, 80);
    expected.resize(592, 0);
    EXPECT_EQ(bytes(r), expected);

    EXPECT_EQ(kBufferedShape.controlCode, 0x4D004u);
    EXPECT_EQ(kBufferedShape.inputLength, 44u);
    EXPECT_EQ(kBufferedShape.outputLength, 80u);
}

TEST(Records, WriteBufferPieceAndClosingRequest)
{
    DirectRecord r;
    buildWriteBufferRecord(r, {0, 0, 0}, 15 * 16384, 16384, 0);
    Bytes expected = expectedHeader(0, 0, 0, {0x3B, 0x05, 0x01, 0x03, 0xC0, 0x00, 0x00, 0x40, 0x00, 0x00},
                                    0, 16384, 3, kDirectDataBufferField);
    expected.resize(80, 0);
    EXPECT_EQ(bytes(r), expected);

    // The closing request: no data, the length field still says 1, 40 seconds.
    r.fill(0xEE);
    buildWriteBufferRecord(r, {0, 0, 0}, 39, 1, 0x80);
    expected = expectedHeader(0, 0, 0, {0x3B, 0x05, 0x01, 0x00, 0x00, 0x27, 0x00, 0x00, 0x01, 0x80},
                              0, 0, 40, kDirectDataBufferField);
    expected.resize(80, 0);
    EXPECT_EQ(bytes(r), expected);
    const RecordHeader h = decodeHeader(r);
    EXPECT_EQ(h.dataTransferLength, 0u);
    EXPECT_EQ(h.dataIn, 0);
    EXPECT_EQ(h.timeOutValue, 40u);
}

TEST(Records, ReadBufferSecondPiece)
{
    DirectRecord r;
    buildReadBufferRecord(r, {1, 1, 0}, 16384, 16384);
    Bytes expected = expectedHeader(1, 1, 0, {0x3C, 0x01, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00},
                                    1, 16384, 3, kDirectDataBufferField);
    expected.resize(80, 0);
    EXPECT_EQ(bytes(r), expected);
}

TEST(Records, AddressComesFromTheEntry)
{
    DriveEntry e;
    e.path = 2;
    e.target = 5;
    e.unit = 7;
    EXPECT_EQ(addressOf(e), (Address{2, 5, 7}));
}

} // namespace
} // namespace scsi

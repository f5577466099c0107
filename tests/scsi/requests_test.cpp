// The request routines against a virtual drive: what the drive received, what the routine
// answered, what the user saw.
#include "requests.h"
#include "virtual_drive.h"

#include "scripted_ui.h"
#include "sent_record.h"

#include <gtest/gtest.h>

#include <numeric>

namespace scsi {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;
using namespace testsupport;

constexpr std::uint8_t kTur = 0x00;
constexpr std::uint8_t kRb = 0x3C;
constexpr Address kAt{1, 0, 0}; // the rig's entry

struct Rig {
    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::ProgressModel progress;
    DeviceAccess access;
    std::shared_ptr<VirtualDrive> drive = std::make_shared<VirtualDrive>();
    Requests requests{access, progress, dialogs};
    DriveEntry entry;
    Bytes block = Bytes(16384, 0);

    Rig()
    {
        drive->config().path = 1;
        access.device = drive->open(OpenMode::Exclusive).device;
        entry.letter = 'E';
        entry.path = 1;
        progress.setMin(0);
        progress.setMax(262144);
        progress.setStep(16384);
        progress.setPosition(0);
    }

    // The i-th image piece: bytes that differ from piece to piece and from the drive's
    // erased buffer.
    Bytes piece(int i) const
    {
        Bytes b(16384);
        for (std::size_t k = 0; k < b.size(); ++k)
            b[k] = static_cast<std::uint8_t>(k * 7 + i * 13 + 1);
        return b;
    }

    void toClosingPosition()
    {
        progress.setPosition(0);
        progress.setMin(0);
        progress.setMax(40);
        progress.setStep(1);
        progress.setPosition(38);
        progress.stepIt();
    }
};

TEST(StartStopUnit, SendsValueInByte4AndJudgesOnlyTheCall)
{
    Rig rig;
    EXPECT_TRUE(rig.requests.StartStopUnit(rig.entry, 3));
    EXPECT_TRUE(rig.requests.StartStopUnit(rig.entry, 0));
    ASSERT_EQ(rig.drive->requests().size(), 2u);
    EXPECT_EQ(asSent(rig.drive->requests()[0]), built(buildStartStopUnitRecord, kAt, 3));
    EXPECT_EQ(asSent(rig.drive->requests()[1]), built(buildStartStopUnitRecord, kAt, 0));
    EXPECT_EQ(rig.access.requestLength, 80u);
    EXPECT_TRUE(rig.access.lastRequestSucceeded);

    // A CHECK CONDITION is still a call that succeeded; a refused call is not.
    rig.drive->addFault(Fault::checkCondition(3, {0x05, 0x24, 0x00}));
    rig.drive->addFault(Fault::refused(4, 1));
    EXPECT_TRUE(rig.requests.StartStopUnit(rig.entry, 3));
    EXPECT_FALSE(rig.requests.StartStopUnit(rig.entry, 0));
    EXPECT_FALSE(rig.access.lastRequestSucceeded);
    EXPECT_EQ(rig.access.lastError, 1);
    EXPECT_TRUE(rig.log.lines().empty());
}

TEST(WriteBuffer, PieceGoesToTheDriveAtPositionWithLengthStep)
{
    Rig rig;
    rig.progress.setPosition(2 * 16384);
    Bytes data = rig.piece(2);
    rig.block = data;
    EXPECT_TRUE(rig.requests.WriteBuffer(rig.entry, rig.block, 0));

    ASSERT_EQ(rig.drive->requests().size(), 1u);
    const ReceivedRequest& rq = rig.drive->requests()[0];
    EXPECT_EQ(asSent(rq), built(buildWriteBufferRecord, kAt, 2 * 16384, 16384, 0));
    EXPECT_EQ(rq.dataOut, data);
    const Bytes& buffer = rig.drive->downloadBuffer();
    ASSERT_GE(buffer.size(), 3u * 16384u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.begin() + 2 * 16384));
    EXPECT_EQ(buffer[2 * 16384 - 1], 0xFF); // nothing written before the piece
    EXPECT_TRUE(rig.log.lines().empty());
}

TEST(WriteBuffer, ClosingRequestCarriesNoDataAndSavesTheDownload)
{
    Rig rig;
    rig.toClosingPosition();
    ASSERT_EQ(rig.progress.position(), 39);
    EXPECT_TRUE(rig.requests.WriteBuffer(rig.entry, rig.block, 0x80));
    const ReceivedRequest& rq = rig.drive->requests().at(0);
    EXPECT_EQ(asSent(rq), built(buildWriteBufferRecord, kAt, 39, 1, 0x80));
    EXPECT_EQ(rq.dataLength, 0u);
    EXPECT_EQ(rig.drive->firmwareSaves(), 1);
}

TEST(WriteBuffer, CheckConditionShowsTheSenseReport)
{
    Rig rig;
    rig.drive->addFault(Fault::checkCondition(1, {0x05, 0x24, 0x00}));
    Fault noSense = Fault::checkCondition(2, {});
    noSense.withSense = false;
    rig.drive->addFault(noSense);
    rig.drive->addFault(Fault::checkCondition(3, {0x85, 0x24, 0x00}));
    EXPECT_FALSE(rig.requests.WriteBuffer(rig.entry, rig.block, 0));
    EXPECT_FALSE(rig.requests.WriteBuffer(rig.entry, rig.block, 0));
    EXPECT_FALSE(rig.requests.WriteBuffer(rig.entry, rig.block, 0x80));
    EXPECT_EQ(rig.log.lines(), (Lines{"message: Scsi status: 02h, SensCode: 05 24 00",
                                      "message: Scsi status: 02h",
                                      "message: Scsi status: 02h, SensCode: 85 24 00"}));
    EXPECT_EQ(rig.requests.directRecord()[7], 18); // sense count as returned
    EXPECT_EQ(rig.drive->firmwareSaves(), 0);
}

// A call that never reached the drive leaves the status byte 0; it must not pass for GOOD.
TEST(BufferRequests, FailedCallsAreFailuresWithTheirErrorCode)
{
    Rig rig;
    rig.drive->addFault(Fault::refused(1, 1));        // EPERM: no right to send it
    rig.drive->addFault(Fault::timeOut(2));
    rig.drive->addFault(Fault::refused(3, 5));        // EIO on the read
    EXPECT_FALSE(rig.requests.WriteBuffer(rig.entry, rig.block, 0));
    EXPECT_EQ(rig.requests.lastCall().outcome, Outcome::OsError);
    EXPECT_FALSE(rig.requests.WriteBuffer(rig.entry, rig.block, 0x80));
    EXPECT_EQ(rig.requests.lastCall().outcome, Outcome::Transport);
    EXPECT_EQ(rig.requests.lastCall().error, 110);
    EXPECT_FALSE(rig.requests.ReadBuffer(rig.entry, rig.block));
    EXPECT_EQ(rig.log.lines(), (Lines{"message: Error sending SCSI command; error was 1",
                                      "message: Error sending SCSI command; error was 110",
                                      "message: Error sending SCSI command; error was 5"}));
    EXPECT_FALSE(rig.access.lastRequestSucceeded);
    EXPECT_EQ(rig.access.lastError, 5);
    EXPECT_EQ(rig.drive->firmwareSaves(), 0);
}

TEST(BufferRequests, NoOpenDriveIsARefusedCall)
{
    Rig rig;
    rig.access.device.reset();
    EXPECT_FALSE(rig.requests.WriteBuffer(rig.entry, rig.block, 0));
    EXPECT_FALSE(rig.requests.ReadBuffer(rig.entry, rig.block));
    EXPECT_FALSE(rig.requests.StartStopUnit(rig.entry, 3));
    EXPECT_FALSE(rig.requests.XCommand(rig.entry, 0));
    EXPECT_EQ(rig.requests.lastCall().error, kNoDeviceError);
    EXPECT_EQ(rig.log.lines(), (Lines{"message: Error sending SCSI command; error was 9",
                                      "message: Error sending SCSI command; error was 9",
                                      "message: Error sending SCSI command; error was 9"}));
}

TEST(BufferRequests, OutOfRangeWindowSendsNothing)
{
    Rig rig;
    Bytes small(100);
    EXPECT_FALSE(rig.requests.WriteBuffer(rig.entry, small, 0)); // Step 16384 > 100 bytes
    EXPECT_FALSE(rig.requests.ReadBuffer(rig.entry, small));
    rig.progress.setMax(0x2000000);
    rig.progress.setPosition(0x1000000); // does not fit 24 bits
    EXPECT_FALSE(rig.requests.WriteBuffer(rig.entry, rig.block, 0x80));
    EXPECT_TRUE(rig.drive->requests().empty());
    EXPECT_EQ(rig.log.lines().size(), 3u);
    EXPECT_EQ(rig.log.lines()[0], "message: Error sending SCSI command; error was 22");
    // The closing request needs no data block at all.
    rig.toClosingPosition();
    EXPECT_TRUE(rig.requests.WriteBuffer(rig.entry, {}, 0x80));
}

TEST(ReadBuffer, ReadsStepBytesAtPosition)
{
    Rig rig;
    rig.progress.setPosition(16384);
    rig.block = rig.piece(1);
    ASSERT_TRUE(rig.requests.WriteBuffer(rig.entry, rig.block, 0));
    std::fill(rig.block.begin(), rig.block.end(), 0);
    EXPECT_TRUE(rig.requests.ReadBuffer(rig.entry, rig.block));
    EXPECT_EQ(rig.block, rig.piece(1));
    const ReceivedRequest& rq = rig.drive->requests().at(1);
    EXPECT_EQ(asSent(rq), built(buildReadBufferRecord, kAt, 16384, 16384));
    EXPECT_EQ(rq.dataLength, 16384u);
}

TEST(ReadBuffer, ShortReadIsAFailure)
{
    Rig rig;
    rig.drive->addFault(Fault::shortRead(1, 1, kRb));
    EXPECT_FALSE(rig.requests.ReadBuffer(rig.entry, rig.block));
    EXPECT_EQ(rig.requests.lastCall().dataTransferred, 16383u);
    EXPECT_EQ(rig.log.lines(), (Lines{"message: Read buffer short: 16383 of 16384 bytes returned"}));
    // A CHECK CONDITION that moved nothing shows the sense report, not the short read.
    rig.log.clear();
    rig.drive->addFault(Fault::checkCondition(2, {0x03, 0x11, 0x00}, kRb));
    EXPECT_FALSE(rig.requests.ReadBuffer(rig.entry, rig.block));
    EXPECT_EQ(rig.log.lines(), (Lines{"message: Scsi status: 02h, SensCode: 03 11 00"}));
}

// The disc-absence test, row by row.
TEST(XCommand, AnswerTable)
{
    struct Row {
        const char* what;
        std::optional<SenseTriple> sense; // nullopt: GOOD
        bool withSense;
        bool result;
        bool discMessage;
    };
    const Row rows[] = {
        {"no medium", SenseTriple{0x02, 0x3A, 0x00}, true, true, false},
        {"no medium, tray open", SenseTriple{0x02, 0x3A, 0x02}, true, true, false},
        {"flag bit in the sense key byte", SenseTriple{0x42, 0x3A, 0x00}, true, false, false},
        {"becoming ready", SenseTriple{0x02, 0x04, 0x01}, true, false, false},
        {"sense 00/00", SenseTriple{0x00, 0x00, 0x00}, true, false, true},
        {"status without sense", SenseTriple{}, false, false, true},
        {"invalid command", SenseTriple{0x05, 0x20, 0x00}, true, false, false},
        {"unit ready", std::nullopt, true, false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Rig rig;
        rig.drive->config().discPresent = true;
        if (row.sense) {
            Fault f = Fault::checkCondition(1, *row.sense);
            f.withSense = row.withSense;
            rig.drive->addFault(f);
        }
        rig.requests.pollCounter = 77;
        EXPECT_EQ(rig.requests.XCommand(rig.entry, 0), row.result);
        if (row.discMessage) {
            EXPECT_EQ(rig.requests.pollCounter, 1);
            EXPECT_EQ(rig.log.lines(), (Lines{"message: Remove disc, befor to do the flash task."}));
        } else {
            EXPECT_EQ(rig.requests.pollCounter, 77);
            EXPECT_TRUE(rig.log.lines().empty());
        }
        EXPECT_EQ(asSent(rig.drive->requests().at(0)), built(buildTestUnitReadyRecord, kAt));
    }
}

TEST(XCommand, RealDriveStates)
{
    Rig rig;
    EXPECT_TRUE(rig.requests.XCommand(rig.entry, 0)); // empty drive
    rig.drive->config().neverReady = true;
    rig.requests.pollCounter = 5;
    EXPECT_FALSE(rig.requests.XCommand(rig.entry, 0));
    EXPECT_EQ(rig.requests.pollCounter, 5);
    EXPECT_TRUE(rig.log.lines().empty());
}

// A refused call leaves the status byte 0, which read plainly would say "a disc is in". It
// is told as a failed request and ends the poll, with no word about a disc.
TEST(XCommand, FailedCallIsToldAndEndsThePollButSaysNothingAboutADisc)
{
    Rig rig;
    rig.drive->addFault(Fault::refused(1, 5, kTur));
    rig.drive->addFault(Fault::timeOut(2, kTur));
    rig.requests.pollCounter = 9;
    EXPECT_FALSE(rig.requests.XCommand(rig.entry, 0));
    EXPECT_EQ(rig.requests.pollCounter, 1);
    rig.requests.pollCounter = 9;
    EXPECT_FALSE(rig.requests.XCommand(rig.entry, 0));
    EXPECT_EQ(rig.requests.pollCounter, 1);
    EXPECT_EQ(rig.log.lines(), (Lines{"message: Error sending SCSI command; error was 5",
                                      "message: Error sending SCSI command; error was 110"}));
    EXPECT_FALSE(rig.access.lastRequestSucceeded);
}

// The whole road of a flash at the request level: 16 pieces out, 16 back, the closing
// request; the drive ends up holding the image as its firmware.
TEST(Requests, DownloadReadBackAndSave)
{
    Rig rig;
    Bytes image;
    for (int i = 0; i < 16; ++i) {
        const Bytes p = rig.piece(i);
        image.insert(image.end(), p.begin(), p.end());
    }
    while (rig.progress.position() < rig.progress.max()) {
        ASSERT_LE(static_cast<std::size_t>(rig.progress.position()) + 16384u, image.size());
        const auto at = image.begin() + rig.progress.position();
        std::copy(at, at + 16384, rig.block.begin());
        ASSERT_TRUE(rig.requests.WriteBuffer(rig.entry, rig.block, 0));
        rig.progress.stepIt();
    }
    rig.progress.setPosition(0);
    while (rig.progress.position() < rig.progress.max()) {
        ASSERT_TRUE(rig.requests.ReadBuffer(rig.entry, rig.block));
        ASSERT_LE(static_cast<std::size_t>(rig.progress.position()) + rig.block.size(), image.size());
        ASSERT_TRUE(std::equal(rig.block.begin(), rig.block.end(), image.begin() + rig.progress.position()));
        rig.progress.stepIt();
    }
    rig.toClosingPosition();
    ASSERT_TRUE(rig.requests.WriteBuffer(rig.entry, rig.block, 0x80));
    EXPECT_EQ(rig.drive->firmware(), image);
    ASSERT_EQ(rig.drive->requests().size(), 33u);
    EXPECT_EQ(asSent(rig.drive->requests()[15]), built(buildWriteBufferRecord, kAt, 15 * 16384, 16384, 0));
    EXPECT_EQ(asSent(rig.drive->requests()[16]), built(buildReadBufferRecord, kAt, 0, 16384));
    EXPECT_TRUE(rig.log.lines().empty());
}

} // namespace
} // namespace scsi

// The virtual drive itself: its answers, its fault injection and its folder form.
#include "virtual_drive.h"

#include "cdb.h"
#include "discovery.h"
#include "requests.h"
#include "scripted_ui.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace scsi {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

struct Sent {
    CallResult result;
    DirectRecord record{};
    std::uint8_t status() const { return record[record::kScsiStatus]; }
    std::uint8_t senseLength() const { return record[record::kSenseInfoLength]; }
    SenseTriple sense() const
    {
        return {record[record::kSenseBuffer + 2], record[record::kSenseBuffer + 12],
                record[record::kSenseBuffer + 13]};
    }
};

// Sends a direct request with any CDB.
Sent direct(Device& device, std::span<const std::uint8_t> cdb, std::uint8_t dataIn,
            std::span<std::uint8_t> data, std::uint8_t senseAsked = 24)
{
    Sent s;
    buildDirectRecord(s.record, {}, cdb, dataIn, static_cast<std::uint32_t>(data.size()), 3);
    s.record[record::kSenseInfoLength] = senseAsked;
    s.result = device.passThrough(kIoctlScsiPassThroughDirect, s.record, 80, 80, data);
    return s;
}

Sent testUnitReady(Device& device)
{
    BufferedRecord b;
    buildTestUnitReadyRecord(b, {});
    Sent s;
    s.result = device.passThrough(kIoctlScsiPassThrough, b, 44, 80, {});
    std::copy_n(b.begin(), 80, s.record.begin());
    return s;
}

std::unique_ptr<Device> openDrive(const std::shared_ptr<VirtualDrive>& drive,
                                  OpenMode mode = OpenMode::Identify)
{
    OpenResult r = drive->open(mode);
    EXPECT_TRUE(r.device) << "open failed with " << r.error;
    return std::move(r.device);
}

TEST(VirtualDrive, InquiryDataIsStandardAndPadded)
{
    VirtualDriveConfig c;
    c.vendor = "KORVANE";
    c.product = "QVX-5500";
    c.revision = "VQ1";
    auto drive = std::make_shared<VirtualDrive>(c);
    auto device = openDrive(drive);
    Bytes data(128, 0xAA);
    const Sent s = direct(*device, inquiryCdb(), 1, data);
    EXPECT_EQ(s.result.outcome, Outcome::Good);
    EXPECT_EQ(s.result.dataTransferred, 36u);
    EXPECT_EQ(data[0], 0x05);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 36), "KORVANE QVX-5500        VQ1 ");
    EXPECT_EQ(data[36], 0xAA); // nothing beyond what the drive has
    EXPECT_EQ(s.senseLength(), 0);

    // An allocation length shorter than the data cuts it.
    Cdb6 shortCdb = inquiryCdb();
    shortCdb[4] = 10;
    Bytes small(10);
    EXPECT_EQ(direct(*device, shortCdb, 1, small).result.dataTransferred, 10u);
}

TEST(VirtualDrive, UnknownCommandsAndBadFieldsAreRejectedWithSense)
{
    auto drive = std::make_shared<VirtualDrive>();
    auto device = openDrive(drive);
    Bytes none;
    const Bytes read10{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0};
    Sent s = direct(*device, read10, 1, none);
    EXPECT_EQ(s.result.outcome, Outcome::Sense);
    EXPECT_EQ(s.status(), 0x02);
    EXPECT_EQ(s.sense(), (SenseTriple{0x05, 0x20, 0x00}));
    EXPECT_EQ(s.senseLength(), 18);            // all of it: 24 were asked
    EXPECT_EQ(s.record[record::kSenseBuffer], 0x70); // fixed format
    EXPECT_EQ(s.record[record::kSenseBuffer + 7], 10);

    // Fewer sense bytes asked than the drive has: only those come back.
    s = direct(*device, read10, 1, none, 8);
    EXPECT_EQ(s.senseLength(), 8);
    EXPECT_EQ(s.record[record::kSenseBuffer + 12], 0); // ASC lies beyond the 8 bytes

    Bytes piece(16384, 1);
    // Past the end of the 262144-byte buffer.
    s = direct(*device, writeBufferCdb(262144 - 16383, 16384, 0), 0, piece);
    EXPECT_EQ(s.sense(), (SenseTriple{0x05, 0x24, 0x00}));
    s = direct(*device, readBufferCdb(262144, 1), 1, std::span(piece).first(1));
    EXPECT_EQ(s.sense(), (SenseTriple{0x05, 0x24, 0x00}));
    // Another mode, another buffer, another control byte, a length the data does not match.
    Cdb10 c = writeBufferCdb(0, 16384, 0);
    c[1] = 0x07;
    EXPECT_EQ(direct(*device, c, 0, piece).sense(), (SenseTriple{0x05, 0x24, 0x00}));
    c = writeBufferCdb(0, 16384, 0);
    c[2] = 0x02;
    EXPECT_EQ(direct(*device, c, 0, piece).sense(), (SenseTriple{0x05, 0x24, 0x00}));
    EXPECT_EQ(direct(*device, writeBufferCdb(0, 16384, 0x40), 0, {}).sense(),
              (SenseTriple{0x05, 0x24, 0x00}));
    EXPECT_EQ(direct(*device, writeBufferCdb(0, 16384, 0), 0, std::span(piece).first(100)).sense(),
              (SenseTriple{0x05, 0x24, 0x00}));
    // The closing request must come without data.
    EXPECT_EQ(direct(*device, writeBufferCdb(39, 1, 0x80), 0, std::span(piece).first(1)).sense(),
              (SenseTriple{0x05, 0x24, 0x00}));
    EXPECT_EQ(drive->firmwareSaves(), 0);
    EXPECT_TRUE(std::all_of(drive->downloadBuffer().begin(), drive->downloadBuffer().end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
}

TEST(VirtualDrive, MalformedCallsAreRefusedBySystem)
{
    auto drive = std::make_shared<VirtualDrive>();
    auto device = openDrive(drive);
    DirectRecord r;
    buildReadBufferRecord(r, {}, 0, 16384);
    Bytes tooSmall(100);
    CallResult c = device->passThrough(kIoctlScsiPassThroughDirect, r, 80, 80, tooSmall);
    EXPECT_EQ(c.outcome, Outcome::OsError);
    EXPECT_EQ(c.error, EINVAL);
    c = device->passThrough(0x1234, r, 80, 80, tooSmall);
    EXPECT_EQ(c.error, EINVAL);
    c = device->passThrough(kIoctlScsiPassThroughDirect, std::span(r).first(40), 40, 40, {});
    EXPECT_EQ(c.error, EINVAL);

    // Sense asked for outside the record: refused like the others, the record untouched.
    DirectRecord t;
    buildDirectRecord(t, {}, testUnitReadyCdb(), 1, 0, 3);
    putLe32(t, record::kSenseInfoOffset, 0x10000);
    c = device->passThrough(kIoctlScsiPassThroughDirect, t, 80, 80, {});
    EXPECT_EQ(c.error, EINVAL);
    EXPECT_EQ(t[record::kSenseInfoLength], 24);
    EXPECT_TRUE(drive->requests().empty()); // none of them reached the drive
}

TEST(VirtualDrive, DiscStatesAndStartStopUnit)
{
    auto drive = std::make_shared<VirtualDrive>();
    auto device = openDrive(drive);
    EXPECT_EQ(testUnitReady(*device).sense(), (SenseTriple{0x02, 0x3A, 0x00}));
    drive->config().discPresent = true;
    EXPECT_EQ(testUnitReady(*device).result.outcome, Outcome::Good);

    // Load and stop leave the disc; eject (LoEj without Start) takes it out.
    Bytes none;
    EXPECT_EQ(direct(*device, startStopUnitCdb(3), 1, none).result.outcome, Outcome::Good);
    EXPECT_EQ(direct(*device, startStopUnitCdb(0), 1, none).result.outcome, Outcome::Good);
    EXPECT_TRUE(drive->config().discPresent);
    direct(*device, startStopUnitCdb(2), 1, none);
    EXPECT_FALSE(drive->config().discPresent);

    drive->config().discPresent = true;
    drive->config().discStaysIn = true;
    direct(*device, startStopUnitCdb(2), 1, none);
    EXPECT_EQ(testUnitReady(*device).result.outcome, Outcome::Good);

    drive->config().neverReady = true;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(testUnitReady(*device).sense(), (SenseTriple{0x02, 0x04, 0x01}));
}

TEST(VirtualDrive, RecordsEveryRequestAsReceived)
{
    VirtualDriveConfig c;
    c.path = 1;
    c.target = 2;
    c.lun = 3;
    auto drive = std::make_shared<VirtualDrive>(c);
    auto device = openDrive(drive);
    Bytes piece(16384);
    for (std::size_t i = 0; i < piece.size(); ++i)
        piece[i] = static_cast<std::uint8_t>(i);
    const Sent s = direct(*device, writeBufferCdb(16384, 16384, 0), 0, piece);
    // The completed record carries the drive's real address.
    EXPECT_EQ(s.record[record::kPathId], 1);
    EXPECT_EQ(s.record[record::kTargetId], 2);
    EXPECT_EQ(s.record[record::kLun], 3);
    testUnitReady(*device);

    ASSERT_EQ(drive->requests().size(), 2u);
    const ReceivedRequest& w = drive->requests()[0];
    EXPECT_EQ(w.controlCode, kIoctlScsiPassThroughDirect);
    EXPECT_EQ(w.header.pathId, 0); // what was sent, not what came back
    EXPECT_EQ(w.cdb, (Bytes{0x3B, 0x05, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00}));
    EXPECT_EQ(w.dataLength, 16384u);
    EXPECT_EQ(w.dataOut, piece);
    EXPECT_EQ(w.opcode(), 0x3B);
    const ReceivedRequest& t = drive->requests()[1];
    EXPECT_EQ(t.controlCode, kIoctlScsiPassThrough);
    EXPECT_EQ(t.inputLength, 44u);
    EXPECT_EQ(t.outputLength, 80u);
    EXPECT_EQ(t.cdb.size(), 6u);
    drive->clearRequests();
    EXPECT_TRUE(drive->requests().empty());
}

TEST(VirtualDrive, FaultsFireAtTheirRequest)
{
    auto drive = std::make_shared<VirtualDrive>();
    drive->config().discPresent = true;
    drive->addFault(Fault::checkCondition(2, {0x06, 0x29, 0x00}));            // 2nd request of any kind
    drive->addFault(Fault::checkCondition(3, {0x03, 0x02, 0x00}, op::kTestUnitReady)); // 3rd TUR
    auto device = openDrive(drive);
    EXPECT_EQ(testUnitReady(*device).result.outcome, Outcome::Good); // request 1, TUR 1
    EXPECT_EQ(testUnitReady(*device).sense(), (SenseTriple{0x06, 0x29, 0x00})); // 2, TUR 2
    Bytes data(128);
    EXPECT_EQ(direct(*device, inquiryCdb(), 1, data).result.outcome, Outcome::Good); // 3
    EXPECT_EQ(testUnitReady(*device).sense(), (SenseTriple{0x03, 0x02, 0x00})); // 4, TUR 3
    EXPECT_EQ(testUnitReady(*device).result.outcome, Outcome::Good); // once only

    // Persistent: every request from the nth on.
    Fault always = Fault::refused(2, 1, op::kInquiry);
    always.persistent = true;
    drive->addFault(always);
    EXPECT_EQ(direct(*device, inquiryCdb(), 1, data).result.outcome, Outcome::OsError);
    EXPECT_EQ(direct(*device, inquiryCdb(), 1, data).result.error, 1);
    EXPECT_EQ(testUnitReady(*device).result.outcome, Outcome::Good);
}

TEST(VirtualDrive, TimeOutShortAndCorruptReads)
{
    auto drive = std::make_shared<VirtualDrive>();
    auto device = openDrive(drive);
    Bytes piece(16384);
    for (std::size_t i = 0; i < piece.size(); ++i)
        piece[i] = static_cast<std::uint8_t>(i * 3);
    ASSERT_EQ(direct(*device, writeBufferCdb(0, 16384, 0), 0, piece).result.outcome, Outcome::Good);

    drive->addFault(Fault::timeOut(1, op::kReadBuffer));
    drive->addFault(Fault::shortRead(2, 100, op::kReadBuffer));
    drive->addFault(Fault::corruptRead(3, 5000, op::kReadBuffer));
    Bytes back(16384, 0);
    Sent s = direct(*device, readBufferCdb(0, 16384), 1, back);
    EXPECT_EQ(s.result.outcome, Outcome::Transport);
    EXPECT_EQ(s.result.error, kTimedOutError);
    EXPECT_FALSE(s.result.callSucceeded());

    s = direct(*device, readBufferCdb(0, 16384), 1, back);
    EXPECT_EQ(s.result.outcome, Outcome::Good);
    EXPECT_EQ(s.result.dataTransferred, 16284u);
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 16284, piece.begin()));
    EXPECT_TRUE(std::all_of(back.begin() + 16284, back.end(), [](std::uint8_t b) { return b == 0; }));

    s = direct(*device, readBufferCdb(0, 16384), 1, back);
    EXPECT_EQ(s.result.dataTransferred, 16384u);
    EXPECT_EQ(back[5000], static_cast<std::uint8_t>(piece[5000] ^ 0xFF));
    back[5000] = piece[5000];
    EXPECT_EQ(back, piece);
    // The drive's own buffer is intact.
    ASSERT_GE(drive->downloadBuffer().size(), piece.size());
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), drive->downloadBuffer().begin()));
}

// Bare commands, as a SCSI target hands them on: the transport's direction and data
// length count, not the CDB's; faults count them with the record requests.
TEST(VirtualDrive, BareCommandsFlashAndTakeFaults)
{
    auto drive = std::make_shared<VirtualDrive>();
    drive->addFault(Fault::corruptRead(2, 7, op::kReadBuffer));
    drive->addFault(Fault::timeOut(3, op::kWriteBuffer));
    Bytes piece(16384, 0x5A);
    EXPECT_EQ(drive->command(writeBufferCdb(0, 16384, 0), DataDirection::ToDrive, piece).transferred, 16384u);
    auto device = openDrive(drive);
    Bytes back(16384, 0);
    EXPECT_EQ(direct(*device, readBufferCdb(0, 16384), 1, back).result.outcome, Outcome::Good); // READ BUFFER 1

    CommandAnswer a = drive->command(readBufferCdb(0, 16384), DataDirection::FromDrive, back);
    EXPECT_EQ(a.transferred, 16384u);
    EXPECT_EQ(back[7], 0x5A ^ 0xFF);
    // No direction: no data moves, whatever the block; READ BUFFER then has nowhere to go.
    a = drive->command(readBufferCdb(0, 16384), DataDirection::None, back);
    EXPECT_EQ(a.sense, (SenseTriple{0x05, 0x24, 0x00}));
    // Unless it asks for nothing, as a READ BUFFER record of length 0 does.
    EXPECT_EQ(drive->command(readBufferCdb(0, 0), DataDirection::None, back).status, 0);
    // A piece of another length than its CDB says is refused, and nothing is saved.
    a = drive->command(writeBufferCdb(0, 16384, 0), DataDirection::ToDrive, std::span(piece).first(512));
    EXPECT_EQ(a.sense, (SenseTriple{0x05, 0x24, 0x00}));
    EXPECT_EQ(drive->command(writeBufferCdb(16384, 16384, 0), DataDirection::ToDrive, piece).fate,
              CommandAnswer::Fate::TimedOut);

    // The closing request: length field 1, no data, no direction.
    a = drive->command(writeBufferCdb(39, 1, 0x80), DataDirection::None, piece);
    EXPECT_EQ(a.fate, CommandAnswer::Fate::Answered);
    EXPECT_EQ(a.status, 0);
    ASSERT_EQ(drive->firmwareSaves(), 1);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), drive->firmware().begin()));
    EXPECT_EQ(drive->firmware()[16384], 0xFF);
    EXPECT_EQ(drive->requests().back().header.dataTransferLength, 0u);
    EXPECT_EQ(drive->requests().size(), 8u);

    drive->vanish();
    EXPECT_EQ(drive->command(inquiryCdb(), DataDirection::FromDrive, back).fate,
              CommandAnswer::Fate::Vanished);
}

TEST(VirtualDrive, VanishedDriveFailsEveryCallAndEveryOpen)
{
    auto drive = std::make_shared<VirtualDrive>();
    drive->addFault(Fault::vanish(2));
    auto device = openDrive(drive, OpenMode::Exclusive);
    EXPECT_TRUE(testUnitReady(*device).result.callSucceeded());
    Sent s = testUnitReady(*device);
    EXPECT_EQ(s.result.outcome, Outcome::Transport);
    EXPECT_EQ(s.result.error, kVanishedCallError);
    EXPECT_EQ(testUnitReady(*device).result.error, kVanishedCallError);
    Bytes out(2048);
    EXPECT_FALSE(device->queryInquiryData(out).callSucceeded());
    EXPECT_TRUE(drive->vanished());
    device.reset();
    EXPECT_EQ(drive->open(OpenMode::Identify).error, kVanishedOpenError);
}

TEST(VirtualDrive, OpenModesAndOpenFailures)
{
    auto drive = std::make_shared<VirtualDrive>();
    auto first = openDrive(drive, OpenMode::Exclusive);
    OpenResult second = drive->open(OpenMode::Exclusive);
    EXPECT_FALSE(second.device);
    EXPECT_EQ(second.error, kBusyError);
    auto look = openDrive(drive, OpenMode::Identify); // a short look is still allowed
    EXPECT_EQ(drive->openDevices(), 2);
    first.reset();
    auto again = openDrive(drive, OpenMode::Exclusive);
    EXPECT_TRUE(again);
    look.reset();
    again.reset();
    EXPECT_EQ(drive->openDevices(), 0);
    EXPECT_EQ(drive->openCount(), 3);

    drive->config().openError = 13;
    EXPECT_EQ(drive->open(OpenMode::Identify).error, 13);
}

TEST(VirtualDrive, InquiryDataQuery)
{
    auto drive = std::make_shared<VirtualDrive>();
    auto device = openDrive(drive);
    Bytes out(2048, 0xAA);
    EXPECT_TRUE(device->queryInquiryData(out).callSucceeded());
    drive->config().inquiryDataError = 5;
    const CallResult r = device->queryInquiryData(out);
    EXPECT_EQ(r.outcome, Outcome::OsError);
    EXPECT_EQ(r.error, 5);
    EXPECT_EQ(drive->inquiryDataQueries(), 2);
}

TEST(VirtualDrive, FailedSaveLeavesTheFirmwareAlone)
{
    auto drive = std::make_shared<VirtualDrive>();
    bool allow = false;
    std::size_t seen = 0;
    drive->setOnSave([&](std::span<const std::uint8_t> fw) {
        seen = fw.size();
        return allow;
    });
    auto device = openDrive(drive);
    Sent s = direct(*device, writeBufferCdb(39, 1, 0x80), 0, {});
    EXPECT_EQ(s.sense(), (SenseTriple{0x04, 0x44, 0x00}));
    EXPECT_EQ(seen, kDownloadBufferSize);
    EXPECT_TRUE(drive->firmware().empty());
    allow = true;
    EXPECT_EQ(direct(*device, writeBufferCdb(39, 1, 0x80), 0, {}).result.outcome, Outcome::Good);
    EXPECT_EQ(drive->firmware().size(), kDownloadBufferSize);
    EXPECT_EQ(drive->firmwareSaves(), 1);
}

TEST(VirtualDriveSystem, RootsInLetterOrderAndUnknownLetters)
{
    VirtualDriveSystem system;
    system.addDrive('G', std::make_shared<VirtualDrive>());
    system.addRoot('C', DriveType::Fixed, "/dev/sda");
    system.addDrive('E', std::make_shared<VirtualDrive>(), "/dev/sr0");
    const auto roots = system.driveRoots();
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[0].letter, 'C');
    EXPECT_EQ(roots[0].type, DriveType::Fixed);
    EXPECT_EQ(roots[1].letter, 'E');
    EXPECT_EQ(roots[1].node, "/dev/sr0");
    EXPECT_EQ(roots[2].node, "virtual:G");
    EXPECT_EQ(roots[2].type, DriveType::CdRom);
    EXPECT_EQ(system.open('Q', OpenMode::Identify).error, ENOENT);
    EXPECT_FALSE(system.open('C', OpenMode::Identify).device);
    EXPECT_TRUE(system.open('E', OpenMode::Identify).device);
    EXPECT_EQ(system.opens(), 3);
}

// The folder form, written as a shell script would write it.

class DrivesFolder {
public:
    const fs::path& path() const { return folder_.path(); }
    void drive(const std::string& name, const std::string& description) const
    {
        fs::create_directories(folder_ / name);
        std::ofstream(folder_ / name / "drive") << description;
    }

private:
    testsupport::TempFolder folder_{"qvx-drives"};
};

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

TEST(DriveDescription, EveryKeyAndFault)
{
    const VirtualDriveDescription d = parseVirtualDriveDescription(
        "# a drive\n"
        "vendor=KORVANE\n"
        "product=QVX-5500\r\n"
        "revision=VQ10\n"
        "\n"
        "address=1-2-3\n"
        "disc=yes\n"
        "type=cdrom\n"
        "fault=disc-stays-in\n"
        "fault=never-ready\n"
        "fault=open-error=16\n"
        "fault=inquiry-data-error=5\n"
        "fault=vanish-at=9\n"
        "fault=refuse-at=2:1\n"
        "fault=timeout-at=4@3C\n"
        "fault=check-at=3@3b:85/24/00\n"
        "fault=short-read-at=1@3C:10\n"
        "fault=corrupt-read-at=2@3C:77\n");
    EXPECT_TRUE(d.problems.empty()) << d.problems.front();
    EXPECT_EQ(d.config.vendor, "KORVANE");
    EXPECT_EQ(d.config.product, "QVX-5500");
    EXPECT_EQ(d.config.revision, "VQ10");
    EXPECT_EQ(d.config.path, 1);
    EXPECT_EQ(d.config.target, 2);
    EXPECT_EQ(d.config.lun, 3);
    EXPECT_TRUE(d.config.discPresent);
    EXPECT_TRUE(d.config.discStaysIn);
    EXPECT_TRUE(d.config.neverReady);
    EXPECT_EQ(d.config.openError, 16);
    EXPECT_EQ(d.config.inquiryDataError, 5);
    EXPECT_EQ(d.type, DriveType::CdRom);
    ASSERT_EQ(d.faults.size(), 6u);
    EXPECT_EQ(d.faults[0].kind, Fault::Kind::Vanish);
    EXPECT_EQ(d.faults[0].atRequest, 9u);
    EXPECT_FALSE(d.faults[0].opcode);
    EXPECT_EQ(d.faults[1].kind, Fault::Kind::Refused);
    EXPECT_EQ(d.faults[1].error, 1);
    EXPECT_EQ(d.faults[2].kind, Fault::Kind::TimeOut);
    EXPECT_EQ(d.faults[2].opcode, std::optional<std::uint8_t>(0x3C));
    EXPECT_EQ(d.faults[3].kind, Fault::Kind::CheckCondition);
    EXPECT_EQ(d.faults[3].opcode, std::optional<std::uint8_t>(0x3B));
    EXPECT_EQ(d.faults[3].sense, (SenseTriple{0x85, 0x24, 0x00}));
    EXPECT_EQ(d.faults[4].missingBytes, 10u);
    EXPECT_EQ(d.faults[5].corruptOffset, 77u);
}

TEST(DriveDescription, MistakesAreNamedByLine)
{
    const VirtualDriveDescription d = parseVirtualDriveDescription(
        "vendr=KORVANE\n"
        "product=QVX-5500 and much more\n"
        "address=1-2\n"
        "disc=maybe\n"
        "fault=check-at=1:5/24\n"
        "fault=refuse-at=0:5\n"
        "fault=explode\n"
        "type=floppy\n"
        "just words\n");
    EXPECT_EQ(d.problems, (std::vector<std::string>{
                              "line 1: unknown key 'vendr'",
                              "line 2: bad value for product: 'QVX-5500 and much more'",
                              "line 3: bad value for address: '1-2'",
                              "line 4: bad value for disc: 'maybe'",
                              "line 5: bad value for fault: 'check-at=1:5/24'",
                              "line 6: bad value for fault: 'refuse-at=0:5'",
                              "line 7: bad value for fault: 'explode'",
                              "line 8: bad value for type: 'floppy'",
                              "line 9: expected key=value",
                          }));
}

TEST(FolderDrives, DrivesInNameOrderFlashAndSaveToFile)
{
    DrivesFolder folder;
    ASSERT_FALSE(folder.path().empty());
    folder.drive("b-second", "vendor=KORVANE\nproduct=QVX-5500\nrevision=VQ10\naddress=1-1-0\n");
    folder.drive("a-first", "vendor=KORVANE\nproduct=QVX-5500\nrevision=VQ8E\naddress=1-0-0\ndisc=no\n");
    folder.drive("c-disk", "type=fixed\n");
    std::ofstream(folder.path() / "not-a-drive.txt") << "ignored";

    auto system = makeFolderDriveSystem(folder.path().string());
    const auto roots = system->driveRoots();
    ASSERT_EQ(roots.size(), 3u);
    EXPECT_EQ(roots[0].letter, 'D');
    EXPECT_EQ(roots[0].node, (folder.path() / "a-first").string());
    EXPECT_EQ(roots[1].letter, 'E');
    EXPECT_EQ(roots[2].type, DriveType::Fixed);

    // The whole request sequence of a flash, through the request routines.
    ui::UiLog log;
    ui::ScriptedDialogs dialogs(log);
    ui::ProgressModel progress;
    DeviceAccess access;
    OpenResult opened = system->open('E', OpenMode::Exclusive);
    ASSERT_TRUE(opened.device);
    access.device = std::move(opened.device);
    Requests requests(access, progress, dialogs);
    DriveEntry entry;
    EXPECT_TRUE(requests.XCommand(entry, 0));
    Bytes image(kDownloadBufferSize);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i / 1024 + i);
    progress.setMax(262144);
    progress.setStep(16384);
    progress.setPosition(0);
    Bytes block(16384);
    while (progress.position() < progress.max()) {
        ASSERT_LE(static_cast<std::size_t>(progress.position()) + 16384u, image.size());
        std::copy_n(image.begin() + progress.position(), 16384, block.begin());
        ASSERT_TRUE(requests.WriteBuffer(entry, block, 0));
        progress.stepIt();
    }
    EXPECT_FALSE(fs::exists(folder.path() / "b-second" / "firmware.bin"));
    progress.setMax(40);
    progress.setStep(1);
    progress.setPosition(39);
    ASSERT_TRUE(requests.WriteBuffer(entry, block, 0x80));
    EXPECT_EQ(readFile(folder.path() / "b-second" / "firmware.bin"), image);
    EXPECT_FALSE(fs::exists(folder.path() / "b-second" / "firmware.bin.tmp"));
    EXPECT_FALSE(fs::exists(folder.path() / "a-first" / "firmware.bin"));
    EXPECT_TRUE(log.lines().empty());
}

TEST(FolderDrives, FaultsFromTheDescriptionTakeEffect)
{
    DrivesFolder folder;
    folder.drive("d", "revision=VQ8E\ndisc=yes\nfault=check-at=1@3B:05/26/00\n");
    folder.drive("e", "fault=open-error=13\n");
    auto system = makeFolderDriveSystem(folder.path().string());
    EXPECT_EQ(system->open('E', OpenMode::Identify).error, 13);
    OpenResult d = system->open('D', OpenMode::Exclusive);
    ASSERT_TRUE(d.device);
    EXPECT_EQ(system->open('D', OpenMode::Exclusive).error, kBusyError);
    Sent s = testUnitReady(*d.device);
    EXPECT_EQ(s.result.outcome, Outcome::Good); // the disc is in
    Bytes piece(16384);
    EXPECT_EQ(direct(*d.device, writeBufferCdb(0, 16384, 0), 0, piece).sense(),
              (SenseTriple{0x05, 0x26, 0x00}));
}

TEST(FolderDrives, BrokenDescriptionIsListedButCannotBeOpened)
{
    DrivesFolder folder;
    folder.drive("d", "vendor=KORVANE\nrevison=VQ8E\n");
    fs::create_directories(folder.path() / "e"); // no description at all
    auto system = makeFolderDriveSystem(folder.path().string());
    ASSERT_EQ(system->driveRoots().size(), 2u);
    EXPECT_EQ(system->open('D', OpenMode::Identify).error, EINVAL);
    EXPECT_EQ(system->open('E', OpenMode::Identify).error, EINVAL);
}

TEST(FolderDrives, SaveThatCannotBeWrittenFailsTheClosingRequest)
{
    DrivesFolder folder;
    folder.drive("d", "revision=VQ8E\n");
    // Something in the way of firmware.bin (as root, permissions would not stop the write).
    fs::create_directories(folder.path() / "d" / "firmware.bin" / "x");
    auto system = makeFolderDriveSystem(folder.path().string());
    OpenResult d = system->open('D', OpenMode::Exclusive);
    ASSERT_TRUE(d.device);
    EXPECT_EQ(direct(*d.device, writeBufferCdb(39, 1, 0x80), 0, {}).sense(),
              (SenseTriple{0x04, 0x44, 0x00}));
    EXPECT_TRUE(fs::is_directory(folder.path() / "d" / "firmware.bin"));
    EXPECT_FALSE(fs::exists(folder.path() / "d" / "firmware.bin.tmp"));
    EXPECT_TRUE(system->driveRoots().size() == 1);
}

// The example of docs/virtual-drive.md, as a shell would write it.
TEST(FolderDrives, DocumentedExample)
{
    DrivesFolder folder;
    fs::create_directories(folder.path() / "a");
    fs::create_directories(folder.path() / "b");
    std::ofstream(folder.path() / "a" / "drive")
        << "vendor=KORVANE\nproduct=QVX-5500\nrevision=VQ8E\naddress=1-0-0\n";
    std::ofstream(folder.path() / "b" / "drive")
        << "vendor=KORVANE\nproduct=QVX-5500\nrevision=VQ10\naddress=1-1-0\nfault=check-at=2@3C:03/11/00\n";
    auto system = makeFolderDriveSystem(folder.path().string());

    ui::UiLog log;
    ui::ScriptedDialogs dialogs(log);
    ui::RecordingQuit quit(log);
    DeviceAccess access;
    DriveTable table;
    const DiscoveryResult found = discoverDrives(table, access, *system, dialogs, quit);
    ASSERT_EQ(found.lines.size(), 2u);
    EXPECT_EQ(found.lines[0].text, "1-0-0 D: KORVANE QVX-5500        VQ8E");
    EXPECT_EQ(found.lines[1].text, "1-1-0 E: KORVANE QVX-5500        VQ10");
    EXPECT_EQ(found.lines[1].node, (folder.path() / "b").string());

    access.device = system->open('E', OpenMode::Exclusive).device;
    ASSERT_TRUE(access.device);
    ui::ProgressModel progress;
    progress.setMax(262144);
    progress.setStep(16384);
    Requests requests(access, progress, dialogs);
    Bytes block(16384);
    EXPECT_TRUE(requests.ReadBuffer(table.entries[1], block));
    progress.stepIt();
    EXPECT_FALSE(requests.ReadBuffer(table.entries[1], block));
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"message: Scsi status: 02h, SensCode: 03 11 00"}));
}

TEST(FolderDrives, MissingFolderHasNoDrives)
{
    auto system = makeFolderDriveSystem("/nonexistent/qvx-virtual-drives");
    EXPECT_TRUE(system->driveRoots().empty());
}

} // namespace
} // namespace scsi

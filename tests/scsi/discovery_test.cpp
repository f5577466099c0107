// Identification and discovery against virtual drives.
#include "discovery.h"
#include "requests.h"
#include "virtual_drive.h"

#include "scripted_ui.h"
#include "sent_record.h"

#include <gtest/gtest.h>

namespace scsi {
namespace {

using Lines = std::vector<std::string>;
using DriveLines = std::vector<DriveLine>;

std::shared_ptr<VirtualDrive> qvx(std::string revision, std::uint8_t path = 1,
                                  std::uint8_t target = 0, std::uint8_t lun = 0)
{
    VirtualDriveConfig c;
    c.revision = std::move(revision);
    c.path = path;
    c.target = target;
    c.lun = lun;
    return std::make_shared<VirtualDrive>(c);
}

std::shared_ptr<VirtualDrive> other(std::string vendor, std::string product, std::string revision)
{
    VirtualDriveConfig c;
    c.vendor = std::move(vendor);
    c.product = std::move(product);
    c.revision = std::move(revision);
    return std::make_shared<VirtualDrive>(c);
}

struct Rig {
    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::RecordingQuit quit{log};
    DeviceAccess access;
    VirtualDriveSystem system;
    DriveTable table;

    bool check(DriveEntry& entry) { return CheckInquiry(entry, access, system, dialogs, quit); }
    DiscoveryResult discover() { return discoverDrives(table, access, system, dialogs, quit); }
};

TEST(CheckInquiry, SupportedDriveGetsItsLabelAddressAndInquiryData)
{
    Rig rig;
    auto drive = qvx("VQ8E", 1, 0, 0);
    rig.system.addDrive('E', drive, "/dev/sr0");
    DriveEntry entry = rig.table.entries[1]; // address 0-1-0 before the request
    entry.letter = 'E';
    EXPECT_TRUE(rig.check(entry));

    // The request carried the entry's address; the entry now holds the drive's own.
    const ReceivedRequest& rq = drive->requests().at(0);
    EXPECT_EQ(testsupport::asSent(rq), testsupport::built(buildInquiryRecord, {0, 1, 0}));
    EXPECT_EQ(rq.dataLength, 128u);
    EXPECT_EQ(entry.path, 1);
    EXPECT_EQ(entry.target, 0);
    EXPECT_EQ(entry.unit, 0);

    EXPECT_EQ(entry.labelText(), "1-0-0 E: KORVANE QVX-5500        VQ8E");
    EXPECT_EQ(entry.labelText().substr(33, 4), "VQ8E");
    EXPECT_EQ(std::string(entry.inquiry.begin() + 32, entry.inquiry.begin() + 36), "VQ8E");
    EXPECT_EQ(entry.node, "/dev/sr0");
    EXPECT_EQ(rig.access.openAccess, 0xC0000000u);
    EXPECT_EQ(rig.access.openSharing, 1u);
    EXPECT_TRUE(rig.access.lastRequestSucceeded);
    EXPECT_EQ(rig.access.requestLength, 80u);
    EXPECT_EQ(drive->openDevices(), 0); // closed again
    EXPECT_TRUE(rig.log.lines().empty());
}

TEST(CheckInquiry, WhichIdentitiesAreAccepted)
{
    struct Case {
        const char* vendor;
        const char* product;
        const char* revision;
        bool accepted;
    };
    const Case cases[] = {
        {"KORVANE", "QVX-5500", "VQ8E", true},
        {"KORVANE", "QVX-5500", "VQ10", true},
        {"KORVANE", "QVX-5500", "VQ9z", true},  // any fourth character
        {"KORVANE", "QVX-5500", "VQA0", false}, // third character not a digit
        {"KORVANE", "QVX-5500", "VR10", false}, // another family
        {"KORVANE", "QVX-5501", "VQ10", false}, // another product of the maker
        {"KORVANE", "QVX-5500 ", "VQ10", true}, // the drive pads with blanks anyway
        {"korvane", "QVX-5500", "VQ10", false}, // compared exactly
        {"KORVANEX", "QVX-5500", "VQ10", false},
        {"OTHER", "CD-RW", "1.00", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.vendor) + "/" + c.product + "/" + c.revision);
        Rig rig;
        rig.system.addDrive('D', other(c.vendor, c.product, c.revision));
        DriveEntry entry;
        entry.letter = 'D';
        EXPECT_EQ(rig.check(entry), c.accepted);
        // Answered, so labelled either way.
        EXPECT_EQ(entry.labelText().size(), 37u);
    }
}

TEST(CheckInquiry, OpenFailureShowsTheErrorAndAsksToQuit)
{
    Rig rig;
    auto drive = qvx("VQ8E");
    drive->config().openError = 13; // EACCES
    rig.system.addDrive('E', drive);
    DriveEntry entry;
    entry.letter = 'E';
    EXPECT_FALSE(rig.check(entry));
    EXPECT_EQ(rig.log.lines(), (Lines{"message: Error opening: 13", "quit: "}));
    EXPECT_EQ(rig.quit.count(), 1);
    EXPECT_EQ(entry.labelText(), "");
    EXPECT_TRUE(drive->requests().empty());
}

TEST(CheckInquiry, FailedRequestLeavesNoLabelAndNoReport)
{
    Rig rig;
    auto drive = qvx("VQ8E", 3, 4, 5);
    drive->addFault(Fault::refused(1, 5));
    rig.system.addDrive('E', drive);
    DriveEntry entry;
    entry.letter = 'E';
    entry.path = 1;
    std::fill(entry.label.begin(), entry.label.begin() + 5, 'x'); // left from an earlier drive
    EXPECT_FALSE(rig.check(entry));
    EXPECT_EQ(entry.labelText(), "");
    EXPECT_TRUE(rig.log.lines().empty());
    EXPECT_FALSE(rig.access.lastRequestSucceeded);
    EXPECT_EQ(rig.access.lastError, 5);
    EXPECT_EQ(entry.path, 1); // the record came back as it went out
    EXPECT_EQ(drive->openDevices(), 0);

    // A CHECK CONDITION is a call that succeeded: the drive is judged by what came back,
    // here nothing, so not accepted but listed.
    drive->addFault(Fault::checkCondition(2, {0x05, 0x24, 0x00}));
    EXPECT_FALSE(rig.check(entry));
    EXPECT_EQ(entry.labelText(), "3-4-5 E:                             ");
}

TEST(CheckInquiry, OddInquiryBytes)
{
    Rig rig;
    // A NUL inside the fields ends the label's text; the 28 columns stay.
    rig.system.addDrive('E', other(std::string("KOR\0VANE", 8), "QVX-5500", "VQ8E"));
    DriveEntry entry;
    entry.letter = 'E';
    EXPECT_FALSE(rig.check(entry));
    EXPECT_EQ(entry.labelText(), "0-0-0 E:                          KOR");

    // A control character would break the line in two.
    rig.system.addDrive('F', other("KOR\nVANE", "QVX\t5500", "VQ8E"));
    entry.letter = 'F';
    EXPECT_FALSE(rig.check(entry));
    EXPECT_EQ(entry.labelText(), "0-0-0 F: KOR?VANEQVX?5500        VQ8E");

    // Address numbers of more than one digit widen the label; it still fits.
    rig.system.addDrive('G', qvx("VQ10", 255, 255, 255));
    entry.letter = 'G';
    EXPECT_TRUE(rig.check(entry));
    EXPECT_EQ(entry.labelText(), "255-255-255 G: KORVANE QVX-5500        VQ10");
}

TEST(Discovery, TwoSupportedDrivesAmongOtherRoots)
{
    Rig rig;
    rig.system.addRoot('C', DriveType::Fixed, "/dev/sda");
    auto e = qvx("VQ8E", 1, 0, 0);
    auto g = qvx("VQ10", 2, 0, 0);
    rig.system.addDrive('E', e, "/dev/sr0");
    rig.system.addRoot('F', DriveType::Remote);
    rig.system.addDrive('G', g, "/dev/sr1");
    const DiscoveryResult r = rig.discover();
    EXPECT_EQ(r.lines, (DriveLines{{"1-0-0 E: KORVANE QVX-5500        VQ8E", "/dev/sr0"},
                                   {"2-0-0 G: KORVANE QVX-5500        VQ10", "/dev/sr1"}}));
    EXPECT_EQ(r.selection, 1);
    EXPECT_EQ(r.unsupportedLines, "");
    EXPECT_EQ(rig.table.entries[0].letter, 'E');
    EXPECT_EQ(rig.table.entries[1].letter, 'G');
    EXPECT_EQ(rig.table.entries[1].path, 2);
    EXPECT_EQ(rig.table.entries[1].labelText(), r.lines[1].text);
    EXPECT_EQ(rig.system.opens(), 2); // C and F were never opened
    EXPECT_TRUE(rig.log.lines().empty());
}

TEST(Discovery, UnsupportedThenSupportedLandsInEntryZero)
{
    Rig rig;
    rig.system.addDrive('D', other("OTHER", "CD-RW", "1.00"));
    rig.system.addDrive('E', qvx("VQA0"));
    rig.system.addDrive('F', qvx("VQ10", 0, 1, 0));
    const DiscoveryResult r = rig.discover();
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].text, "0-1-0 F: KORVANE QVX-5500        VQ10");
    EXPECT_EQ(r.selection, 0);
    EXPECT_EQ(r.unsupportedLines, "0-0-0 D: OTHER   CD-RW           1.00\n"
                                  "1-0-0 E: KORVANE QVX-5500        VQA0\n");
    EXPECT_EQ(rig.table.entries[0].letter, 'F');
    EXPECT_EQ(rig.table.entries[0].labelText(), r.lines[0].text);
    EXPECT_EQ(rig.table.entries[1].labelText(), ""); // untouched
}

TEST(Discovery, OnlyHardDisksSendsNothing)
{
    Rig rig;
    rig.system.addRoot('C', DriveType::Fixed);
    rig.system.addDrive('D', DriveType::Fixed, qvx("VQ8E")); // would answer, but is no CD-ROM
    rig.system.addRoot('E', DriveType::Removable);
    const DiscoveryResult r = rig.discover();
    EXPECT_TRUE(r.lines.empty());
    EXPECT_EQ(r.selection, -1);
    EXPECT_EQ(r.unsupportedLines, "");
    EXPECT_EQ(rig.system.opens(), 0);
    EXPECT_TRUE(rig.system.drive('D')->requests().empty());
    EXPECT_TRUE(rig.log.lines().empty());

    Rig none;
    EXPECT_EQ(none.discover().selection, -1);
}

TEST(Discovery, DriveThatCannotBeOpenedDoesNotStopTheOthers)
{
    Rig rig;
    auto busy = qvx("VQ8E");
    busy->config().openError = 16; // EBUSY
    rig.system.addDrive('D', busy);
    rig.system.addDrive('E', qvx("VQ10", 1, 1, 0));
    auto gone = qvx("VQ10");
    gone->vanish();
    rig.system.addDrive('F', gone);
    const DiscoveryResult r = rig.discover();
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].text, "1-1-0 E: KORVANE QVX-5500        VQ10");
    EXPECT_EQ(r.selection, 0);
    EXPECT_EQ(r.unsupportedLines, "");
    EXPECT_EQ(rig.log.lines(), (Lines{"message: Error opening: 16", "quit: ",
                                      "message: Error opening: 6", "quit: "}));
}

TEST(Discovery, DriveThatDoesNotAnswerIsNotListed)
{
    Rig rig;
    auto mute = qvx("VQ8E");
    mute->addFault(Fault::timeOut(1));
    rig.system.addDrive('D', mute);
    const DiscoveryResult r = rig.discover();
    EXPECT_TRUE(r.lines.empty());
    EXPECT_EQ(r.unsupportedLines, "");
    EXPECT_TRUE(rig.log.lines().empty());
}

// The table has four entries: a fifth supported drive is identified outside it, not listed,
// and the user is told.
TEST(Discovery, FifthSupportedDriveIsNotWrittenPastTheTable)
{
    Rig rig;
    for (char letter = 'D'; letter <= 'I'; ++letter)
        rig.system.addDrive(letter, qvx("VQ10", static_cast<std::uint8_t>(letter - 'D'), 0, 0));
    // An unsupported drive after the table is full is handled like any other.
    rig.system.addDrive('J', other("OTHER", "CD-RW", "1.00"));
    const DiscoveryResult r = rig.discover();
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_EQ(r.selection, 3);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(rig.table.entries[k].letter, static_cast<char>('D' + k));
        EXPECT_EQ(rig.table.entries[k].labelText(), r.lines[k].text);
        EXPECT_EQ(rig.table.entries[k].path, k);
    }
    EXPECT_EQ(r.notListed, (Lines{"4-0-0 H: KORVANE QVX-5500        VQ10",
                                  "5-0-0 I: KORVANE QVX-5500        VQ10"}));
    EXPECT_EQ(r.unsupportedLines, "0-0-0 J: OTHER   CD-RW           1.00\n");
    EXPECT_EQ(rig.log.lines(),
              (Lines{"message: Only four drives can be listed. These drives were found but are not listed:\n"
                     "4-0-0 H: KORVANE QVX-5500        VQ10\n5-0-0 I: KORVANE QVX-5500        VQ10\n"}));
}

} // namespace
} // namespace scsi

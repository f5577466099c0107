// Enumeration of optical drives against a fake sysfs tree, and the open policy of the
// real backend against plain files standing in for the device nodes.
#include "as_nobody.h"
#include "fake_sysfs.h"
#include "linux_drive_list.h"
#include "linux_pass_through.h"
#include "records.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>

using namespace scsi;
using namespace scsi::sg;
using testing_linux::FakeDriveSpec;
using testing_linux::FakeSystem;
using testsupport::asNobody;

namespace fs = std::filesystem;

namespace {

FakeDriveSpec drive(int host, int channel, int target, int lun, std::string block,
                    std::string generic)
{
    FakeDriveSpec s;
    s.host = host;
    s.channel = channel;
    s.target = target;
    s.lun = lun;
    s.block = std::move(block);
    s.generic = std::move(generic);
    return s;
}

int openDescriptors()
{
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

} // namespace

TEST(DriveList, OrderedByAddressAndLetteredFromD)
{
    FakeSystem sys;
    sys.addDrive(drive(1, 0, 0, 0, "sr0", "sg2"));
    sys.addDrive(drive(0, 0, 1, 0, "sr1", "sg1"));
    sys.addDrive(drive(0, 0, 0, 0, "sr2", "sg0"));
    sys.addDisk("sda");

    const auto drives = listOpticalDrives(sys.paths());
    ASSERT_EQ(drives.size(), 3u);
    EXPECT_EQ(drives[0].letter, 'D');
    EXPECT_EQ(drives[0].blockName, "sr2");
    EXPECT_EQ(drives[0].blockNode, sys.dev().string() + "/sr2");
    EXPECT_EQ(drives[0].genericNode, sys.dev().string() + "/sg0");
    EXPECT_EQ(drives[1].letter, 'E');
    EXPECT_EQ(drives[1].blockName, "sr1");
    EXPECT_EQ(drives[1].target, 1);
    EXPECT_EQ(drives[2].letter, 'F');
    EXPECT_EQ(drives[2].blockName, "sr0");
    EXPECT_EQ(drives[2].host, 1);
    EXPECT_EQ(drives[2].genericNode, sys.dev().string() + "/sg2");
}

TEST(DriveList, AddressIsChannelTargetLun)
{
    FakeSystem sys;
    sys.addDrive(drive(3, 2, 5, 7, "sr0", "sg4"));
    const auto drives = listOpticalDrives(sys.paths());
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].host, 3);
    EXPECT_EQ(drives[0].channel, 2);
    EXPECT_EQ(drives[0].target, 5);
    EXPECT_EQ(drives[0].lun, 7);
}

TEST(DriveList, OnlyCdRomTypeCounts)
{
    FakeSystem sys;
    FakeDriveSpec odd = drive(0, 0, 0, 0, "sr0", "sg0");
    odd.type = 0; // an sr name over something that is no CD/DVD drive
    sys.addDrive(odd);
    sys.addDrive(drive(0, 0, 1, 0, "sr1", "sg1"));
    const auto drives = listOpticalDrives(sys.paths());
    ASSERT_EQ(drives.size(), 1u);
    EXPECT_EQ(drives[0].blockName, "sr1");
    EXPECT_EQ(drives[0].letter, 'D');
}

TEST(DriveList, GenericNodeFoundEitherWayOrNotAtAll)
{
    FakeSystem sys;
    FakeDriveSpec viaClass = drive(0, 0, 0, 0, "sr0", "sg3");
    viaClass.genericFolder = false;
    sys.addDrive(viaClass);
    sys.addDrive(drive(0, 0, 1, 0, "sr1", "")); // sg module not loaded
    const auto drives = listOpticalDrives(sys.paths());
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].genericNode, sys.dev().string() + "/sg3");
    EXPECT_EQ(drives[1].genericNode, "");
}

TEST(DriveList, NoSysfsOrNoDrivesGivesAnEmptyList)
{
    EXPECT_TRUE(listOpticalDrives({"/nonexistent/sys", "/dev"}).empty());
    FakeSystem sys;
    sys.addDisk("sda");
    sys.addDrive(drive(0, 0, 0, 0, "sr99999999999", "sg0")); // a number no int holds: no drive's
    EXPECT_TRUE(listOpticalDrives(sys.paths()).empty());
}

TEST(DriveList, LettersStopAtZ)
{
    FakeSystem sys;
    for (int i = 0; i < 25; ++i)
        sys.addDrive(drive(0, 0, i, 0, "sr" + std::to_string(i), "sg" + std::to_string(i)));
    const auto drives = listOpticalDrives(sys.paths());
    ASSERT_EQ(drives.size(), 23u); // D..Z
    EXPECT_EQ(drives.back().letter, 'Z');
    EXPECT_EQ(drives.back().target, 22);
}

TEST(LinuxDriveSystem, RootsAreCdRomsWithTheirNodes)
{
    FakeSystem sys;
    sys.addDrive(drive(0, 0, 0, 0, "sr0", "sg0"));
    sys.addDrive(drive(0, 0, 1, 0, "sr1", "sg1"));
    auto system = makeLinuxDriveSystem(sys.paths());
    const auto roots = system->driveRoots();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0].letter, 'D');
    EXPECT_EQ(roots[0].type, DriveType::CdRom);
    EXPECT_EQ(roots[0].node, sys.dev().string() + "/sr0");
    EXPECT_EQ(roots[1].letter, 'E');
    EXPECT_EQ(roots[1].node, sys.dev().string() + "/sr1");

    EXPECT_EQ(system->open('G', OpenMode::Identify).error, ENOENT);
    EXPECT_EQ(system->open('G', OpenMode::Identify).device, nullptr);
}

TEST(LinuxDriveSystem, OpenFailsWithTheSystemsErrorNumber)
{
    FakeSystem sys;
    FakeDriveSpec noNodes = drive(0, 0, 0, 0, "sr0", "sg0");
    noNodes.createNodes = false;
    sys.addDrive(noNodes);
    auto system = makeLinuxDriveSystem(sys.paths());
    const OpenResult r = system->open('D', OpenMode::Identify);
    EXPECT_EQ(r.device, nullptr);
    EXPECT_EQ(r.error, ENOENT);
}

TEST(LinuxDriveSystem, ExclusiveOpenNeedsTheBlockNodeToo)
{
    FakeSystem sys;
    sys.addDrive(drive(0, 0, 0, 0, "sr0", "sg0"));
    fs::remove(sys.dev() / "sr0");
    auto system = makeLinuxDriveSystem(sys.paths());
    EXPECT_NE(system->open('D', OpenMode::Identify).device, nullptr);
    const OpenResult r = system->open('D', OpenMode::Exclusive);
    EXPECT_EQ(r.device, nullptr);
    EXPECT_EQ(r.error, ENOENT);
}

TEST(LinuxDriveSystem, ClosingTheDeviceClosesItsNodes)
{
    FakeSystem sys;
    sys.addDrive(drive(0, 0, 0, 0, "sr0", "sg0"));
    auto system = makeLinuxDriveSystem(sys.paths());
    const int before = openDescriptors();
    {
        OpenResult r = system->open('D', OpenMode::Exclusive);
        ASSERT_NE(r.device, nullptr) << r.error;
        EXPECT_EQ(openDescriptors(), before + 2); // the sg node and the claimed block node
        r.device->releaseClaim();
        EXPECT_EQ(openDescriptors(), before + 1) << "the claim is let go, the sg node kept";
    }
    EXPECT_EQ(openDescriptors(), before);
    {
        OpenResult r = system->open('D', OpenMode::Identify);
        ASSERT_NE(r.device, nullptr);
        EXPECT_EQ(openDescriptors(), before + 1);
    }
    EXPECT_EQ(openDescriptors(), before);
}

TEST(LinuxDriveSystem, ANodeThatIsNoDriveRefusesTheCall)
{
    // The "device" is a plain file: SG_IO is refused, and the refusal is no GOOD.
    FakeSystem sys;
    sys.addDrive(drive(0, 0, 0, 0, "sr0", "sg0"));
    auto system = makeLinuxDriveSystem(sys.paths());
    OpenResult r = system->open('D', OpenMode::Identify);
    ASSERT_NE(r.device, nullptr);
    DirectRecord rec{};
    RecordHeader h;
    h.length = 44;
    h.cdbLength = 6;
    h.senseInfoLength = 24;
    h.dataIn = 1;
    h.dataTransferLength = 128;
    h.timeOutValue = 3;
    h.senseInfoOffset = 48;
    h.cdb[0] = 0x12;
    h.cdb[4] = 0x80;
    encodeHeader(h, rec);
    std::vector<std::uint8_t> block(128);
    const CallResult c = r.device->passThrough(kIoctlScsiPassThroughDirect, rec, 80, 80, block);
    EXPECT_EQ(c.outcome, Outcome::OsError);
    EXPECT_EQ(c.error, ENOTTY);
    EXPECT_FALSE(c.callSucceeded());

    std::vector<std::uint8_t> out(2048);
    EXPECT_FALSE(r.device->queryInquiryData(out).callSucceeded());
}

TEST(LinuxDriveSystem, AUserWithoutRightsLearnsItAtOpen)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run a child as another user";
    FakeSystem sys;
    sys.addDrive(drive(0, 0, 0, 0, "sr0", "sg0"));
    fs::permissions(sys.dev() / "sg0", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(sys.dev() / "sr0", fs::perms::owner_read | fs::perms::group_read
                                          | fs::perms::others_read);
    const auto paths = sys.paths();
    for (OpenMode mode : {OpenMode::Identify, OpenMode::Exclusive}) {
        const int code = asNobody([&] {
            const OpenResult r = makeLinuxDriveSystem(paths)->open('D', mode);
            return r.device ? 0 : r.error;
        });
        EXPECT_EQ(code, EACCES);
    }

    // Read/write on the sg node: identification works; the flash's claim of the block
    // node is for writing (that is what stops the media polling), so a read-only block
    // node still refuses the flash at open.
    fs::permissions(sys.dev() / "sg0", fs::perms::all);
    for (OpenMode mode : {OpenMode::Identify, OpenMode::Exclusive}) {
        const int code = asNobody([&] {
            const OpenResult r = makeLinuxDriveSystem(paths)->open('D', mode);
            return r.device ? 0 : r.error;
        });
        EXPECT_EQ(code, mode == OpenMode::Identify ? 0 : EACCES);
    }

    // Read/write on both, as udev's uaccess tag grants them: the flash's open succeeds.
    fs::permissions(sys.dev() / "sr0", fs::perms::all);
    const int code = asNobody([&] {
        const OpenResult r = makeLinuxDriveSystem(paths)->open('D', OpenMode::Exclusive);
        return r.device ? 0 : 100 + r.error;
    });
    EXPECT_EQ(code, 0);
}

TEST(LinuxDriveSystem, WithoutAnSgNodeWriteBufferNeedsRawIo)
{
    FakeSystem sys;
    sys.addDrive(drive(0, 0, 0, 0, "sr0", ""));
    const auto paths = sys.paths();
    if (hasRawIoCapability()) {
        // This process may send anything through the block node, which is then the claim too:
        // the flash's end lets it go.
        const int before = openDescriptors();
        OpenResult r = makeLinuxDriveSystem(paths)->open('D', OpenMode::Exclusive);
        ASSERT_NE(r.device, nullptr) << r.error;
        EXPECT_EQ(openDescriptors(), before + 1);
        r.device->releaseClaim();
        EXPECT_EQ(openDescriptors(), before);
    }
    if (::geteuid() != 0 && hasRawIoCapability())
        GTEST_SKIP() << "cannot shed CAP_SYS_RAWIO here";
    const int code = ::geteuid() == 0 ? asNobody([&] {
        const OpenResult r = makeLinuxDriveSystem(paths)->open('D', OpenMode::Identify);
        return r.device ? 0 : r.error;
    })
                                      : makeLinuxDriveSystem(paths)->open('D', OpenMode::Identify).error;
    EXPECT_EQ(code, EPERM) << "the block node is readable; only the missing capability refuses";
}

// The real Linux backend and enumeration against umockdev: the test process runs under
// umockdev-wrapper, which gives it a mocked /sys with two SCSI CD-ROM drives and /dev
// nodes whose ioctls (SG_IO, SG_GET_SCSI_ID) a handler below answers the way the kernel
// would, with the virtual drive as the drive behind each node. Production code paths run
// unchanged: sysfs reads, open(), ioctl().
#include "linux_pass_through.h"
#include "records.h"

#include "discovery.h"
#include "drive_table.h"
#include "requests.h"
#include "progress_model.h"
#include "scripted_ui.h"
#include "virtual_drive.h"

#include <gtest/gtest.h>

#include <scsi/sg.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

using namespace scsi;

namespace {

constexpr int kSkip = 77; // the exit code CTest reads as "skipped"

// The kernel's host statuses for a command that never completed.
constexpr std::uint16_t kDidNoConnect = 0x01;
constexpr std::uint16_t kDidTimeOut = 0x03;
constexpr std::uint16_t kDriverSense = 0x08;

// What one SG_IO header carried beside the command (the drive logs the command itself).
struct Seen {
    int direction = 0;
    unsigned dxferLength = 0;
    unsigned timeout = 0;
    unsigned maxSense = 0;
};

// One sg node: the drive behind it and what the kernel adds of its own.
struct Node {
    std::mutex lock;
    VirtualDriveConfig config;
    std::shared_ptr<VirtualDrive> drive;
    // The kernel's word on every SG_IO (a host or driver status: the command never
    // completed) and the errno of SG_GET_SCSI_ID.
    std::uint16_t hostStatus = 0;
    std::uint16_t driverStatus = 0;
    int scsiIdErrno = 0;
    std::vector<Seen> seen;

    void reset()
    {
        std::lock_guard g(lock);
        drive = std::make_shared<VirtualDrive>(config);
        hostStatus = driverStatus = 0;
        scsiIdErrno = 0;
        seen.clear();
    }
};

DataDirection directionOf(int sgDirection)
{
    switch (sgDirection) {
    case SG_DXFER_TO_DEV:
        return DataDirection::ToDrive;
    case SG_DXFER_FROM_DEV:
        return DataDirection::FromDrive;
    default:
        return DataDirection::None;
    }
}

gboolean answerIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user)
{
    auto& node = *static_cast<Node*>(user);
    std::lock_guard g(node.lock);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    GError* error = nullptr;

    if (request == SG_GET_SCSI_ID) {
        if (node.scsiIdErrno != 0) {
            umockdev_ioctl_client_complete(client, -1, node.scsiIdErrno);
            return TRUE;
        }
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(sg_scsi_id), &error);
        auto* id = reinterpret_cast<sg_scsi_id*>(d->data);
        id->scsi_type = 5;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    if (request != SG_IO) {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }

    UMockdevIoctlData* hd = umockdev_ioctl_data_resolve(arg, 0, sizeof(sg_io_hdr_t), &error);
    if (hd == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    auto* h = reinterpret_cast<sg_io_hdr_t*>(hd->data);
    UMockdevIoctlData* cd = umockdev_ioctl_data_resolve(hd, offsetof(sg_io_hdr_t, cmdp), h->cmd_len, &error);
    h = reinterpret_cast<sg_io_hdr_t*>(hd->data);
    const std::vector<std::uint8_t> cdb(cd->data, cd->data + h->cmd_len);
    node.seen.push_back({h->dxfer_direction, h->dxfer_len, h->timeout, h->mx_sb_len});
    const DataDirection direction = directionOf(h->dxfer_direction);
    std::span<std::uint8_t> data;
    if (direction != DataDirection::None && h->dxfer_len > 0) {
        UMockdevIoctlData* dd =
            umockdev_ioctl_data_resolve(hd, offsetof(sg_io_hdr_t, dxferp), h->dxfer_len, &error);
        h = reinterpret_cast<sg_io_hdr_t*>(hd->data);
        data = {dd->data, h->dxfer_len};
    }

    const CommandAnswer a = node.drive->command(cdb, direction, data);
    if (a.fate == CommandAnswer::Fate::Refused) {
        umockdev_ioctl_client_complete(client, -1, a.error);
        return TRUE;
    }
    const std::uint16_t host = a.fate == CommandAnswer::Fate::TimedOut   ? kDidTimeOut
                               : a.fate == CommandAnswer::Fate::Vanished ? kDidNoConnect
                                                                         : node.hostStatus;
    // A command that never completed has no status, no sense and moved no data.
    const bool completed = host == 0 && node.driverStatus == 0;
    const bool withSense = completed && a.sense && h->mx_sb_len > 0;
    h->status = completed ? a.status : 0;
    h->masked_status = h->status >> 1;
    h->host_status = host;
    h->driver_status = node.driverStatus | (withSense ? kDriverSense : 0);
    h->resid = static_cast<int>(h->dxfer_len - (completed ? a.transferred : 0));
    h->duration = 1;
    h->sb_len_wr = 0;
    if (withSense) {
        const auto sense = fixedSense(*a.sense);
        const unsigned n = std::min<unsigned>(sense.size(), h->mx_sb_len);
        UMockdevIoctlData* sd = umockdev_ioctl_data_resolve(hd, offsetof(sg_io_hdr_t, sbp), n, &error);
        h = reinterpret_cast<sg_io_hdr_t*>(hd->data);
        std::memcpy(sd->data, sense.data(), n);
        h->sb_len_wr = static_cast<unsigned char>(n);
    }
    h->info = (h->status != 0 || h->host_status != 0 || h->driver_status != 0) ? SG_INFO_CHECK : SG_INFO_OK;
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
}

std::string scsiDeviceRecord(const std::string& address, const std::string& block,
                             const std::string& generic)
{
    const std::string dev = "/devices/pci0000:00/0000:00:03.0/host0/target"
        + address.substr(0, address.rfind(':')) + "/" + address;
    return "P: " + dev + "\nE: SUBSYSTEM=scsi\nE: DEVTYPE=scsi_device\nA: type=5\n\n"
        "P: " + dev + "/block/" + block + "\nN: " + block + "\nE: DEVNAME=/dev/" + block
        + "\nE: SUBSYSTEM=block\nE: DEVTYPE=disk\nL: device=../../../" + address + "\n\n"
        "P: " + dev + "/scsi_generic/" + generic + "\nN: " + generic + "\nE: DEVNAME=/dev/"
        + generic + "\nE: SUBSYSTEM=scsi_generic\nL: device=../../../" + address + "\n\n";
}

// The mocked system, set up once for the whole process.
struct Bed {
    UMockdevTestbed* testbed = nullptr;
    Node supported, other;
    std::string problem;

    Bed()
    {
        other.config.product = "QVX-9000";
        other.config.revision = "VQ10";
        testbed = umockdev_testbed_new();
        GError* error = nullptr;
        const std::string records =
            scsiDeviceRecord("0:0:0:0", "sr0", "sg0") + scsiDeviceRecord("0:0:1:0", "sr1", "sg1");
        if (!umockdev_testbed_add_from_string(testbed, records.c_str(), &error)) {
            problem = error->message;
            return;
        }
        attach("/dev/sg0", supported);
        attach("/dev/sg1", other);
    }
    void attach(const char* path, Node& node)
    {
        GError* error = nullptr;
        UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
        g_signal_connect(handler, "handle-ioctl", G_CALLBACK(answerIoctl), &node);
        if (!umockdev_testbed_attach_ioctl(testbed, path, handler, &error))
            problem = error->message;
    }
};

Bed* bed = nullptr;

class UmockdevBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bed->problem.empty()) << bed->problem;
        bed->supported.reset();
        bed->other.reset();
    }

    // The first drive, opened for a flash, with an entry carrying its address.
    void openForFlash()
    {
        OpenResult opened = system->open('D', OpenMode::Exclusive);
        ASSERT_NE(opened.device, nullptr) << "open error " << opened.error;
        access.device = std::move(opened.device);
        entry.letter = 'D';
    }

    std::vector<std::string> messages() const
    {
        std::vector<std::string> texts;
        for (const auto& e : log.events())
            texts.push_back(e.text);
        return texts;
    }

    std::unique_ptr<DriveSystem> system = sg::makeLinuxDriveSystem();
    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::RecordingQuit quit{log};
    ui::ProgressModel progress;
    DeviceAccess access;
    DriveEntry entry;
    Requests requests{access, progress, dialogs};
};

} // namespace

TEST_F(UmockdevBackend, EnumeratesTheMockedDrives)
{
    const auto roots = system->driveRoots();
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[0].letter, 'D');
    EXPECT_EQ(roots[0].type, DriveType::CdRom);
    EXPECT_EQ(roots[0].node, "/dev/sr0");
    EXPECT_EQ(roots[1].letter, 'E');
    EXPECT_EQ(roots[1].node, "/dev/sr1");
    const auto drives = sg::listOpticalDrives({});
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].genericNode, "/dev/sg0");
    EXPECT_EQ(drives[1].target, 1);
}

TEST_F(UmockdevBackend, DiscoverySendsInquiryThroughSgIo)
{
    DriveTable table;
    const DiscoveryResult found = discoverDrives(table, access, *system, dialogs, quit);
    ASSERT_EQ(found.lines.size(), 1u);
    EXPECT_EQ(found.lines[0].text, "0-0-0 D: KORVANE QVX-5500        VQ8E");
    EXPECT_EQ(found.lines[0].node, "/dev/sr0");
    EXPECT_EQ(found.unsupportedLines, "0-1-0 E: KORVANE QVX-9000        VQ10\n");
    EXPECT_EQ(table.entries[0].target, 0);
    EXPECT_EQ(quit.count(), 0);

    std::lock_guard g(bed->supported.lock);
    ASSERT_EQ(bed->supported.seen.size(), 1u);
    const Seen& s = bed->supported.seen[0];
    EXPECT_EQ(bed->supported.drive->requests().at(0).cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 0x80, 0}));
    EXPECT_EQ(s.direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(s.dxferLength, 128u);
    EXPECT_EQ(s.timeout, 3000u);
    EXPECT_EQ(s.maxSense, 24u);
}

TEST_F(UmockdevBackend, RequestsCarryTheirDirectionTimeOutAndData)
{
    openForFlash();
    EXPECT_TRUE(requests.StartStopUnit(entry, 3));
    EXPECT_TRUE(requests.XCommand(entry, 0)) << "no medium: 02/3A through the real sense path";

    std::vector<std::uint8_t> piece(16384);
    for (std::size_t i = 0; i < piece.size(); ++i)
        piece[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
    progress.setMin(0);
    progress.setMax(262144);
    progress.setStep(16384);
    progress.setPosition(16384);
    EXPECT_TRUE(requests.WriteBuffer(entry, piece, 0));

    std::lock_guard g(bed->supported.lock);
    const auto& seen = bed->supported.seen;
    const auto& received = bed->supported.drive->requests();
    ASSERT_EQ(seen.size(), 3u);
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].cdb, (std::vector<std::uint8_t>{0x1B, 0, 0, 0, 3, 0}));
    EXPECT_EQ(seen[0].direction, SG_DXFER_NONE) << "DataIn 1 with no data moves nothing";
    EXPECT_EQ(seen[0].timeout, 9000u);
    EXPECT_EQ(received[1].cdb, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(seen[1].direction, SG_DXFER_NONE);
    EXPECT_EQ(received[2].cdb,
              (std::vector<std::uint8_t>{0x3B, 0x05, 0x01, 0x00, 0x40, 0x00, 0x00, 0x40, 0x00, 0x00}));
    EXPECT_EQ(seen[2].direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(seen[2].dxferLength, 16384u);
    EXPECT_EQ(received[2].dataOut, piece) << "the drive received the caller's block";
}

TEST_F(UmockdevBackend, TheDrivesRefusalReachesTheUserAsSense)
{
    openForFlash();
    bed->supported.drive->addFault(Fault::checkCondition(1, {0x05, 0x20, 0x00}));
    progress.setMin(0);
    progress.setMax(40);
    progress.setStep(1);
    progress.setPosition(39);
    EXPECT_FALSE(requests.WriteBuffer(entry, {}, 0x80));
    EXPECT_EQ(messages(), std::vector<std::string>{"Scsi status: 02h, SensCode: 05 20 00"});
    EXPECT_EQ(requests.directRecord()[record::kSenseInfoLength], 18);

    std::lock_guard g(bed->supported.lock);
    const Seen& closing = bed->supported.seen.back();
    EXPECT_EQ(bed->supported.drive->requests().back().cdb,
              (std::vector<std::uint8_t>{0x3B, 0x05, 0x01, 0x00, 0x00, 0x27, 0x00, 0x00, 0x01, 0x80}));
    EXPECT_EQ(closing.direction, SG_DXFER_NONE);
    EXPECT_EQ(closing.dxferLength, 0u);
    EXPECT_EQ(closing.timeout, 40000u);
}

TEST_F(UmockdevBackend, TransportFailuresAreNeverGood)
{
    openForFlash();
    progress.setMin(0);
    progress.setMax(40);
    progress.setStep(1);
    progress.setPosition(39);
    struct Case {
        std::uint16_t host, driver; // the kernel's word, or the drive's fault:
        std::optional<Fault> fault;
        const char* expected;
    };
    for (const Case& k : {Case{0, 0, Fault::vanish(1), "Error sending SCSI command; error was 19"}, // DID_NO_CONNECT
                          Case{0, 0, Fault::timeOut(1), "Error sending SCSI command; error was 110"}, // DID_TIME_OUT
                          Case{0, 0x06, {}, "Error sending SCSI command; error was 110"},  // DRIVER_TIMEOUT
                          Case{0x07, 0, {}, "Error sending SCSI command; error was 5"},    // DID_ERROR
                          Case{0, 0, Fault::refused(1, EIO), "Error sending SCSI command; error was 5"},
                          Case{0, 0, Fault::refused(1, EPERM), "Error sending SCSI command; error was 1"}}) {
        log.clear();
        bed->supported.reset(); // the drive would say GOOD to the closing request if it got a say
        {
            std::lock_guard g(bed->supported.lock);
            bed->supported.hostStatus = k.host;
            bed->supported.driverStatus = k.driver;
            if (k.fault)
                bed->supported.drive->addFault(*k.fault);
        }
        EXPECT_FALSE(requests.WriteBuffer(entry, {}, 0x80)) << k.expected;
        EXPECT_EQ(messages(), std::vector<std::string>{k.expected});
    }
}

TEST_F(UmockdevBackend, ShortReadBufferIsAFailure)
{
    openForFlash();
    std::vector<std::uint8_t> block(16384);
    progress.setMin(0);
    progress.setMax(262144);
    progress.setStep(16384);
    progress.setPosition(0);
    EXPECT_TRUE(requests.ReadBuffer(entry, block));
    EXPECT_EQ(block, std::vector<std::uint8_t>(16384, 0xFF)) << "the drive's erased buffer";
    EXPECT_EQ(requests.lastCall().dataTransferred, 16384u);

    bed->supported.drive->addFault(Fault::shortRead(2, 100));
    EXPECT_FALSE(requests.ReadBuffer(entry, block));
    EXPECT_EQ(requests.lastCall().dataTransferred, 16284u);
    EXPECT_EQ(log.events().size(), 1u);
}

TEST_F(UmockdevBackend, PortInquiryQueryUsesTheSgNode)
{
    openForFlash();
    std::vector<std::uint8_t> out(2048, 0xAA);
    CallResult r = access.device->queryInquiryData(out);
    EXPECT_TRUE(r.callSucceeded());
    EXPECT_EQ(out[4], 5) << "the peripheral type the port reported";
    EXPECT_EQ(out[5], 0);

    bed->supported.scsiIdErrno = EINVAL;
    r = access.device->queryInquiryData(out);
    EXPECT_EQ(r.outcome, Outcome::OsError);
    EXPECT_EQ(r.error, EINVAL);
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // umockdev_in_mock_environment() only turns true once a testbed exists; the preload
    // library is what must be there.
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "umockdev-preload") == nullptr) {
        std::fprintf(stderr, "SKIPPED: not running under umockdev-wrapper (umockdev not installed?)\n");
        return kSkip;
    }
    bed = new Bed;
    const int rc = RUN_ALL_TESTS();
    g_object_unref(bed->testbed);
    return rc;
}

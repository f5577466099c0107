// The drive behind the kernel rig's SCSI target: serves the command ring of every TCMU
// device (/dev/uioN of a "tcm-user" backstore) whose configuration string is
// "qvx/<folder>", with the virtual drive of that folder (its "drive" description, its
// faults, firmware.bin written on the closing WRITE BUFFER). The kernel attaches sr and sg
// to each device as to any SCSI CD-ROM drive on the loopback host.
//
//   qvx_tcmu_handler HOLD_SECONDS
//
// A command that the drive model does not answer (a time-out fault, or the drive vanishing)
// stays in the ring unanswered for HOLD_SECONDS, long enough for the kernel to give up on
// it; meanwhile nothing else is served (SIGHUP or SIGTERM end the wait early). When a drive vanishes, "<folder>/take-away" is run
// (sh) in a child process: the rig's script that removes the device from the target.
// Every command is logged on standard output as one line:
//   TCMU <folder name> #<n> cdb=<hex> iov=<count> len=<bytes> dir=<none|out|in> -> <what>
// SIGHUP makes every drive anew from its folder (a scenario's faults, a fresh download
// buffer and request count) and logs "TCMU reloaded". SIGTERM ends the handler between
// commands, answering a held command first.
#include "virtual_drive.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// The ring's layout (the kernel's target_core_user.h, whose inline functions do not compile
// as C++): a mailbox at the start of the mapping, then entries of a header and a request
// that the response overwrites. The request part keeps its natural alignment inside the
// packed entry: cdb_off at byte 24, the iovecs from byte 48.
struct RingIovec {
    std::uint64_t base; // offset into the mapping
    std::uint64_t length;
};
struct Mailbox {
    std::uint16_t version;
    std::uint16_t flags;
    std::uint32_t cmdrOff;
    std::uint32_t cmdrSize;
    std::uint32_t cmdHead;
    alignas(64) std::uint32_t cmdTail;
};
struct Request {
    std::uint32_t iovCount;
    std::uint32_t iovBidiCount;
    std::uint32_t iovDifCount;
    std::uint64_t cdbOff;
    std::uint64_t pad1;
    std::uint64_t pad2;
};
struct Response {
    std::uint8_t scsiStatus;
    std::uint8_t pad1;
    std::uint16_t pad2;
    std::uint32_t readLength;
    std::uint8_t sense[96];
};
struct __attribute__((packed)) Entry {
    std::uint32_t lenOp;
    std::uint16_t cmdId;
    std::uint8_t kflags;
    std::uint8_t uflags;
    union {
        Request req;
        Response rsp;
    };
};
static_assert(offsetof(Mailbox, cmdTail) == 64);
static_assert(offsetof(Entry, req) + offsetof(Request, cdbOff) == 24);
static_assert(offsetof(Entry, req) + sizeof(Request) == 48); // the iovecs follow
static_assert(offsetof(Entry, rsp) + offsetof(Response, readLength) == 12);
static_assert(offsetof(Entry, rsp) + offsetof(Response, sense) == 16);

constexpr std::uint32_t kOpMask = 0x7;
constexpr std::uint32_t kOpPad = 0, kOpCmd = 1, kOpTmr = 2;
constexpr std::uint8_t kUnknownOpFlag = 0x1;
constexpr std::uint8_t kReadLengthFlag = 0x2;
constexpr std::uint16_t kCanReportReadLength = 1 << 1;

constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kCheckCondition = 0x02;

volatile sig_atomic_t stopping = 0;
volatile sig_atomic_t reloading = 0;
void onTerm(int) { stopping = 1; }
void onHangUp(int) { reloading = 1; }

std::string readLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

std::size_t cdbLength(std::uint8_t opcode)
{
    switch (opcode >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 10;
    }
}

std::string hex(const std::uint8_t* bytes, std::size_t n)
{
    std::string text;
    char b[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        text += b;
    }
    return text;
}

struct Ring {
    std::string folder;
    std::string name; // the folder's last part, for the log
    int fd = -1;
    std::uint8_t* map = nullptr;
    std::shared_ptr<scsi::VirtualDrive> drive;
    unsigned commands = 0;
    bool gone = false; // taken away from the target

    Mailbox* mailbox() const { return reinterpret_cast<Mailbox*>(map); }
};

// The devices of this rig: uio nodes named "tcm-user/<hba>/<device>/qvx/<folder>".
std::vector<Ring> openRings()
{
    std::vector<Ring> rings;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/uio", ec)) {
        const std::string uio = entry.path().filename();
        const std::string name = readLine(entry.path() / "name");
        const auto at = name.find("/qvx/");
        if (name.rfind("tcm-user/", 0) != 0 || at == std::string::npos)
            continue;
        Ring r;
        r.folder = name.substr(at + 5);
        r.name = std::filesystem::path(r.folder).filename();
        const std::size_t size = std::stoul(readLine(entry.path() / "maps/map0/size"), nullptr, 16);
        r.fd = ::open(("/dev/" + uio).c_str(), O_RDWR | O_CLOEXEC);
        if (r.fd < 0) {
            std::printf("TCMU cannot open /dev/%s: %s\n", uio.c_str(), std::strerror(errno));
            continue;
        }
        void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, r.fd, 0);
        if (map == MAP_FAILED) {
            std::printf("TCMU cannot map /dev/%s: %s\n", uio.c_str(), std::strerror(errno));
            ::close(r.fd);
            continue;
        }
        r.map = static_cast<std::uint8_t*>(map);
        r.drive = scsi::loadVirtualDriveFolder(r.folder).drive;
        std::printf("TCMU serving %s on /dev/%s (%s)\n", r.name.c_str(), uio.c_str(), r.folder.c_str());
        rings.push_back(std::move(r));
    }
    return rings;
}

void holdUnanswered(unsigned seconds)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!stopping && !reloading && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void takeAway(const Ring& r)
{
    const std::string script = r.folder + "/take-away";
    if (::fork() == 0) {
        ::execl("/bin/sh", "sh", script.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
}

// Serves one command entry; its response overwrites the request part.
void serve(Ring& r, Entry* entry, unsigned holdSeconds)
{
    const std::uint8_t* cdbAt = r.map + entry->req.cdbOff;
    const std::vector<std::uint8_t> cdb(cdbAt, cdbAt + cdbLength(cdbAt[0]));
    std::vector<RingIovec> iov(entry->req.iovCount);
    std::memcpy(iov.data(), reinterpret_cast<const std::uint8_t*>(entry) + 48,
                iov.size() * sizeof(RingIovec));
    std::size_t length = 0;
    for (const RingIovec& v : iov)
        length += v.length;
    // The ring says nothing of the direction: WRITE BUFFER is this drive's one command
    // that takes data.
    const scsi::DataDirection direction = length == 0 ? scsi::DataDirection::None
                                          : cdb[0] == kWriteBuffer ? scsi::DataDirection::ToDrive
                                                                   : scsi::DataDirection::FromDrive;
    std::vector<std::uint8_t> data(length, 0);
    if (direction == scsi::DataDirection::ToDrive) {
        std::size_t at = 0;
        for (const RingIovec& v : iov) {
            std::copy_n(r.map + v.base, v.length, data.begin() + at);
            at += v.length;
        }
    }

    const scsi::CommandAnswer a = r.drive->command(cdb, direction, data);
    std::string what;
    if (a.fate == scsi::CommandAnswer::Fate::Answered) {
        char b[64];
        std::snprintf(b, sizeof b, "status %02X moved %u", a.status, a.transferred);
        what = b;
        if (a.sense) {
            std::snprintf(b, sizeof b, " sense %02X/%02X/%02X", a.sense->key, a.sense->asc,
                          a.sense->ascq);
            what += b;
        }
    } else {
        what = a.fate == scsi::CommandAnswer::Fate::Vanished ? "drive gone, unanswered" : "unanswered";
    }
    static const char* const dirs[] = {"none", "out", "in"};
    std::printf("TCMU %s #%u cdb=%s iov=%zu len=%zu dir=%s -> %s\n", r.name.c_str(), ++r.commands,
                hex(cdb.data(), cdb.size()).c_str(), iov.size(), length,
                dirs[static_cast<int>(direction)], what.c_str());
    std::fflush(stdout);

    std::memset(&entry->rsp, 0, sizeof entry->rsp);
    if (a.fate != scsi::CommandAnswer::Fate::Answered) {
        // A drive already gone holds nothing up: only the command it vanished at waits.
        const bool vanishing = a.fate == scsi::CommandAnswer::Fate::Vanished && !r.gone;
        if (vanishing) {
            r.gone = true;
            takeAway(r);
        }
        if (vanishing || a.fate != scsi::CommandAnswer::Fate::Vanished)
            holdUnanswered(holdSeconds);
        // Late, if at all: the kernel has given the command up by now.
        entry->rsp.scsiStatus = kCheckCondition;
        const auto sense = scsi::fixedSense({0x0B, 0x00, 0x00});
        std::memcpy(entry->rsp.sense, sense.data(), sense.size());
        return;
    }
    if (direction == scsi::DataDirection::FromDrive) {
        std::size_t at = 0;
        for (const RingIovec& v : iov) {
            if (at >= a.transferred)
                break;
            const std::size_t n = std::min<std::size_t>(v.length, a.transferred - at);
            std::copy_n(data.begin() + at, n, r.map + v.base);
            at += n;
        }
        if (r.mailbox()->flags & kCanReportReadLength) {
            entry->uflags |= kReadLengthFlag;
            entry->rsp.readLength = a.transferred;
        }
    }
    entry->rsp.scsiStatus = a.status;
    if (a.sense) {
        const auto sense = scsi::fixedSense(*a.sense);
        std::memcpy(entry->rsp.sense, sense.data(), sense.size());
    }
}

// Serves every entry between the ring's tail and head; true when one was served.
bool drain(Ring& r, unsigned holdSeconds)
{
    Mailbox* mb = r.mailbox();
    std::uint32_t tail = __atomic_load_n(&mb->cmdTail, __ATOMIC_ACQUIRE);
    const std::uint32_t head = __atomic_load_n(&mb->cmdHead, __ATOMIC_ACQUIRE);
    if (tail == head)
        return false;
    while (tail != head) {
        auto* entry = reinterpret_cast<Entry*>(r.map + mb->cmdrOff + tail);
        const std::uint32_t lenOp = entry->lenOp;
        switch (lenOp & kOpMask) {
        case kOpPad:
        case kOpTmr:
            break;
        case kOpCmd:
            serve(r, entry, holdSeconds);
            break;
        default:
            entry->uflags |= kUnknownOpFlag;
            break;
        }
        tail = (tail + (lenOp & ~kOpMask)) % mb->cmdrSize;
        __atomic_store_n(&mb->cmdTail, tail, __ATOMIC_RELEASE);
    }
    const std::uint32_t kick = 0;
    (void)!::write(r.fd, &kick, sizeof kick); // tells the kernel to collect the answers
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned holdSeconds = argc > 1 ? static_cast<unsigned>(std::stoul(argv[1])) : 10;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    ::signal(SIGCHLD, SIG_IGN);
    struct sigaction term{};
    term.sa_handler = onTerm;
    ::sigaction(SIGTERM, &term, nullptr);
    struct sigaction hangUp{};
    hangUp.sa_handler = onHangUp;
    ::sigaction(SIGHUP, &hangUp, nullptr);

    std::vector<Ring> rings = openRings();
    if (rings.empty()) {
        std::printf("TCMU no device to serve\n");
        return 1;
    }
    std::vector<pollfd> fds;
    for (const Ring& r : rings)
        fds.push_back({r.fd, POLLIN, 0});
    while (!stopping) {
        if (reloading) {
            reloading = 0;
            for (Ring& r : rings) {
                r.drive = scsi::loadVirtualDriveFolder(r.folder).drive;
                r.commands = 0;
                r.gone = false;
            }
            std::printf("TCMU reloaded\n");
        }
        // A command queued before the node was opened raises no event: drain first.
        for (Ring& r : rings)
            drain(r, holdSeconds);
        if (::poll(fds.data(), fds.size(), 200) <= 0)
            continue;
        for (std::size_t i = 0; i < rings.size(); ++i) {
            if (fds[i].revents & POLLIN) {
                std::uint32_t events = 0;
                (void)!::read(rings[i].fd, &events, sizeof events);
            }
        }
    }
    return 0;
}

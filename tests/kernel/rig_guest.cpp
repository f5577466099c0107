// The program that runs inside the emulated machine of the kernel rig. It drives the
// program's own libraries (the Linux drive system, discovery, the request routines, the
// flash procedure) against QEMU's emulated SCSI CD-ROM drives on a real kernel, with
// dialogs answered by script, and checks what the user would see.
//
// The machine has three drives on one virtio-scsi bus, lettered by SCSI target:
//   D  target 0  KORVANE QVX-5500 VQ8E   no disc
//   E  target 1  KORVANE QVX-9000 VQ10   a disc (another product: not supported)
//   F  target 2  KORVANE QVX-5500 VQ8E   a disc
// Usage: rig_guest <scenario>; prints what the user saw and exits 0 when every check held.
#include "flash_procedure.h"
#include "restart_offer.h"
#include "waiter.h"

#include "discovery.h"
#include "linux_pass_through.h"
#include "requests.h"
#include "scripted_ui.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

using namespace scsi;

namespace {

const std::string kLineD = "0-0-0 D: KORVANE QVX-5500        VQ8E";
const std::string kLineE = "0-1-0 E: KORVANE QVX-9000        VQ10";
const std::string kLineF = "0-2-0 F: KORVANE QVX-5500        VQ8E";

int failures = 0;
std::string scenario;

void check(bool ok, const std::string& what)
{
    if (!ok) {
        ++failures;
        std::printf("RIG CHECK FAILED [%s]: %s\n", scenario.c_str(), what.c_str());
    }
}

template <typename T>
std::string show(const std::vector<T>& items)
{
    std::string text = "{";
    for (const auto& i : items)
        text += " \"" + i + "\"";
    return text + " }";
}

class NoRestart : public flash::RestartSystem {
public:
    flash::StepResult openSession() override { return {false, 1, "no restarts in the rig"}; }
    flash::StepResult lookupRebootRight() override { return {false, 1, {}}; }
    flash::StepResult enableRebootRight() override { return {false, 1, {}}; }
    void reboot() override {}
};

// The guest has no logind: the flash goes on without a lock, as it does on such a system.
class NoLock : public flash::PowerInhibitor {
public:
    std::unique_ptr<flash::PowerLock> hold(const std::string&) override { return nullptr; }
};

// Everything the user would see, answered by script (Yes to every question).
struct User {
    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::RecordingStatusLine status{log};
    ui::RecordingCursor cursor{log};
    ui::RecordingQuit quit{log};

    User() { dialogs.setFallback(ui::Button::Yes); }

    // The texts of the boxes shown (messages and dialogs), in order.
    std::vector<std::string> boxes() const
    {
        std::vector<std::string> texts;
        for (const auto& e : log.events())
            if (e.kind == "message" || e.kind == "box")
                texts.push_back(e.text);
        return texts;
    }
    void print() const
    {
        for (const auto& line : log.lines()) {
            std::string flat = line;
            for (auto& c : flat)
                if (c == '\n')
                    c = '|';
            std::printf("  user saw: %s\n", flat.c_str());
        }
    }
};

struct Machine {
    std::unique_ptr<DriveSystem> drives = sg::makeLinuxDriveSystem();
    DriveTable table;
    DeviceAccess access;
    ui::ProgressModel progress;
};

DiscoveryResult discover(Machine& m, User& user)
{
    DiscoveryResult found = discoverDrives(m.table, m.access, *m.drives, user.dialogs, user.quit);
    for (std::size_t i = 0; i < found.lines.size(); ++i)
        std::printf("  line %zu: \"%s\" (%s)\n", i, found.lines[i].c_str(),
                    i < found.nodes.size() ? found.nodes[i].c_str() : "?");
    std::printf("  unsupported: \"%s\"\n", found.unsupportedLines.c_str());
    return found;
}

void expectDiscovery(const DiscoveryResult& found, const User& user)
{
    check(found.lines == std::vector<std::string>{kLineD, kLineF},
          "lines " + show(found.lines));
    check(found.unsupportedLines == kLineE + "\n", "unsupported \"" + found.unsupportedLines + "\"");
    check(found.selection == 1, "selection " + std::to_string(found.selection));
    check(user.boxes().empty(), "no message during discovery, got " + show(user.boxes()));
    check(user.quit.count() == 0, "no quit request");
}

std::vector<std::uint8_t> image()
{
    std::vector<std::uint8_t> bytes(flash::kImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 13 + (i >> 11));
    return bytes;
}

// Runs the Flash button's procedure on line `line` after a discovery.
flash::FlashReport runFlash(Machine& m, User& user, int line)
{
    static const std::vector<std::uint8_t> firmware = image();
    const flash::ImageSlot slot(firmware.data(), flash::kImageSize);
    Requests requests(m.access, m.progress, user.dialogs);
    flash::DirectWaiter waiter;
    NoRestart noRestart;
    NoLock noLock;
    flash::RestartOffer offer(user.dialogs, user.status, user.cursor, noRestart);
    flash::FlashProcedure procedure(flash::FlashParts{
        m.table, [line] { return line; }, m.access, *m.drives, requests, m.progress, user.dialogs,
        user.status, user.cursor, waiter, offer, noLock, "/rig/W2KVQ8FVQ.EXE", slot, slot});
    const flash::FlashReport report = procedure.run();
    std::printf("  flash outcome %d, piece %d, error %d, last call outcome %d error %d (%s)\n",
                static_cast<int>(report.outcome), report.piece, report.error,
                static_cast<int>(report.lastCall.outcome), report.lastCall.error,
                report.lastCall.detail.c_str());
    return report;
}

// Opens drive `letter` for a flash and sends WRITE BUFFER requests as the flash does.
void writeBuffers(Machine& m, User& user, char letter, bool closingToo)
{
    OpenResult opened = m.drives->open(letter, OpenMode::Exclusive);
    check(opened.device != nullptr, "exclusive open of " + std::string(1, letter) + ": error "
                                        + std::to_string(opened.error));
    if (!opened.device)
        return;
    m.access.device = std::move(opened.device);
    DriveEntry entry;
    entry.letter = letter;
    Requests requests(m.access, m.progress, user.dialogs);
    std::vector<std::uint8_t> piece = image();
    piece.resize(flash::kPieceSize);

    m.progress.setMin(0);
    m.progress.setMax(flash::kImageSize);
    m.progress.setStep(flash::kPieceSize);
    m.progress.setPosition(0);
    check(!requests.WriteBuffer(entry, piece, 0), "the first piece's WRITE BUFFER must fail");
    std::printf("  piece: outcome %d error %d (%s)\n", static_cast<int>(requests.lastCall().outcome),
                requests.lastCall().error, requests.lastCall().detail.c_str());

    if (closingToo) {
        m.progress.setMin(0);
        m.progress.setMax(flash::kClosingMax);
        m.progress.setStep(1);
        m.progress.setPosition(39);
        check(!requests.WriteBuffer(entry, piece, flash::kClosingControl),
              "the closing WRITE BUFFER must fail");
        std::printf("  closing: outcome %d error %d (%s)\n",
                    static_cast<int>(requests.lastCall().outcome), requests.lastCall().error,
                    requests.lastCall().detail.c_str());
    }
    m.access.device.reset();
}

// Runs f in a child process as user and group "nobody"; returns its failure count.
int asNobody(const std::function<void()>& f)
{
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid == 0) {
        failures = 0;
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            std::printf("RIG CHECK FAILED [%s]: cannot become nobody\n", scenario.c_str());
            std::fflush(stdout);
            ::_exit(1);
        }
        f();
        std::fflush(stdout);
        ::_exit(failures > 0 ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

const std::string kSenseIllegal = "Scsi status: 02h, SensCode: 05 20 00";
const std::string kSenseNoMedium = "Scsi status: 02h, SensCode: 02 3A 00";

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    scenario = argc > 1 ? argv[1] : "";

    if (scenario == "node-of" && argc > 2) {
        // The block node of a drive letter, for the init script's mount.
        for (const auto& d : sg::listOpticalDrives({}))
            if (d.letter == argv[2][0])
                std::printf("%s\n", d.blockNode.c_str());
        return 0;
    }

    if (scenario == "hold" && argc > 3) {
        // Holds drive argv[2] open for a flash for argv[3] milliseconds, sending nothing,
        // so the init script can watch what the kernel sends to the drive meanwhile.
        auto drives = sg::makeLinuxDriveSystem();
        const OpenResult opened = drives->open(argv[2][0], OpenMode::Exclusive);
        std::printf("  holding %c: %s\n", argv[2][0],
                    opened.device ? "open" : ("error " + std::to_string(opened.error)).c_str());
        ::usleep(static_cast<useconds_t>(std::atoi(argv[3])) * 1000u);
        return opened.device ? 0 : 1;
    }

    if (scenario == "discovery") {
        Machine m;
        User user;
        const DiscoveryResult found = discover(m, user);
        user.print();
        expectDiscovery(found, user);
        check(found.nodes.size() == 2 && found.nodes[0].rfind("/dev/sr", 0) == 0,
              "nodes " + show(found.nodes));
        const auto drives = sg::listOpticalDrives({});
        check(drives.size() == 3, "three optical drives in sysfs");
        for (const auto& d : drives)
            std::printf("  drive %c: %s %s %d:%d:%d:%d\n", d.letter, d.blockNode.c_str(),
                        d.genericNode.c_str(), d.host, d.channel, d.target, d.lun);
    } else if (scenario == "flash-empty") {
        // No disc: the poll sees "medium not present" at once, then the drive refuses the
        // first image piece, and the user sees the drive's own answer.
        Machine m;
        User user;
        discover(m, user);
        const flash::FlashReport report = runFlash(m, user, 0);
        user.print();
        check(report.outcome == flash::FlashOutcome::WriteFailed, "outcome WriteFailed");
        check(report.piece == 0, "fails at piece 0");
        check(user.boxes() == std::vector<std::string>{kSenseNoMedium, flash::kWriteFail},
              "boxes " + show(user.boxes()));
        check(user.status.caption() == flash::kWriteFail, "caption " + user.status.caption());
    } else if (scenario == "flash-disc") {
        // A disc in the drive: the flash stops before it writes anything.
        Machine m;
        User user;
        discover(m, user);
        const flash::FlashReport report = runFlash(m, user, 1);
        user.print();
        check(report.outcome == flash::FlashOutcome::NotReady, "outcome NotReady");
        check(user.boxes() == std::vector<std::string>{kRemoveDiscText}, "boxes " + show(user.boxes()));
    } else if (scenario == "write-buffer-disc") {
        // The drive's real answers to this program's WRITE BUFFER requests.
        Machine m;
        User user;
        m.drives->driveRoots();
        writeBuffers(m, user, 'F', true);
        user.print();
        const auto boxes = user.boxes();
        check(boxes.size() == 2 && boxes[0] == kSenseIllegal, "piece answered 05/20/00: " + show(boxes));
        check(boxes.size() == 2 && boxes[1].rfind("Error sending SCSI command; error was ", 0) == 0,
              "closing request (length 1, no data) is a transport failure: " + show(boxes));
    } else if (scenario == "flash-mounted") {
        // The disc of F is mounted: identification still works (no exclusive claim), the
        // flash's exclusive open fails with EBUSY.
        Machine m;
        User user;
        const DiscoveryResult found = discover(m, user);
        expectDiscovery(found, user);
        const flash::FlashReport report = runFlash(m, user, 1);
        user.print();
        check(report.outcome == flash::FlashOutcome::OpenFailed, "outcome OpenFailed");
        check(report.error == EBUSY, "error " + std::to_string(report.error));
        check(user.boxes() == std::vector<std::string>{"Error opening: 16"}, "boxes " + show(user.boxes()));
    } else if (scenario == "no-rights") {
        // Node rights as a fresh system sets them (root only): a user learns it at open.
        failures += asNobody([] {
            Machine m;
            User user;
            const DiscoveryResult found = discover(m, user);
            user.print();
            check(found.lines.empty(), "no line");
            check(user.boxes()
                      == std::vector<std::string>{"Error opening: 13", "Error opening: 13",
                                                  "Error opening: 13"},
                  "boxes " + show(user.boxes()));
            check(user.quit.count() > 0, "quit requested");
            const OpenResult opened = m.drives->open('D', OpenMode::Exclusive);
            check(!opened.device && opened.error == EACCES,
                  "flash open refused: " + std::to_string(opened.error));
        });
    } else if (scenario == "granted") {
        // Read/write on the sg and block nodes, as udev's uaccess tag gives the desktop
        // user: no root, no capability, and WRITE BUFFER reaches the drive.
        failures += asNobody([] {
            Machine m;
            User user;
            const DiscoveryResult found = discover(m, user);
            expectDiscovery(found, user);
            writeBuffers(m, user, 'F', false);
            user.print();
            check(user.boxes() == std::vector<std::string>{kSenseIllegal},
                  "the drive itself answered: " + show(user.boxes()));
        });
    } else if (scenario == "no-sg") {
        // The sg module is gone: the block nodes carry the requests. Root gets through;
        // a user without CAP_SYS_RAWIO is told at open.
        Machine m;
        User user;
        const DiscoveryResult found = discover(m, user);
        expectDiscovery(found, user);
        for (const auto& d : sg::listOpticalDrives({}))
            check(d.genericNode.empty(), "no sg node for " + d.blockNode);
        writeBuffers(m, user, 'F', false);
        user.print();
        check(user.boxes() == std::vector<std::string>{kSenseIllegal}, "boxes " + show(user.boxes()));
        failures += asNobody([] {
            Machine m;
            User user;
            const DiscoveryResult found = discover(m, user);
            user.print();
            check(found.lines.empty(), "no line");
            check(user.boxes().size() == 3 && user.boxes()[0] == "Error opening: 1",
                  "boxes " + show(user.boxes()));
        });
    } else {
        std::printf("unknown scenario '%s'\n", scenario.c_str());
        return 2;
    }
    return failures > 0 ? 1 : 0;
}

// The program that runs inside the emulated machine of the kernel rig. It drives the
// program's own libraries (the Linux drive system, discovery, the request routines, the
// flash procedure) against QEMU's emulated SCSI CD-ROM drives on a real kernel, with
// dialogs answered by script, and checks what the user would see.
//
// The machine has three drives on one virtio-scsi bus, lettered by SCSI target:
//   D  target 0  KORVANE QVX-5500 VQ8E   no disc
//   E  target 1  KORVANE QVX-9000 VQ10   a disc (another product: not supported)
//   F  target 2  KORVANE QVX-5500 VQ8E   a disc
// Later these leave, and the "tcmu-" scenarios run against the drive model served behind
// the kernel's SCSI target (their table is further down).
// Usage: rig_guest <scenario>; prints what the user saw and exits 0 when every check held.
#include "flash_procedure.h"
#include "restart_offer.h"
#include "waiter.h"

#include "as_nobody.h"
#include "discovery.h"
#include "linux_pass_through.h"
#include "requests.h"
#include "scripted_ui.h"
#include "virtual_drive.h"

#include "linux_drive_list.h"
#include "records.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
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

// One column of the drive list: the lines' texts or their nodes.
std::vector<std::string> column(const std::vector<DriveLine>& lines, std::string DriveLine::*field)
{
    std::vector<std::string> out;
    for (const DriveLine& line : lines)
        out.push_back(line.*field);
    return out;
}

class NoRestart : public flash::RestartSystem {
public:
    flash::StepResult openSession() override { return {false, 1, "no restarts in the rig"}; }
    flash::StepResult findRebootService() override { return {false, 1, {}}; }
    flash::StepResult checkRebootAllowed() override { return {false, 1, {}}; }
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
        std::printf("  line %zu: \"%s\" (%s)\n", i, found.lines[i].text.c_str(),
                    found.lines[i].node.c_str());
    std::printf("  unsupported: \"%s\"\n", found.unsupportedLines.c_str());
    return found;
}

void expectDiscovery(const DiscoveryResult& found, const User& user)
{
    const std::vector<std::string> listed = column(found.lines, &DriveLine::text);
    check(listed == std::vector<std::string>{kLineD, kLineF}, "lines " + show(listed));
    check(found.unsupportedLines == kLineE + "\n", "unsupported \"" + found.unsupportedLines + "\"");
    check(found.selection == 1, "selection " + std::to_string(found.selection));
    check(user.boxes().empty(), "no message during discovery, got " + show(user.boxes()));
    check(user.quit.count() == 0, "no quit request");
}

std::vector<std::uint8_t> image(unsigned seed = 13)
{
    std::vector<std::uint8_t> bytes(flash::kImageSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * seed + (i >> 11));
    return bytes;
}

// Runs the Flash button's procedure on line `line` after a discovery, the program file
// named name carrying slot1 and slot2.
flash::FlashReport runFlash(Machine& m, User& user, int line, const std::string& name,
                            flash::ImageSlot slot1, flash::ImageSlot slot2)
{
    Requests requests(m.access, m.progress, user.dialogs);
    flash::DirectWaiter waiter;
    NoRestart noRestart;
    NoLock noLock;
    flash::RestartOffer offer(user.dialogs, user.status, user.cursor, noRestart);
    flash::FlashProcedure procedure(flash::FlashParts{
        m.table, [line] { return line; }, m.access, *m.drives, requests, m.progress, user.dialogs,
        user.status, user.cursor, waiter, offer, noLock, name, slot1, slot2});
    const flash::FlashReport report = procedure.run();
    std::printf("  flash outcome %d, piece %d, error %d, last call outcome %d error %d (%s)\n",
                static_cast<int>(report.outcome), report.piece, report.error,
                static_cast<int>(report.lastCall.outcome), report.lastCall.error,
                report.lastCall.detail.c_str());
    return report;
}

flash::FlashReport runFlash(Machine& m, User& user, int line)
{
    static const std::vector<std::uint8_t> firmware = image();
    const flash::ImageSlot slot(firmware.data(), flash::kImageSize);
    return runFlash(m, user, line, "/rig/W2KVQ8FVQ.EXE", slot, slot);
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

// Runs f's checks in a child process as user and group "nobody", with no supplementary
// group left that root held; returns its failure count.
int asNobody(const std::function<void()>& f)
{
    std::fflush(stdout);
    const int code = testsupport::asNobody([&] {
        failures = 0;
        f();
        std::fflush(stdout);
        return failures > 0 ? 1 : 0;
    });
    if (code == 250)
        std::printf("RIG CHECK FAILED [%s]: cannot become nobody\n", scenario.c_str());
    return code == 0 ? 0 : 1;
}

const std::string kSenseIllegal = "Scsi status: 02h, SensCode: 05 20 00";
const std::string kSenseNoMedium = "Scsi status: 02h, SensCode: 02 3A 00";

// -- the drive model behind the kernel's SCSI target -------------------------------------
// Three TCMU backstores on the loopback host, target 1, served by qvx_tcmu_handler with the
// virtual drive of /rig/drives/<folder> (the init script sets them up):
//   D  LUN 0  d0  KORVANE QVX-5500 VQ8A   (IBM-K: slot 1)
//   E  LUN 1  d1  KORVANE QVX-5500 VQ1A   (the other variant: slot 2)
//   F  LUN 2  d2  KORVANE QVX-7000 VQ8E   (another product: not supported)

const std::string kTcmuD = "0-1-0 D: KORVANE QVX-5500        VQ8A";
const std::string kTcmuE = "0-1-1 E: KORVANE QVX-5500        VQ1A";
const std::string kTcmuF = "0-1-2 F: KORVANE QVX-7000        VQ8E";
const std::string kTcmuProgram = "/rig/W2KVQ8E12.EXE";
const std::string kHandlerLog = "/tmp/tcmu.log";
const std::string kTrace = "/sys/kernel/tracing";
constexpr const char* kClaimEnd = "qvx claim released ";
const std::string kClosingCdb = "cdb=3B 05 01 00 00 27 00 00 01 80";

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::size_t countWith(const std::vector<std::string>& lines, const std::string& part)
{
    return static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), [&](const auto& l) {
        return l.find(part) != std::string::npos;
    }));
}

// Gives every drive its plain description plus faults[folder], and waits until the handler
// has made its drives anew from them.
void armDrives(const std::map<std::string, std::string>& faults)
{
    for (const char* folder : {"d0", "d1", "d2"}) {
        const std::string dir = std::string("/rig/drives/") + folder;
        std::string text = readText(dir + "/drive.base");
        if (faults.count(folder))
            text += "fault=" + faults.at(folder) + "\n";
        check(writeText(dir + "/drive", text), "description of " + dir);
        std::filesystem::remove(dir + "/firmware.bin");
    }
    const std::size_t before = countWith(linesOf(readText(kHandlerLog)), "TCMU reloaded");
    const pid_t handler = static_cast<pid_t>(std::atoi(readText("/tmp/tcmu.pid").c_str()));
    check(handler > 0 && ::kill(handler, SIGHUP) == 0, "the handler takes SIGHUP");
    for (int i = 0; i < 300; ++i) {
        if (countWith(linesOf(readText(kHandlerLog)), "TCMU reloaded") > before)
            return;
        ::usleep(50000);
    }
    check(false, "the handler did not reload its drives");
}

// Every call the program's requests made, with what came back to the program.
struct Call {
    char letter = 0;
    std::vector<std::uint8_t> cdb;
    CallResult result;
    std::uint8_t status = 0;
    std::uint8_t senseLength = 0;
};

class RecordingDevice : public Device {
public:
    RecordingDevice(std::unique_ptr<Device> inner, char letter, std::vector<Call>& calls,
                    bool holdClaim)
        : inner_(std::move(inner)), letter_(letter), calls_(calls), holdClaim_(holdClaim)
    {
    }
    CallResult passThrough(std::uint32_t controlCode, std::span<std::uint8_t> record,
                           std::uint32_t inputLength, std::uint32_t outputLength,
                           std::span<std::uint8_t> data) override
    {
        Call c;
        c.letter = letter_;
        const RecordHeader h = decodeHeader(record);
        c.cdb.assign(h.cdb.begin(), h.cdb.begin() + std::min<std::size_t>(h.cdbLength, h.cdb.size()));
        c.result = inner_->passThrough(controlCode, record, inputLength, outputLength, data);
        c.status = record[record::kScsiStatus];
        c.senseLength = record[record::kSenseInfoLength];
        calls_.push_back(c);
        return c.result;
    }
    CallResult queryInquiryData(std::span<std::uint8_t> out) override
    {
        return inner_->queryInquiryData(out);
    }
    // Marks in the kernel's trace where the flash let go of the drive; with holdClaim, first
    // keeps the claim for 1 s more (a flash here is over within one polling period).
    void releaseClaim() override
    {
        if (holdClaim_)
            ::usleep(1000000);
        writeText(kTrace + "/trace_marker", std::string(kClaimEnd) + letter_);
        inner_->releaseClaim();
    }

private:
    std::unique_ptr<Device> inner_;
    char letter_;
    std::vector<Call>& calls_;
    bool holdClaim_;
};

// The Linux drive system, its devices recording every call; unclaimed opens a flash's
// device without the exclusive claim (to see what the claim keeps away); holdClaim makes the
// flash's end keep the claim for 1 s more.
class RecordingDrives : public DriveSystem {
public:
    explicit RecordingDrives(bool unclaimed = false, bool holdClaim = false)
        : unclaimed_(unclaimed), holdClaim_(holdClaim)
    {
    }
    std::vector<DriveRoot> driveRoots() override { return inner_->driveRoots(); }
    OpenResult open(char letter, OpenMode mode) override
    {
        OpenResult r = inner_->open(letter, unclaimed_ ? OpenMode::Identify : mode);
        if (r.device)
            r.device = std::make_unique<RecordingDevice>(std::move(r.device), letter, calls, holdClaim_);
        return r;
    }
    std::vector<Call> calls;

private:
    std::unique_ptr<DriveSystem> inner_ = sg::makeLinuxDriveSystem();
    bool unclaimed_;
    bool holdClaim_;
};

std::string hexBytes(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char b[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        text += b;
    }
    return text;
}

void printCall(const char* what, const Call& c)
{
    std::printf("  %s: cdb %s -> outcome %d error %d (%s)", what, hexBytes(c.cdb).c_str(),
                static_cast<int>(c.result.outcome), c.result.error, c.result.detail.c_str());
    if (c.result.callSucceeded())
        std::printf(", status %02Xh, sense %u bytes, data moved %u", c.status, c.senseLength,
                    c.result.dataTransferred);
    std::printf("\n");
}

// The kernel's SCSI trace events of one device ("host_no=1 channel=0 id=1 lun=0 ").
std::vector<std::string> traceOf(const sg::OpticalDrive& d)
{
    char address[80];
    std::snprintf(address, sizeof address, "host_no=%d channel=%d id=%d lun=%d ", d.host,
                  d.channel, d.target, d.lun);
    std::vector<std::string> mine;
    for (const std::string& line : linesOf(readText(kTrace + "/trace")))
        if (line.find(address) != std::string::npos)
            mine.push_back(line);
    return mine;
}

std::uint8_t tracedOpcode(const std::string& line)
{
    const auto at = line.find("raw=");
    return at == std::string::npos ? 0xFF
                                   : static_cast<std::uint8_t>(std::strtoul(line.c_str() + at + 4, nullptr, 16));
}

sg::OpticalDrive driveOf(char letter)
{
    for (const auto& d : sg::listOpticalDrives({}))
        if (d.letter == letter)
            return d;
    return {};
}

// One flash through the kernel with a fault armed in one drive, and what must follow.
struct KernelCase {
    const char* name;
    int line;                  // the drive list line flashed: 0 is D (slot 1), 1 is E (slot 2)
    const char* fault;         // armed in that drive's description; "" for none
    flash::FlashOutcome outcome;
    int piece;                 // where a transfer failure happened
    std::vector<std::string> boxes; // what the user saw in boxes; "~text" only starts so
    const char* caption;       // the caption left
};

const std::vector<KernelCase>& kernelCases()
{
    using flash::FlashOutcome;
    const std::string sendError = std::string("~") + "Error sending SCSI command; error was ";
    static const std::vector<KernelCase> cases = {
        {"tcmu-flash-ibmk", 0, "", FlashOutcome::Completed, -1, {}, ""},
        {"tcmu-flash-other", 1, "", FlashOutcome::Completed, -1, {}, ""},
        {"tcmu-check-mid-piece", 0, "check-at=8@3B:03/0C/00", FlashOutcome::WriteFailed, 7,
         {"Scsi status: 02h, SensCode: 03 0C 00", flash::kWriteFail.english}, flash::kWriteFail.english},
        {"tcmu-corrupt-read", 1, "corrupt-read-at=5@3C:100", FlashOutcome::VerifyFailed, 4,
         {flash::kVerifyFail.english}, flash::kVerifyFailCaption.english},
        {"tcmu-unanswered", 0, "timeout-at=4@3B", FlashOutcome::WriteFailed, 3,
         {sendError, flash::kWriteFail.english}, flash::kWriteFail.english},
        // The closing request unanswered: the target's own time-out for a command
        // (cmd_time_out, 6 s) ends it long before the program's 40 s, with a CHECK
        // CONDITION that the target makes up (a drive would have had 40 s to save).
        {"tcmu-closing-unanswered", 0, "timeout-at=17@3B", FlashOutcome::ClosingFailed, -1,
         {"~Scsi status: 02h, SensCode: "}, flash::kFailCaption.english},
        // Last: the drive does not come back to the target.
        {"tcmu-taken-away", 1, "vanish-at=6@3C", FlashOutcome::ReadFailed, 5,
         {sendError, flash::kReadFail.english}, flash::kReadFail.english},
    };
    return cases;
}

bool boxesMatch(const std::vector<std::string>& seen, const std::vector<std::string>& wanted)
{
    if (seen.size() != wanted.size())
        return false;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const bool prefix = !wanted[i].empty() && wanted[i][0] == '~';
        if (prefix ? seen[i].rfind(wanted[i].substr(1), 0) != 0 : seen[i] != wanted[i])
            return false;
    }
    return true;
}

void runKernelCase(const KernelCase& c)
{
    const char* folder = c.line == 0 ? "d0" : "d1";
    const char letter = c.line == 0 ? 'D' : 'E';
    std::map<std::string, std::string> faults;
    if (*c.fault)
        faults[folder] = c.fault;
    armDrives(faults);
    const std::size_t logFrom = readText(kHandlerLog).size();
    const sg::OpticalDrive drive = driveOf(letter);
    writeText(kTrace + "/trace", "");

    static const std::vector<std::uint8_t> ibmK = image(29), other = image(31);
    Machine m;
    auto recording = std::make_unique<RecordingDrives>();
    RecordingDrives& calls = *recording;
    m.drives = std::move(recording);
    User user;
    user.dialogs.answer(ui::Button::Yes); // the update question
    user.dialogs.answer(ui::Button::No);  // the restart offer
    const DiscoveryResult found = discover(m, user);
    const std::vector<std::string> listed = column(found.lines, &DriveLine::text);
    check(listed == std::vector<std::string>{kTcmuD, kTcmuE}, "lines " + show(listed));
    const flash::FlashReport report =
        runFlash(m, user, c.line, kTcmuProgram, flash::ImageSlot(ibmK.data(), flash::kImageSize),
                 flash::ImageSlot(other.data(), flash::kImageSize));
    user.print();

    const std::vector<std::string> handler = linesOf(readText(kHandlerLog).substr(logFrom));
    std::size_t quiet = 0; // pieces written and read back GOOD, counted, not listed
    for (const std::string& line : handler) {
        const bool piece = (line.find("cdb=3B 05 01") != std::string::npos
                            || line.find("cdb=3C 01 01") != std::string::npos)
                           && line.find(kClosingCdb) == std::string::npos
                           && line.find("-> status 00") != std::string::npos;
        if (piece)
            ++quiet;
        else
            std::printf("  handler: %s\n", line.c_str());
    }
    std::printf("  handler: and %zu image pieces written or read GOOD\n", quiet);

    check(report.outcome == c.outcome, "outcome " + std::to_string(static_cast<int>(report.outcome)));
    check(boxesMatch(user.boxes(), c.boxes), "boxes " + show(user.boxes()));
    check(user.status.caption() == c.caption, "caption \"" + user.status.caption() + "\"");
    const std::size_t closings = countWith(handler, kClosingCdb);
    if (c.outcome == flash::FlashOutcome::Completed) {
        const std::vector<std::uint8_t>& slot = c.line == 0 ? ibmK : other;
        const std::string saved = readText(std::string("/rig/drives/") + folder + "/firmware.bin");
        check(saved.size() == slot.size() && std::equal(slot.begin(), slot.end(), saved.begin(),
                                                        [](std::uint8_t a, char b) {
                                                            return a == static_cast<std::uint8_t>(b);
                                                        }),
              "the saved firmware equals the slot of the drive's family");
        const std::vector<std::string> lines = user.log.lines();
        check(countWith(lines, std::string("caption: ") + flash::kCompletedCaption.english) == 1,
              "\"Flash Completed.\" shown");
        check(countWith(lines, flash::kRestartQuestion.english) == 1, "the restart offer, declined");
        // The closing request: what the drive got, and what came back to the program.
        check(closings == 1 && countWith(handler, kClosingCdb + " iov=0 len=0 dir=none -> status 00") == 1,
              "the closing request reaches the drive without data, once");
        check(!calls.calls.empty() && calls.calls.back().cdb.size() == 10 && calls.calls.back().cdb[9] == 0x80,
              "the closing request is the last call");
        if (!calls.calls.empty())
            printCall("closing request as the program got it", calls.calls.back());
    } else {
        check(report.piece == c.piece, "failed at piece " + std::to_string(report.piece));
        const bool closingFailed = c.outcome == flash::FlashOutcome::ClosingFailed;
        check(closings == (closingFailed ? 1u : 0u),
              closingFailed ? "one closing request" : "no closing request after a failure");
        check(countWith(user.log.lines(), flash::kCompletedCaption.english) == 0, "never \"Flash Completed.\"");
        if (!calls.calls.empty())
            printCall("the failed request as the program got it", calls.calls.back());
        // What the kernel did: its trace events of the drive from the failed request on.
        const std::vector<std::string> trace = traceOf(drive);
        std::string raw = calls.calls.empty() ? "?" : "raw=" + hexBytes(calls.calls.back().cdb);
        for (char& ch : raw)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        std::size_t from = 0;
        while (from < trace.size() && trace[from].find(raw) == std::string::npos)
            ++from;
        for (std::size_t i = from; i < trace.size(); ++i)
            std::printf("  kernel: %s\n", trace[i].c_str() + std::min(trace[i].find("scsi_"), trace[i].size()));
        check(from < trace.size(), "the kernel's trace shows the failed request");
    }
    if (std::string(c.fault).rfind("vanish", 0) == 0) {
        // Once the kernel has given the request up, the device leaves the system.
        bool gone = false;
        for (int i = 0; i < 100 && !gone; ++i) {
            const auto left = sg::listOpticalDrives({});
            gone = std::none_of(left.begin(), left.end(), [&](const sg::OpticalDrive& d) {
                return d.blockNode == drive.blockNode;
            });
            if (!gone)
                ::usleep(100000);
        }
        check(gone, "the drive taken away is no longer listed");
        for (const auto& d : sg::listOpticalDrives({}))
            std::printf("  left: drive %c %s %d:%d:%d:%d\n", d.letter, d.blockNode.c_str(), d.host,
                        d.channel, d.target, d.lun);
    }
}

// The kernel's own commands to a drive while a flash works on it (its end held back 1 s) and
// for 1 s after, with the flash's exclusive claim and without it. The claim keeps the
// kernel's media polling away until the flash ends; then the flash lets go of it and the
// kernel polls the drive again.
void runKernelPolling()
{
    const sg::OpticalDrive d = driveOf('D');
    const std::string poll = "/sys/block/" + d.blockName + "/events_poll_msecs";
    char address[80];
    std::snprintf(address, sizeof address, "host_no=%d channel=%d id=%d lun=%d ", d.host, d.channel,
                  d.target, d.lun);
    static const std::vector<std::uint8_t> ibmK = image(29);
    std::size_t duringFlash[2] = {0, 0};
    std::size_t afterFlash[2] = {0, 0};
    bool marked[2] = {false, false};
    for (const bool unclaimed : {false, true}) {
        armDrives({});
        check(writeText(poll, "100"), "media polling every 100 ms");
        writeText(kTrace + "/trace", "");
        Machine m;
        auto recording = std::make_unique<RecordingDrives>(unclaimed, true);
        RecordingDrives& calls = *recording;
        m.drives = std::move(recording);
        User user;
        user.dialogs.answer(ui::Button::Yes);
        user.dialogs.answer(ui::Button::No);
        discover(m, user);
        const flash::FlashReport report =
            runFlash(m, user, 0, kTcmuProgram, flash::ImageSlot(ibmK.data(), flash::kImageSize),
                     flash::ImageSlot(ibmK.data(), flash::kImageSize));
        check(report.outcome == flash::FlashOutcome::Completed, "the flash completes");
        ::usleep(1000000);
        const std::vector<std::string> trace = linesOf(readText(kTrace + "/trace"));
        writeText(poll, "0");

        // Every command the trace saw less those the program sent, by operation code.
        std::map<int, long> kernel;
        std::size_t programAfter = 0;
        bool pieces = false;
        for (const Call& c : calls.calls) {
            if (c.letter != 'D')
                continue;
            --kernel[c.cdb.empty() ? 0xFF : c.cdb[0]];
            pieces = pieces || (!c.cdb.empty() && c.cdb[0] == 0x3B);
            programAfter += pieces ? 1 : 0;
        }
        // Dispatched from the first image piece to the flash's end, and after its end (the
        // program sends nothing then).
        std::size_t dispatchedDuring = 0;
        pieces = false;
        for (const std::string& line : trace) {
            if (line.find(std::string(kClaimEnd) + 'D') != std::string::npos) {
                marked[unclaimed] = true;
                continue;
            }
            if (line.find(address) == std::string::npos
                || line.find("scsi_dispatch_cmd_start") == std::string::npos)
                continue;
            ++kernel[tracedOpcode(line)];
            pieces = pieces || tracedOpcode(line) == 0x3B;
            if (marked[unclaimed])
                ++afterFlash[unclaimed];
            else
                dispatchedDuring += pieces ? 1 : 0;
        }
        duringFlash[unclaimed] = dispatchedDuring - std::min(dispatchedDuring, programAfter);
        std::string byOpcode;
        long total = 0;
        for (const auto& [opcode, count] : kernel) {
            if (count == 0)
                continue;
            char b[24];
            std::snprintf(b, sizeof b, " %02Xh:%ld", opcode, count);
            byOpcode += b;
            total += count;
        }
        std::printf("RIG kernel's own commands to D, %s: %ld in all (%s ), %zu from the first "
                    "image piece to the flash's end, %zu in the 1 s after it\n",
                    unclaimed ? "unclaimed" : "claimed", total, byOpcode.c_str(),
                    duringFlash[unclaimed], afterFlash[unclaimed]);
    }
    check(marked[0] && marked[1], "the flash lets go of the drive when it ends");
    check(duringFlash[0] == 0, "the claim keeps the kernel's polling away while the flash runs");
    check(afterFlash[0] > 0, "once the flash has ended the kernel polls the drive again");
    check(duringFlash[1] > 0, "without the claim the kernel polls the drive during the flash");
}

// The median time of one request of a 16 KiB piece at offset 0, sent count times.
template <typename Send>
double medianMicroseconds(int count, Send send)
{
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const auto start = std::chrono::steady_clock::now();
        check(send(), "round trip " + std::to_string(i));
        times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A benchmark run, not a check of speed: one 16 KiB WRITE BUFFER and one READ BUFFER
// through the kernel and the handler's ring, beside the same requests to the virtual drive
// in this process, on the same (emulated) processor.
void runRoundTrip()
{
    armDrives({});
    constexpr int kCount = 101;
    struct Way {
        const char* name;
        std::unique_ptr<DriveSystem> drives;
    };
    auto inProcess = std::make_unique<VirtualDriveSystem>();
    inProcess->addDrive('D', std::make_shared<VirtualDrive>());
    Way ways[] = {{"through the kernel", sg::makeLinuxDriveSystem()}, {"in-process", std::move(inProcess)}};
    for (Way& way : ways) {
        User user;
        DeviceAccess access;
        ui::ProgressModel progress;
        OpenResult opened = way.drives->open('D', OpenMode::Exclusive);
        check(opened.device != nullptr, std::string("open ") + way.name);
        if (!opened.device)
            continue;
        access.device = std::move(opened.device);
        Requests requests(access, progress, user.dialogs);
        DriveEntry entry;
        entry.letter = 'D';
        progress.setMin(0);
        progress.setMax(flash::kImageSize);
        progress.setStep(flash::kPieceSize);
        progress.setPosition(0);
        std::vector<std::uint8_t> piece = image(29);
        piece.resize(flash::kPieceSize);
        const double write = medianMicroseconds(kCount, [&] { return requests.WriteBuffer(entry, piece, 0); });
        const double read = medianMicroseconds(kCount, [&] { return requests.ReadBuffer(entry, piece); });
        std::printf("RIG round trip of one 16 KiB piece %s (median of %d): WRITE BUFFER %.0f us, "
                    "READ BUFFER %.0f us\n",
                    way.name, kCount, write, read);
    }
}

void runKernelDiscovery()
{
    armDrives({});
    Machine m;
    User user;
    const DiscoveryResult found = discover(m, user);
    user.print();
    const std::vector<std::string> listed = column(found.lines, &DriveLine::text);
    check(listed == std::vector<std::string>{kTcmuD, kTcmuE}, "lines " + show(listed));
    check(found.unsupportedLines == kTcmuF + "\n", "unsupported \"" + found.unsupportedLines + "\"");
    check(user.boxes().empty(), "no message during discovery, got " + show(user.boxes()));
    const auto drives = sg::listOpticalDrives({});
    check(drives.size() == 3, "three optical drives in sysfs");
    for (const auto& d : drives) {
        std::printf("  drive %c: %s %s %d:%d:%d:%d\n", d.letter, d.blockNode.c_str(),
                    d.genericNode.c_str(), d.host, d.channel, d.target, d.lun);
        check(!d.genericNode.empty(), "an sg node for " + d.blockNode);
    }
}

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

    if (scenario == "tcmu-scenarios") {
        // The scenarios through the drives behind the kernel's SCSI target, in order.
        std::printf("tcmu-discovery tcmu-polling tcmu-round-trip");
        for (const KernelCase& c : kernelCases())
            std::printf(" %s", c.name);
        std::printf("\n");
        return 0;
    }
    const auto kernelCase = std::find_if(kernelCases().begin(), kernelCases().end(),
                                         [](const KernelCase& c) { return scenario == c.name; });

    if (kernelCase != kernelCases().end()) {
        runKernelCase(*kernelCase);
    } else if (scenario == "tcmu-discovery") {
        runKernelDiscovery();
    } else if (scenario == "tcmu-polling") {
        runKernelPolling();
    } else if (scenario == "tcmu-round-trip") {
        runRoundTrip();
    } else if (scenario == "discovery") {
        Machine m;
        User user;
        const DiscoveryResult found = discover(m, user);
        user.print();
        expectDiscovery(found, user);
        const std::vector<std::string> nodes = column(found.lines, &DriveLine::node);
        check(nodes.size() == 2 && nodes[0].rfind("/dev/sr", 0) == 0, "nodes " + show(nodes));
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
        check(user.boxes() == std::vector<std::string>{kSenseNoMedium, flash::kWriteFail.english},
              "boxes " + show(user.boxes()));
        check(user.status.caption() == flash::kWriteFail.english, "caption " + user.status.caption());
    } else if (scenario == "flash-disc") {
        // A disc in the drive: the flash stops before it writes anything.
        Machine m;
        User user;
        discover(m, user);
        const flash::FlashReport report = runFlash(m, user, 1);
        user.print();
        check(report.outcome == flash::FlashOutcome::NotReady, "outcome NotReady");
        check(user.boxes() == std::vector<std::string>{kRemoveDiscText.english}, "boxes " + show(user.boxes()));
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

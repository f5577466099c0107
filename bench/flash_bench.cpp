// One whole flash (question, claim, start/stop, disc poll, 16 writes, 16 read-backs and
// compares, closing request, restart offer) against a drive that answers at once, with no
// pauses: what the program itself costs, beside the drive's own time. And the same flash
// in the window against a slow drive: how long the window's event loop is ever held up.
#include "window_bench_main.h"
#include "quiet_ui.h"
#include "flash_procedure.h"
#include "flash_session.h"
#include "restart_offer.h"

#include "drive_search.h"
#include "flash_application.h"
#include "linux_platform.h"
#include "main_form.h"
#include "qt_waiter.h"

#include "requests.h"
#include "virtual_drive.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

class Answers : public ui::Dialogs {
public:
    ui::Button messageDialog(const std::string& text, ui::DialogKind, const std::vector<ui::Button>&) override
    {
        return text == flash::kRestartQuestion.english ? ui::Button::No : ui::Button::Yes;
    }
    void showMessage(const std::string& text) override { throw std::runtime_error("unexpected: " + text); }
    void messageBox(const std::string& text, const std::string&) override
    {
        throw std::runtime_error("unexpected: " + text);
    }
};

class NoCursor : public ui::BusyCursor {
public:
    void setBusy(bool) override {}
};

class NoWait : public flash::Waiter {
public:
    void runBlocking(const std::function<void()>& call) override { call(); }
    void sleep(std::chrono::milliseconds) override {}
};

class NoRestart : public flash::RestartSystem {
public:
    flash::StepResult openSession() override { return flash::StepResult::success(); }
    flash::StepResult findRebootService() override { return flash::StepResult::success(); }
    flash::StepResult checkRebootAllowed() override { return flash::StepResult::success(); }
    void reboot() override {}
};

class NoLock : public flash::PowerInhibitor {
public:
    std::unique_ptr<flash::PowerLock> hold(const std::string&) override { return nullptr; }
};

// Answers every request GOOD at once: READ BUFFER from what WRITE BUFFER left, no log.
class InstantDevice : public scsi::Device {
public:
    scsi::CallResult passThrough(std::uint32_t, std::span<std::uint8_t> record, std::uint32_t,
                                 std::uint32_t outputLength, std::span<std::uint8_t> data) override
    {
        const std::uint8_t* cdb = record.data() + scsi::record::kCdb;
        const std::size_t offset = (std::size_t{cdb[3]} << 16) | (std::size_t{cdb[4]} << 8) | cdb[5];
        scsi::CallResult r;
        r.outcome = scsi::Outcome::Good;
        r.bytesReturned = outputLength;
        if (cdb[0] == 0x00) { // TEST UNIT READY: no medium
            record[scsi::record::kScsiStatus] = 2;
            record[scsi::record::kSenseInfoLength] = 18;
            record[scsi::record::kSenseBuffer + 2] = 0x02;
            record[scsi::record::kSenseBuffer + 12] = 0x3A;
            r.outcome = scsi::Outcome::Sense;
        } else if (cdb[0] == 0x3B && cdb[9] == 0 && offset + data.size() <= buffer_.size()) {
            std::memcpy(buffer_.data() + offset, data.data(), data.size());
        } else if (cdb[0] == 0x3C && offset + data.size() <= buffer_.size()) {
            std::memcpy(data.data(), buffer_.data() + offset, data.size());
        }
        r.dataTransferred = static_cast<std::uint32_t>(data.size());
        return r;
    }
    scsi::CallResult queryInquiryData(std::span<std::uint8_t>) override
    {
        return {scsi::Outcome::Good, 0, {}, 0, 0};
    }

private:
    std::array<std::uint8_t, flash::kImageSize> buffer_{};
};

class InstantSystem : public scsi::DriveSystem {
public:
    std::vector<scsi::DriveRoot> driveRoots() override { return {{'E', scsi::DriveType::CdRom, "instant"}}; }
    scsi::OpenResult open(char, scsi::OpenMode) override { return {std::make_unique<InstantDevice>(), 0}; }
};

const std::array<std::uint8_t, flash::kImageSize>& image()
{
    static const auto bytes = [] {
        std::array<std::uint8_t, flash::kImageSize> b{};
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<std::uint8_t>(i * 31 + (i >> 9));
        return b;
    }();
    return bytes;
}

void flashOnce(benchmark::State& state, scsi::DriveSystem& drives, scsi::VirtualDrive* drive)
{
    Answers dialogs;
    QuietStatus status;
    NoCursor cursor;
    NoWait waiter;
    NoRestart restartSystem;
    NoLock noLock;
    ui::ProgressModel progress;
    scsi::DriveTable table;
    scsi::DeviceAccess access;
    scsi::Requests requests(access, progress, dialogs);
    flash::RestartOffer offer(dialogs, status, cursor, restartSystem);

    auto& entry = table.entries[0];
    entry.letter = 'E';
    const char* inquiry = "KORVANE QVX-5500        VQ8A";
    std::memcpy(entry.inquiry.data() + 8, inquiry, 28);

    flash::FlashProcedure procedure(flash::FlashParts{
        .driveTable = table,
        .selectedIndex = [] { return 0; },
        .access = access,
        .drives = drives,
        .requests = requests,
        .progress = progress,
        .dialogs = dialogs,
        .status = status,
        .cursor = cursor,
        .waiter = waiter,
        .restartOffer = offer,
        .inhibitor = noLock,
        .ownPath = "/opt/korvane/W2KVQ8E10.EXE",
        .slot1 = flash::ImageSlot(image()),
        .slot2 = flash::ImageSlot(image()),
    });
    for (auto _ : state) {
        auto report = procedure.run(); // not const: DoNotOptimize of a const reference is deprecated
        if (report.outcome != flash::FlashOutcome::Completed) {
            state.SkipWithError("the flash did not complete");
            break;
        }
        if (drive)
            drive->clearRequests(); // the drive's request log would otherwise grow without end
        benchmark::DoNotOptimize(report);
    }
    state.SetBytesProcessed(state.iterations() * 2 * static_cast<std::int64_t>(flash::kImageSize));
}

// Against the virtual drive, which also keeps a log of every request and its data.
void BM_FlashVirtualDrive(benchmark::State& state)
{
    scsi::VirtualDriveConfig config;
    config.revision = "VQ8A";
    auto drive = std::make_shared<scsi::VirtualDrive>(config);
    scsi::VirtualDriveSystem drives;
    drives.addDrive('E', drive);
    flashOnce(state, drives, drive.get());
}
BENCHMARK(BM_FlashVirtualDrive)->Unit(benchmark::kMicrosecond);

// Against a device that keeps nothing but its buffer: the procedure and request routines alone.
void BM_FlashInstantDevice(benchmark::State& state)
{
    InstantSystem drives;
    flashOnce(state, drives, nullptr);
}
BENCHMARK(BM_FlashInstantDevice)->Unit(benchmark::kMicrosecond);

// The window's waiter, with a drive that takes 50 ms over every call (the open, the port
// query and each request).
class SlowDriveWaiter : public flash::Waiter {
public:
    void runBlocking(const std::function<void()>& call) override
    {
        inner_.runBlocking([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            call();
        });
    }
    void sleep(std::chrono::milliseconds duration) override { inner_.sleep(duration); }

private:
    app::QtWaiter inner_;
};

// A thread beside the window's that never touches Qt or the display. Every millisecond it
// sleeps for 1 ms and notes how late it woke: a late wake of a thread that does nothing is
// the machine's (a processor, or a timer interrupt, that came late for everyone). While
// the window's thread is late with its tick, it also reads what that thread is waiting in
// (its system call), so a gap shows whether the program waited for something (a reply of
// the display, a lock) or sat in its event loop's own wait.
class BesideThread {
public:
    using Clock = std::chrono::steady_clock;

    explicit BesideThread(pid_t watched) : watched_(watched), thread_([this] { run(); }) {}
    ~BesideThread()
    {
        stop_.store(true);
        thread_.join();
    }

    // The window's thread ticked: a new gap starts.
    void ticked(Clock::time_point at)
    {
        lastTick_.store(at.time_since_epoch().count());
        clearSeen_.store(true);
    }
    // What the window's thread was seen waiting in since its last tick. The window's thread
    // never waits for this one: while the lock is taken, it says "?".
    std::string seenWaiting()
    {
        const std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock())
            return "?";
        return clearSeen_.load() ? std::string() : seen_;
    }
    // The longest time this thread woke late within [from, to], in ms.
    double lateWithin(Clock::time_point from, Clock::time_point to)
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        double longest = 0;
        for (const auto& [asleep, woke] : lateWakes_) {
            if (woke > from && asleep < to)
                longest = std::max(longest, std::chrono::duration<double, std::milli>(woke - asleep).count() - 1.0);
        }
        return longest;
    }
    double longestLate() { return lateWithin(Clock::time_point::min(), Clock::time_point::max()); }

private:
    void run()
    {
        // Measured from one wake to the next, so that a stall while it reads the window's
        // thread counts as late too.
        Clock::time_point asleep = Clock::now();
        while (!stop_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const Clock::time_point woke = Clock::now();
            const Clock::time_point since = std::exchange(asleep, woke);
            if (woke - since > std::chrono::milliseconds(3)) {
                const std::lock_guard<std::mutex> lock(mutex_);
                lateWakes_.emplace_back(since, woke);
            }
            const std::int64_t tick = lastTick_.load();
            if (tick != 0 && woke.time_since_epoch().count() - tick > std::chrono::nanoseconds(std::chrono::milliseconds(4)).count())
                look();
        }
    }
    void look()
    {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/self/task/%d/syscall", static_cast<int>(watched_));
        char text[256] = {};
        if (FILE* f = std::fopen(path, "r")) {
            if (!std::fgets(text, sizeof text, f))
                text[0] = 0;
            std::fclose(f);
        }
        long number = -1;
        unsigned long long args[3] = {};
        std::string what;
        if (std::sscanf(text, "%ld %llx %llx %llx", &number, &args[0], &args[1], &args[2]) != 4)
            what = "running";
        else if (number == SYS_poll)
            what = "poll(" + std::to_string(args[1]) + " fds, " + std::to_string(static_cast<int>(args[2])) + " ms)";
        else if (number == SYS_ppoll)
            what = "ppoll(" + std::to_string(args[1]) + " fds)";
        else if (number == SYS_futex)
            what = "futex";
        else
            what = "syscall " + std::to_string(number);
        const std::lock_guard<std::mutex> lock(mutex_);
        if (clearSeen_.exchange(false))
            seen_.clear();
        if (seen_.find(what) == std::string::npos)
            seen_ += (seen_.empty() ? "" : ", ") + what;
    }

    const pid_t watched_;
    std::atomic<bool> stop_{false};
    std::atomic<Clock::rep> lastTick_{0};
    std::atomic<bool> clearSeen_{false};
    std::mutex mutex_;
    std::string seen_;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> lateWakes_;
    std::thread thread_;
};

// A whole flash from the Flash button of the real window, against a virtual drive that
// takes 50 ms over each call and 2 s over the closing request, while a timer of the GUI
// thread ticks every millisecond. The figures are the gaps between two ticks, in ms: the
// longest time the window's event loop did not turn (goal: under 16, one frame at 60 Hz),
// and its 99th percentile; "held" is the same less the time the GUI thread stood ready but
// waited for a processor, which a busy machine adds; "held own" leaves out the gaps in
// which a plain thread beside it (BesideThread) also woke late, stalls the machine gave
// everyone; "beside max late" is that thread's longest. Each gap over a frame is printed
// with what the GUI thread was seen waiting in. QT_QPA_PLATFORM picks the display
// (offscreen without one).
void BM_FlashWindowEventLoopHoldUp(benchmark::State& state)
{
    Answers dialogs;
    NoRestart restartSystem;
    NoLock noLock;
    app::ProgramState programState;
    scsi::VirtualDriveConfig config;
    config.revision = "VQ8A";
    auto drive = std::make_shared<scsi::VirtualDrive>(config);
    drive->setOnSave([](std::span<const std::uint8_t>) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        return true;
    });
    auto drives = std::make_unique<scsi::VirtualDriveSystem>();
    drives->addDrive('E', drive);
    programState.drives = std::move(drives);

    app::TMainForm form(programState);
    app::QtQuitRequest quit;
    const app::LinuxOsIdentity os;
    const app::ProcSelfExePath ownPath("");
    const app::ProcessCurrentDirectory currentDirectory;
    const std::array<std::uint8_t, 6> marker{'Q', 'O', 'R', 'M', '0', '1'};
    if (form.FormCreate({dialogs, quit, os, ownPath, currentDirectory, app::makeDriveSearch()}, image(), marker)
        != app::StartupOutcome::FlashMode) {
        state.SkipWithError("the window did not list the drive");
        return;
    }
    SlowDriveWaiter waiter;
    flash::FlashSession session(
        flash::FlashWindow{[&form] { return form.driveIndex(); },
                           [&form](bool enabled) { form.setButton("Flash", enabled); }, dialogs,
                           form.statusLine(), form.cursor()},
        flash::FlashState{programState.driveTable, programState.deviceAccess, *programState.drives,
                          programState.progress, "/opt/korvane/W2KVQ8E10.EXE"},
        waiter, restartSystem, noLock, flash::ImageSlot(image()), flash::ImageSlot(image()));
    flash::FlashOutcome outcome = flash::FlashOutcome::NoDrive;
    form.flashAction = [&] { outcome = session.click().outcome; };
    form.show();
    auto* button = form.findChild<QPushButton*>(QStringLiteral("FlashButton"));

    // The window stands painted on the screen before the user clicks.
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();

    // Per tick: the wall time since the last tick, and the part of it in which the GUI
    // thread was ready to run but waited for a processor (the kernel's run-queue time of
    // the thread): that part is the machine's other work, the rest is the program's own
    // hold-up (its work, and whatever it waited for besides its event loop).
    using Clock = std::chrono::steady_clock;
    // The thread's time on a processor and in the run queue, in ms.
    const auto schedMs = [] {
        unsigned long long onCpu = 0;
        unsigned long long waiting = 0;
        if (FILE* f = std::fopen("/proc/thread-self/schedstat", "r")) {
            if (std::fscanf(f, "%llu %llu", &onCpu, &waiting) != 2)
                onCpu = waiting = 0;
            std::fclose(f);
        }
        return std::pair<double, double>(static_cast<double>(onCpu) / 1e6, static_cast<double>(waiting) / 1e6);
    };
    const auto runQueueMs = [&] { return schedMs().second; };
    std::vector<double> gaps;
    std::vector<double> held;
    // The gaps over 4 ms, judged once the flash has ended, when the thread beside has
    // noted every late wake of its own that they overlap.
    struct LongGap {
        Clock::time_point from;
        Clock::time_point to;
        double held;
        double onCpu;
        std::string seen;  // what the window's thread was seen waiting in
        std::string where; // the bar and the caption, for gaps over a frame
    };
    std::vector<LongGap> longGaps;
    BesideThread beside(static_cast<pid_t>(::syscall(SYS_gettid)));
    Clock::time_point last;
    double lastWaiting = 0;
    double lastOnCpu = 0;
    const auto tick = [&] {
        const Clock::time_point now = Clock::now();
        const auto [onCpu, waiting] = schedMs();
        gaps.push_back(std::chrono::duration<double, std::milli>(now - last).count());
        held.push_back(std::max(0.0, gaps.back() - (waiting - lastWaiting)));
        if (gaps.back() > 4) {
            LongGap gap{last, now, held.back(), onCpu - lastOnCpu, beside.seenWaiting(), {}};
            if (gaps.back() > 16)
                gap.where = "bar " + std::to_string(programState.progress.position()) + " of "
                    + std::to_string(programState.progress.max()) + ", '" + form.caption() + "'";
            longGaps.push_back(std::move(gap));
        }
        beside.ticked(now);
        last = now;
        lastWaiting = waiting;
        lastOnCpu = onCpu;
    };
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, tick);
    for (auto _ : state) {
        gaps.clear();
        held.clear();
        longGaps.clear();
        last = Clock::now();
        lastWaiting = runQueueMs();
        lastOnCpu = schedMs().first;
        ticker.start();
        button->click();
        ticker.stop();
        tick();
        if (outcome != flash::FlashOutcome::Completed) {
            state.SkipWithError("the flash did not complete");
            return;
        }
    }
    const auto percentile = [](std::vector<double> v, std::size_t per100) {
        std::sort(v.begin(), v.end());
        return v[std::min(v.size() - 1, v.size() * per100 / 100)];
    };
    state.counters["ticks"] = static_cast<double>(gaps.size());
    state.counters["max_gap_ms"] = percentile(gaps, 100);
    state.counters["p99_gap_ms"] = percentile(gaps, 99);
    state.counters["max_held_ms"] = percentile(held, 100);
    state.counters["p99_held_ms"] = percentile(held, 99);
    // Held, less the gaps in which the thread beside woke more than 4 ms late while the
    // window's thread ran less than 4 ms: stalls that the machine gave every thread, not
    // ones that the program's own work made. Each gap over a frame is printed, with how
    // long the thread ran in it, to tell the two apart.
    double heldOwn = 0;
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (gaps[i] <= 4)
            heldOwn = std::max(heldOwn, held[i]);
    }
    for (const LongGap& gap : longGaps) {
        const double late = beside.lateWithin(gap.from, gap.to);
        if (gap.onCpu >= 4 || late <= 4)
            heldOwn = std::max(heldOwn, gap.held);
        if (!gap.where.empty())
            std::fprintf(stderr, "%.1f ms between ticks (%.1f ms not waiting for a processor, %.1f ms on one; seen in: %s; "
                         "a thread beside it woke up to %.1f ms late meanwhile) at %s\n",
                         std::chrono::duration<double, std::milli>(gap.to - gap.from).count(), gap.held, gap.onCpu,
                         gap.seen.empty() ? "-" : gap.seen.c_str(), late, gap.where.c_str());
    }
    state.counters["max_held_own_ms"] = heldOwn;
    state.counters["beside_max_late_ms"] = beside.longestLate();
}
BENCHMARK(BM_FlashWindowEventLoopHoldUp)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    return runWindowBenchmarks(argc, argv);
}

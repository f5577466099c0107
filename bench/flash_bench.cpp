// One whole flash (question, claim, start/stop, disc poll, 16 writes, 16 read-backs and
// compares, closing request, restart offer) against a drive that answers at once, with no
// pauses: what the program itself costs, beside the drive's own time.
#include "flash_procedure.h"
#include "restart_offer.h"

#include "requests.h"
#include "virtual_drive.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <stdexcept>

namespace {

class Answers : public ui::Dialogs {
public:
    ui::Button messageDialog(const std::string& text, ui::DialogKind, const std::vector<ui::Button>&) override
    {
        return text == flash::kRestartQuestion ? ui::Button::No : ui::Button::Yes;
    }
    void showMessage(const std::string& text) override { throw std::runtime_error("unexpected: " + text); }
    void messageBox(const std::string& text, const std::string&) override
    {
        throw std::runtime_error("unexpected: " + text);
    }
};

class NoStatus : public ui::StatusLine {
public:
    void setCaption(const std::string& text) override { caption_ = text; }
    std::string caption() const override { return caption_; }

private:
    std::string caption_;
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
    flash::StepResult lookupRebootRight() override { return flash::StepResult::success(); }
    flash::StepResult enableRebootRight() override { return flash::StepResult::success(); }
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
    NoStatus status;
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
        const auto report = procedure.run();
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

} // namespace

BENCHMARK_MAIN();

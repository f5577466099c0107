// A flash against a virtual drive, with scripted dialogs and one ordered log of what the
// user saw: the pieces every flash test needs.
#pragma once

#include "flash_procedure.h"
#include "restart_offer.h"
#include "revisions.h"
#include "waiting_device.h"

#include "progress_model.h"
#include "requests.h"
#include "scripted_ui.h"
#include "virtual_drive.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace flashtest {

// Two distinct test images; no piece of one equals the same piece of the other.
const std::array<std::uint8_t, flash::kImageSize>& ibmKImage();
const std::array<std::uint8_t, flash::kImageSize>& otherImage();

// Counts what goes through it and never waits.
class CountingWaiter : public flash::Waiter {
public:
    void runBlocking(const std::function<void()>& call) override
    {
        ++calls;
        call();
    }
    void sleep(std::chrono::milliseconds duration) override
    {
        ++sleeps;
        slept += duration;
    }
    int calls = 0;
    int sleeps = 0;
    std::chrono::milliseconds slept{0};
};

// The system's restart steps, scripted: failAt names the step that fails (1..3), 0 for none.
class FakeRestart : public flash::RestartSystem {
public:
    explicit FakeRestart(ui::UiLog& log) : log_(log) {}
    flash::StepResult openSession() override { return step(1, "open session"); }
    flash::StepResult findRebootService() override { return step(2, "look up right"); }
    flash::StepResult checkRebootAllowed() override { return step(3, "enable right"); }
    void reboot() override
    {
        ++reboots;
        note("reboot");
    }
    int failAt = 0;
    int reboots = 0;

private:
    void note(const char* what)
    {
        ui::SeenEvent e;
        e.kind = "restart";
        e.text = what;
        log_.add(std::move(e));
    }
    flash::StepResult step(int n, const char* what)
    {
        note(what);
        if (n == failAt)
            return {false, 1, "scripted failure"};
        return flash::StepResult::success();
    }
    ui::UiLog& log_;
};

// Hands out locks and notes each take and release with how far the flash had come then:
// the requests the drive had received and the lines the user had seen.
class RecordingInhibitor : public flash::PowerInhibitor {
public:
    explicit RecordingInhibitor(std::function<std::string(const char* what)> note) : note_(std::move(note)) {}
    std::unique_ptr<flash::PowerLock> hold(const std::string& why) override;
    // The note's form: "taken after 3 requests, 3 lines".
    static std::string describe(const char* what, std::size_t requests, std::size_t lines);

    std::string why;
    std::vector<std::string> events;

private:
    std::function<std::string(const char*)> note_;
};

// What the progress bar and the procedure showed when each dialog or box came up.
struct Snapshot {
    std::string text;
    std::int64_t position = 0;
    std::int64_t max = 0;
    bool inProgress = false;
};

class SnapshotDialogs : public ui::Dialogs {
public:
    SnapshotDialogs(ui::Dialogs& inner, ui::ProgressModel& progress) : inner_(inner), progress_(progress) {}
    ui::Button messageDialog(const std::string& text, ui::DialogKind kind,
                             const std::vector<ui::Button>& buttons) override
    {
        take(text);
        return inner_.messageDialog(text, kind, buttons);
    }
    void showMessage(const std::string& text) override
    {
        take(text);
        inner_.showMessage(text);
    }
    void messageBox(const std::string& text, const std::string& title) override
    {
        take(text);
        inner_.messageBox(text, title);
    }
    std::function<bool()> inProgress;
    std::function<void(const std::string& text)> onShow; // runs as each dialog or box comes up
    std::vector<Snapshot> snapshots;

private:
    void take(const std::string& text)
    {
        snapshots.push_back({text, progress_.position(), progress_.max(), inProgress && inProgress()});
        if (onShow)
            onShow(text);
    }
    ui::Dialogs& inner_;
    ui::ProgressModel& progress_;
};

struct RigOptions {
    scsi::VirtualDriveConfig drive;
    std::string ownPath = "/opt/korvane/W2KVQ8E10.EXE";
    bool throughWaitingSystem = false; // the drive system wrapped in WaitingDriveSystem
    flash::Waiter* waiter = nullptr;   // instead of the rig's CountingWaiter
    flash::PowerInhibitor* inhibitor = nullptr; // instead of the rig's RecordingInhibitor
};

class FlashRig {
public:
    explicit FlashRig(RigOptions options = {});

    // Answers the coming dialogs in order (flash confirmation, restart offer).
    void answer(ui::Button b) { scripted.answer(b); }
    flash::FlashReport run() { return procedure->run(); }

    std::vector<std::string> lines() const { return log.lines(); }
    // The requests the drive received, as their operation codes in order.
    std::vector<std::uint8_t> opcodes() const;
    int count(std::uint8_t opcode) const;
    // Opens of the drive since the rig was set up (identification is not counted).
    int opens() const { return system.opens() - opensAtStart; }

    ui::UiLog log;
    ui::ScriptedDialogs scripted{log};
    ui::ProgressModel progress;
    SnapshotDialogs dialogs{scripted, progress};
    ui::RecordingStatusLine status{log};
    ui::RecordingCursor cursor{log};
    scsi::DriveTable table;
    scsi::DeviceAccess access;
    std::shared_ptr<scsi::VirtualDrive> drive;
    scsi::VirtualDriveSystem system;
    CountingWaiter waiter;
    std::optional<flash::WaitingDriveSystem> waitingSystem;
    scsi::Requests requests{access, progress, dialogs};
    FakeRestart restart{log};
    flash::RestartOffer offer{dialogs, status, cursor, restart};
    RecordingInhibitor inhibitor{[this](const char* what) {
        return RecordingInhibitor::describe(what, drive->requests().size(), log.lines().size());
    }};
    int selected = 0;
    int opensAtStart = 0;
    std::unique_ptr<flash::FlashProcedure> procedure;
};

} // namespace flashtest

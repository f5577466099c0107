// The flash in the real window: a drive that takes its time, the Qt waiter, and a window
// that keeps painting, keeps its button disabled and refuses to close meanwhile.
#include "flash_rig.h"
#include "flash_session.h"
#include "qt_waiter.h"

#include "drive_search.h"
#include "main_form.h"
#include "scripted_ui.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct NtSystem : app::OsIdentity {
    bool version(app::OsVersion& out) const override
    {
        out.platformId = app::kPlatformNt;
        return true;
    }
};
struct Path : app::OwnPath {
    std::string ownPath() const override { return "/opt/korvane/W2KVQ8E10.EXE"; }
};
struct Dir : app::CurrentDirectory {
    std::string currentDirectory() const override { return "/"; }
};

// Every request takes a while, as a real drive's do.
class SlowDevice : public scsi::Device {
public:
    explicit SlowDevice(std::unique_ptr<scsi::Device> inner) : inner_(std::move(inner)) {}
    scsi::CallResult passThrough(std::uint32_t code, std::span<std::uint8_t> record, std::uint32_t in,
                                 std::uint32_t out, std::span<std::uint8_t> data) override
    {
        std::this_thread::sleep_for(15ms);
        return inner_->passThrough(code, record, in, out, data);
    }
    scsi::CallResult queryInquiryData(std::span<std::uint8_t> o) override { return inner_->queryInquiryData(o); }

private:
    std::unique_ptr<scsi::Device> inner_;
};

class SlowSystem : public scsi::DriveSystem {
public:
    explicit SlowSystem(std::shared_ptr<scsi::VirtualDrive> drive) { inner_.addDrive('E', std::move(drive)); }
    std::vector<scsi::DriveRoot> driveRoots() override { return inner_.driveRoots(); }
    scsi::OpenResult open(char letter, scsi::OpenMode mode) override
    {
        auto r = inner_.open(letter, mode);
        if (r.device && mode == scsi::OpenMode::Exclusive)
            r.device = std::make_unique<SlowDevice>(std::move(r.device));
        return r;
    }

private:
    scsi::VirtualDriveSystem inner_;
};

struct Sample {
    std::string caption;
    int position;
    bool buttonEnabled;
};

TEST(FlashWindow, TheWindowPaintsAndRefusesToCloseWhileTheDriveWorks)
{
    scsi::VirtualDriveConfig config;
    config.revision = "VQ8A";
    auto drive = std::make_shared<scsi::VirtualDrive>(config);

    app::ProgramState state;
    state.drives = std::make_unique<SlowSystem>(drive);
    ui::UiLog log;
    ui::ScriptedDialogs dialogs(log);
    dialogs.answer(ui::Button::Yes); // the start-up warning
    dialogs.answer(ui::Button::Yes); // "Update FW:VQ8A to FW:VQ8E ?"
    dialogs.answer(ui::Button::No);  // the restart offer
    ui::RecordingQuit quit(log);
    const NtSystem os;
    const Path path;
    const Dir dir;

    app::TMainForm form(state);
    app::QtWaiter waiter;
    flashtest::FakeRestart restart(log);
    flashtest::RecordingInhibitor inhibitor([&drive](const char* what) {
        return flashtest::RecordingInhibitor::describe(what, drive->requests().size(), 0);
    });
    flash::FlashSession session(
        flash::FlashWindow{[&form] { return form.driveIndex(); },
                           [&form](bool enabled) { form.setButton("Flash", enabled); }, dialogs,
                           form.statusLine(), form.cursor()},
        flash::FlashState{state.driveTable, state.deviceAccess, *state.drives, state.progress, path.ownPath()},
        waiter, restart, inhibitor, flash::ImageSlot(flashtest::ibmKImage()),
        flash::ImageSlot(flashtest::otherImage()));
    form.flashAction = [&] { session.click(); };
    form.mayClose = [&] { return session.mayClose(); };

    const std::array<std::uint8_t, 7> marker{'Q', 'O', 'R', 'M', '0', '1', 0};
    ASSERT_EQ(form.FormCreate({dialogs, quit, os, path, dir, app::makeDriveSearch()},
                              flashtest::ibmKImage(), marker),
              app::StartupOutcome::FlashMode);
    form.show();

    auto* button = form.findChild<QPushButton*>("FlashButton");
    auto* bar = form.findChild<QProgressBar*>("ProgressBar");
    auto* box = form.findChild<QGroupBox*>("GroupBox2");
    ASSERT_TRUE(button && bar && box);

    std::vector<Sample> samples;
    bool closeRefused = false;
    bool shot = false;
    QTimer sampler;
    sampler.setInterval(20);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!session.inProgress())
            return;
        samples.push_back({box->title().toStdString(), bar->value(), button->isEnabled()});
        if (!closeRefused && bar->value() > 0)
            closeRefused = !form.close() && form.isVisible();
        // The picture of a flash half done, for a person to look at.
        if (!shot && bar->value() >= 262144 / 2) {
            shot = true;
            if (const char* folder = std::getenv("FLASH_SCREENSHOT_DIR"))
                form.grab().save(QString::fromLocal8Bit(folder) + "/flash-in-progress.png");
        }
    });
    sampler.start();

    button->click();
    sampler.stop();

    // The event loop ran all through the flash: the window was sampled while requests
    // were in flight, painted the rising bar, and would not close.
    ASSERT_GE(samples.size(), 20u);
    bool sawInProgress = false;
    int highest = 0;
    for (const Sample& s : samples) {
        EXPECT_FALSE(s.buttonEnabled);
        if (s.caption == "Don't turn off the system, Flash is in progress...") {
            sawInProgress = true;
            highest = std::max(highest, s.position);
        }
    }
    EXPECT_TRUE(sawInProgress);
    EXPECT_GE(highest, 262144 / 2);
    EXPECT_TRUE(closeRefused);
    EXPECT_TRUE(form.isVisible());

    // Done: firmware saved, status line emptied by the declined offer, button back; the
    // lock was held from the first WRITE BUFFER to the closing one (identification's
    // INQUIRY came first).
    EXPECT_EQ(drive->firmwareSaves(), 1);
    EXPECT_EQ(inhibitor.events, (std::vector<std::string>{"taken after 4 requests, 0 lines",
                                                          "released after 37 requests, 0 lines"}));
    EXPECT_EQ(box->title().toStdString(), "");
    EXPECT_TRUE(button->isEnabled());
    QCoreApplication::processEvents(); // the bar follows once a turn of the event loop
    EXPECT_EQ(bar->value(), 0);
    EXPECT_TRUE(form.close());
}

} // namespace

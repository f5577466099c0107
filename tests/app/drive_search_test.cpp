// Start-up over the program's own drive search and the virtual drive: what the user sees
// from the first dialog to the selected line.
#include "drive_search.h"
#include "program_texts.h"
#include "recording_view.h"

#include "virtual_drive.h"

#include <gtest/gtest.h>

#include <array>

namespace app {
namespace {

struct Nt : OsIdentity {
    bool version(OsVersion& out) const override
    {
        out.platformId = kPlatformNt;
        return true;
    }
};
struct Path : OwnPath {
    std::string ownPath() const override { return "/x/W2KVQ8E10.EXE"; }
};
struct Dir : CurrentDirectory {
    std::string currentDirectory() const override { return "/x"; }
};

constexpr std::array<std::uint8_t, 7> kMarker{'Q', 'O', 'R', 'M', '0', '1', 0};
constexpr std::array<std::uint8_t, 7> kFinished{'Q', 'O', 'R', 'M', '0', '2', 0};

class DriveSearch : public ::testing::Test {
protected:
    StartupOutcome start()
    {
        dialogs.answer(ui::Button::Yes);
        state.drives = std::move(system);
        return formCreate(state, kFinished, kMarker,
                          StartupServices{view, dialogs, quit, os, path, dir, makeDriveSearch()});
    }
    std::shared_ptr<scsi::VirtualDrive> drive(const char* product, const char* revision, std::uint8_t target)
    {
        scsi::VirtualDriveConfig c;
        c.product = product;
        c.revision = revision;
        c.path = 1;
        c.target = target;
        return std::make_shared<scsi::VirtualDrive>(c);
    }

    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::RecordingQuit quit{log};
    test::RecordingView view{log};
    Nt os;
    Path path;
    Dir dir;
    ProgramState state;
    std::unique_ptr<scsi::VirtualDriveSystem> system = std::make_unique<scsi::VirtualDriveSystem>();
};

TEST_F(DriveSearch, TwoSupportedDrivesBecomeTwoLinesWithTheirNodesFirstSelected)
{
    system->addRoot('C', scsi::DriveType::Fixed);
    system->addDrive('E', drive("QVX-5500", "VQ8E", 0), "/dev/sr0");
    system->addDrive('G', drive("QVX-5500", "VQ10", 1), "/dev/sr1");
    ASSERT_EQ(StartupOutcome::FlashMode, start());
    ASSERT_EQ(2u, view.lines.size());
    EXPECT_EQ("1-0-0 E: KORVANE QVX-5500        VQ8E", view.lines[0].text);
    EXPECT_EQ("/dev/sr0", view.lines[0].node);
    EXPECT_EQ("1-1-0 G: KORVANE QVX-5500        VQ10", view.lines[1].text);
    EXPECT_EQ("/dev/sr1", view.lines[1].node);
    EXPECT_EQ(0, view.selection);
    EXPECT_EQ('E', state.driveTable.entries[0].letter);
    EXPECT_EQ('G', state.driveTable.entries[1].letter);
    EXPECT_EQ(0, quit.count());
}

TEST_F(DriveSearch, UnsupportedDrivesAreListedInTheErrorText)
{
    system->addDrive('D', drive("QVX-5500", "VQA0", 0), "/dev/sr0");
    system->addDrive('E', drive("QVX-5600", "VQ8E", 1), "/dev/sr1");
    ASSERT_EQ(StartupOutcome::Quit, start());
    const auto& error = log.events()[log.events().size() - 2];
    EXPECT_EQ(ui::DialogKind::Error, error.dialogKind);
    EXPECT_EQ(noDriveErrorHead() + "1-0-0 D: KORVANE QVX-5500        VQA0\n"
                                   "1-1-0 E: KORVANE QVX-5600        VQ8E\n",
              error.text);
    EXPECT_EQ(1, quit.count());
}

TEST_F(DriveSearch, WithoutADriveSystemNothingIsFound)
{
    system.reset();
    ASSERT_EQ(StartupOutcome::Quit, start());
    EXPECT_EQ(noDriveErrorHead(), log.events()[log.events().size() - 2].text);
}

} // namespace
} // namespace app

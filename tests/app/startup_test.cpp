#include "program_texts.h"
#include "recording_view.h"
#include "startup.h"

#include "container.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace app {
namespace {

using ui::Button;
using ui::DialogKind;

struct FixedOs : OsIdentity {
    std::uint32_t platform = kPlatformNt;
    bool available = true;
    bool version(OsVersion& out) const override
    {
        out.platformId = platform;
        return available;
    }
};
struct FixedPath : OwnPath {
    std::string path = "/opt/korvane/W2KVQ8E10.EXE";
    std::string ownPath() const override { return path; }
};
struct FixedDir : CurrentDirectory {
    std::string currentDirectory() const override { return "/home/user/firmware"; }
};

constexpr std::array<std::uint8_t, 7> kMarker{'Q', 'O', 'R', 'M', '0', '1', 0};

std::array<std::uint8_t, 64> slotStartingWith(const char* text)
{
    std::array<std::uint8_t, 64> slot{};
    std::memcpy(slot.data(), text, std::strlen(text));
    return slot;
}

ui::SeenEvent event(const std::string& kind)
{
    ui::SeenEvent e;
    e.kind = kind;
    return e;
}

const std::string kWarning =
    "\nWARNING:\n\nThis flash utility only supports Korvane QVX-5500 firmware:VQ00~VQ9Z\n\n"
    "We recommend you close all applications in order to run this update!\n"
    "Don't turn off the system while the flash is in progress!\n\n\nDo you wish to continue?\n";
const std::string kErrorHead =
    "\nERROR:\n\nCan't found QVX-5500firmware:VQ00~VQ9Z drive !\n"
    "\nThis flash utility only supports QVX-5500 firmware:VQ00~VQ9Z\n"
    "\nDetected drives:\n-----------------------------------------------------------\n";

class Startup : public ::testing::Test {
protected:
    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::RecordingQuit quit{log};
    test::RecordingView view{log};
    FixedOs os;
    FixedPath path;
    FixedDir dir;
    ProgramState state;
    int searches = 0;
    scsi::DiscoveryResult found;

    StartupOutcome run(const char* slotStart)
    {
        const auto slot = slotStartingWith(slotStart);
        const StartupServices s{view, dialogs, quit, os, path, dir,
                                [this](ProgramState&, ui::Dialogs&, ui::QuitRequest&) {
                                    ++searches;
                                    log.add(event("search"));
                                    return found;
                                }};
        return formCreate(state, slot, kMarker, s);
    }

    std::vector<std::string> dialogsAndQuits() const
    {
        std::vector<std::string> out;
        for (const auto& e : log.events())
            if (e.kind != "view")
                out.push_back(e.kind == "dialog" ? "dialog " + ui::dialogKindTitle(e.dialogKind) : e.kind);
        return out;
    }
};

TEST_F(Startup, EmptySlotMarkerArrangesBuildModeWithoutAnyDialogOrSearch)
{
    os.platform = kPlatformWindows; // build mode asks nothing of the system
    EXPECT_EQ(StartupOutcome::BuildMode, run("QORM01"));
    EXPECT_TRUE(state.buildMode);
    EXPECT_EQ(0, searches);
    EXPECT_TRUE(dialogsAndQuits().empty());
    EXPECT_EQ("Korvane  Flash utility   V1.015 QVX-5500 [Buiding]", view.caption);
    EXPECT_FALSE(view.driveListVisible);
    EXPECT_TRUE(view.fileListsVisible);
    EXPECT_TRUE(view.label2Visible);
    EXPECT_EQ("VQ8?.BIN;VQ9?.BIN;", view.mask1);
    EXPECT_EQ("VQ0?.BIN;VQ1?.BIN;VQ2?.BIN;VQ3?.BIN;VQ4?.BIN;VQ5?.BIN;VQ6?.BIN;VQ7?.BIN;", view.mask2);
    EXPECT_EQ("Select IBM-K BIN file.", view.label1);
    EXPECT_EQ("Select NonIBM-K BIN file.", view.label2);
    EXPECT_EQ("Build", view.button);
    EXPECT_FALSE(view.buttonEnabled);
    EXPECT_EQ("/home/user/firmware", view.directory1);
}

TEST_F(Startup, OnlyTheSixMarkerBytesDecideTheMode)
{
    EXPECT_EQ(StartupOutcome::BuildMode, run("QORM01 firmware that begins like the marker"));
    EXPECT_TRUE(state.buildMode);

    for (const char* other : {"QORM02", "qorm01", "QORM0", "\x01\x02\x03"}) {
        SCOPED_TRACE(other);
        log.clear();
        dialogs.answer(Button::No);
        EXPECT_EQ(StartupOutcome::Quit, run(other));
        EXPECT_FALSE(state.buildMode);
        ASSERT_FALSE(log.events().empty());
        EXPECT_EQ(kWarning, log.events().front().text); // flash mode's first dialog
    }
}

TEST_F(Startup, RunningProgramIsATemplate)
{
    // The program these tests link is built from the same container as the real one.
    const StartupServices s{view, dialogs, quit, os, path, dir, {}};
    EXPECT_EQ(StartupOutcome::BuildMode,
              formCreate(state, flash::slot1(), flash::emptySlotMarker(), s));
}

TEST_F(Startup, AnswerOtherThanYesToTheWarningEndsTheProgramBeforeTheSearch)
{
    for (Button answer : {Button::No, Button::None}) {
        log.clear();
        view.caption.clear();
        dialogs.answer(answer);
        EXPECT_EQ(StartupOutcome::Quit, run("QORM02"));
        ASSERT_EQ((std::vector<std::string>{"dialog Warning", "quit"}), dialogsAndQuits());
        const auto& warning = log.events().front();
        EXPECT_EQ(kWarning, warning.text);
        EXPECT_EQ((std::vector<Button>{Button::Yes, Button::No}), warning.buttons);
        EXPECT_EQ(0, searches);
        EXPECT_EQ("", view.caption);
    }
}

TEST_F(Startup, SystemOutsideTheNtFamilyGetsOneYesButtonAndEnds)
{
    for (bool available : {true, false}) {
        log.clear();
        os.platform = kPlatformWindows;
        os.available = available;
        EXPECT_EQ(StartupOutcome::Quit, run("QORM02"));
        ASSERT_EQ((std::vector<std::string>{"dialog Warning", "quit"}), dialogsAndQuits());
        EXPECT_EQ("O.S must be WinNT or Win2000.", log.events().front().text);
        EXPECT_EQ(std::vector<Button>{Button::Yes}, log.events().front().buttons);
        EXPECT_EQ(0, searches);
    }
}

TEST_F(Startup, NoSupportedDriveShowsThePreparedErrorTextThenEnds)
{
    dialogs.answer(Button::Yes);
    found.unsupportedLines = "1-0-0 D: KORVANE QVX-5500        VQA0\n0-1-0 E: OTHER   CD-ROM          1.00\n";
    EXPECT_EQ(StartupOutcome::Quit, run("QORM02"));
    ASSERT_EQ((std::vector<std::string>{"dialog Warning", "search", "dialog Error", "quit"}),
              dialogsAndQuits());
    const auto& error = log.events()[log.events().size() - 2];
    EXPECT_EQ(kErrorHead + "1-0-0 D: KORVANE QVX-5500        VQA0\n0-1-0 E: OTHER   CD-ROM          1.00\n",
              error.text);
    EXPECT_EQ(std::vector<Button>{Button::Ok}, error.buttons);
    EXPECT_EQ(-1, view.selection);
}

TEST_F(Startup, NoDriveAtAllGivesAnEmptyDetectedList)
{
    dialogs.answer(Button::Yes);
    EXPECT_EQ(StartupOutcome::Quit, run("QORM02"));
    EXPECT_EQ(kErrorHead, log.events()[log.events().size() - 2].text);
    EXPECT_EQ(kErrorHead, noDriveErrorText(""));
    const std::string head = noDriveErrorHead();
    const std::size_t rule = head.find("drives:\n") + 8;
    EXPECT_EQ(std::string(59, '-') + "\n", head.substr(rule)); // the rule under "Detected drives:"
}

TEST_F(Startup, TwoSupportedDrivesAreListedAndTheFirstSelected)
{
    dialogs.answer(Button::Yes);
    found.lines = {{"1-0-0 D: KORVANE QVX-5500        VQ8E", "/dev/sr0"},
                   {"1-1-0 E: KORVANE QVX-5500        VQ10", "/dev/sr1"}};
    found.selection = 1; // the search leaves the last line selected
    EXPECT_EQ(StartupOutcome::FlashMode, run("QORM02"));
    EXPECT_EQ((std::vector<std::string>{"dialog Warning", "search"}), dialogsAndQuits());
    EXPECT_EQ("Korvane  Flash utility   V1.015 QVX-5500 [VQ8E10]", view.caption);
    EXPECT_EQ("/opt/korvane/W2KVQ8E10.EXE", state.ownPath);
    EXPECT_TRUE(view.driveListVisible);
    EXPECT_FALSE(view.fileListsVisible);
    EXPECT_FALSE(view.label2Visible);
    EXPECT_EQ(found.lines, view.lines);
    EXPECT_EQ(0, view.selection);
    EXPECT_EQ("", view.button); // the form's "Flash" stays as it is
}

TEST_F(Startup, DriveThatCannotBeOpenedEndsTheProgramEvenWithAnAcceptedDrive)
{
    dialogs.answer(Button::Yes);
    found.lines = {{"1-0-0 E: KORVANE QVX-5500        VQ8E", "/dev/sr1"}};
    found.selection = 0;
    const auto slot = slotStartingWith("QORM02");
    const StartupServices s{view, dialogs, quit, os, path, dir,
                            [this](ProgramState&, ui::Dialogs& d, ui::QuitRequest& q) {
                                d.showMessage("Error opening: 13");
                                q.postQuit();
                                return found;
                            }};
    EXPECT_EQ(StartupOutcome::Quit, formCreate(state, slot, kMarker, s));
    EXPECT_EQ((std::vector<std::string>{"dialog Warning", "message", "quit"}), dialogsAndQuits());
    EXPECT_EQ(0, view.selection);
}

TEST(CaptionSuffix, TakesSixCharactersFromTenBeforeTheEnd)
{
    EXPECT_EQ(" [VQ8E10]", captionSuffix("/home/u/W2KVQ8E10.EXE"));
    EXPECT_EQ(" [/FLASH]", captionSuffix("/tools/FLASH.EXE"));
    EXPECT_EQ(" [VQXXXX]", captionSuffix("W2KVQXXXX.EXE"));
    EXPECT_EQ(" [abcdef]", captionSuffix("abcdefghij")); // exactly ten: from the start
}

TEST(CaptionSuffix, ShortPathIsReadFromItsStartAndPadded)
{
    EXPECT_EQ(" [/a/b.E]", captionSuffix("/a/b.EXE"));
    EXPECT_EQ(" [abcdef]", captionSuffix("abcdefghi"));
    EXPECT_EQ(" [    /x]", captionSuffix("/x"));
    EXPECT_EQ(" [      ]", captionSuffix(""));
    EXPECT_EQ(" [    ab]", captionSuffix(std::string("xxab\0cdefghi", 12))); // %s stops at a NUL
}

TEST(ProgramTexts, BuildCaptionKeepsItsBlanksAndSpelling)
{
    EXPECT_EQ("Korvane  Flash utility   V1.015 QVX-5500 [Buiding]", buildModeCaption());
    EXPECT_EQ("Korvane  Flash utility   V1.015 QVX-5500 [VQ8E10]", flashModeCaption("W2KVQ8E10.EXE"));
    EXPECT_EQ(kWarning, startWarningText());
    EXPECT_EQ(kErrorHead, noDriveErrorHead());
}

} // namespace
} // namespace app

#include "flash_session.h"

#include "flash_rig.h"

#include <gtest/gtest.h>

namespace {

using flashtest::FlashRig;
using ui::Button;

// What the window looked like whenever the user was shown something.
struct Seen {
    bool buttonEnabled;
    bool mayClose;
};

class WatchingDialogs : public ui::Dialogs {
public:
    explicit WatchingDialogs(ui::Dialogs& inner) : inner_(inner) {}
    Button messageDialog(const std::string& t, ui::DialogKind k, const std::vector<Button>& b) override
    {
        look();
        return inner_.messageDialog(t, k, b);
    }
    void showMessage(const std::string& t) override
    {
        look();
        inner_.showMessage(t);
    }
    void messageBox(const std::string& t, const std::string& title) override
    {
        look();
        inner_.messageBox(t, title);
    }
    std::function<Seen()> window;
    std::vector<Seen> seen;

private:
    void look()
    {
        if (window)
            seen.push_back(window());
    }
    ui::Dialogs& inner_;
};

struct SessionRig {
    explicit SessionRig(const char* revision)
        : rig([&] {
              flashtest::RigOptions o;
              o.drive.revision = revision;
              return o;
          }())
    {
        session = std::make_unique<flash::FlashSession>(
            flash::FlashWindow{.selectedIndex = [this] { return rig.selected; },
                               .setButtonEnabled = [this](bool on) {
                                   buttonEnabled = on;
                                   ++buttonChanges;
                               },
                               .dialogs = dialogs,
                               .status = rig.status,
                               .cursor = rig.cursor},
            flash::FlashState{.driveTable = rig.table,
                              .access = rig.access,
                              .drives = rig.system,
                              .progress = rig.progress,
                              .ownPath = "/usr/local/bin/W2KVQ8E10.EXE"},
            rig.waiter, rig.restart, rig.inhibitor, flash::ImageSlot(flashtest::ibmKImage()),
            flash::ImageSlot(flashtest::otherImage()));
        dialogs.window = [this] { return Seen{buttonEnabled, session->mayClose()}; };
    }
    FlashRig rig;
    WatchingDialogs dialogs{rig.scripted};
    bool buttonEnabled = true;
    int buttonChanges = 0;
    std::unique_ptr<flash::FlashSession> session;
};

TEST(FlashSession, ButtonIsDisabledAndClosingRefusedForTheWholeFlash)
{
    SessionRig s("VQ8A");
    s.rig.answer(Button::Yes);
    s.rig.answer(Button::No);
    EXPECT_TRUE(s.session->mayClose());
    EXPECT_EQ(s.session->click().outcome, flash::FlashOutcome::Completed);
    ASSERT_EQ(s.dialogs.seen.size(), 2u); // the question and the restart offer
    for (const Seen& seen : s.dialogs.seen) {
        EXPECT_FALSE(seen.buttonEnabled);
        EXPECT_FALSE(seen.mayClose);
    }
    EXPECT_TRUE(s.buttonEnabled);
    EXPECT_TRUE(s.session->mayClose());
    EXPECT_EQ(s.buttonChanges, 2);
    // Every drive call and the lock went through the waiter: the open, the port query,
    // the lock, 36 requests.
    EXPECT_EQ(s.rig.waiter.calls, 39);
    EXPECT_TRUE(std::equal(s.rig.drive->firmware().begin(), s.rig.drive->firmware().end(),
                           flashtest::ibmKImage().begin(), flashtest::ibmKImage().end()));
}

TEST(FlashSession, AFailedFlashGivesTheButtonAndTheWindowBack)
{
    SessionRig s("VQ8A");
    s.rig.drive->addFault(scsi::Fault::checkCondition(4, {0x05, 0x24, 0x00}, 0x3B));
    s.rig.answer(Button::Yes);
    EXPECT_EQ(s.session->click().outcome, flash::FlashOutcome::WriteFailed);
    ASSERT_FALSE(s.dialogs.seen.empty());
    EXPECT_FALSE(s.dialogs.seen.back().buttonEnabled); // while "Write buffer fail!" is up
    EXPECT_TRUE(s.buttonEnabled);
    EXPECT_TRUE(s.session->mayClose());
    EXPECT_EQ(s.rig.status.caption(), "Write buffer fail!");
}

} // namespace

#include "linux_restart.h"

#include "logind_mock.h"
#include "restart_offer.h"
#include "scripted_ui.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using flashtest::LogindMock;
using flashtest::ScopedEnv;

TEST(LinuxRestart, CapSysBootIsBit22OfTheEffectiveSet)
{
    EXPECT_TRUE(flash::capEffHoldsSysBoot("Name:\tx\nCapInh:\t0000000000000000\nCapEff:\t000001ffffffffff\n"));
    EXPECT_TRUE(flash::capEffHoldsSysBoot("CapEff:\t0000000000400000\n"));
    EXPECT_FALSE(flash::capEffHoldsSysBoot("CapEff:\t0000000000200000\n"));
    // Only the effective set counts, not the permitted or bounding ones.
    EXPECT_FALSE(flash::capEffHoldsSysBoot("CapPrm:\t0000000000400000\nCapEff:\t0000000000000000\n"));
    EXPECT_FALSE(flash::capEffHoldsSysBoot("CapEff:\tzz\n"));
    EXPECT_FALSE(flash::capEffHoldsSysBoot(""));
}

TEST(LinuxRestart, RebootIsForbiddenByTheSafetyVariableOrByVirtualDrives)
{
    ScopedEnv drives("QVX_VIRTUAL_DRIVES", nullptr);
    {
        ScopedEnv no("QVX_NO_REBOOT", "1");
        EXPECT_TRUE(flash::rebootForbidden());
    }
    {
        ScopedEnv no("QVX_NO_REBOOT", "yes");
        EXPECT_TRUE(flash::rebootForbidden());
    }
    {
        ScopedEnv no("QVX_NO_REBOOT", "0");
        EXPECT_FALSE(flash::rebootForbidden());
    }
    {
        ScopedEnv no("QVX_NO_REBOOT", "");
        EXPECT_FALSE(flash::rebootForbidden());
    }
    {
        ScopedEnv no("QVX_NO_REBOOT", nullptr);
        EXPECT_FALSE(flash::rebootForbidden());
        ScopedEnv virtualDrives("QVX_VIRTUAL_DRIVES", "/tmp/drives");
        EXPECT_TRUE(flash::rebootForbidden());
        // A folder named 0 holds the drive list's virtual drives too.
        ScopedEnv folderZero("QVX_VIRTUAL_DRIVES", "0");
        EXPECT_TRUE(flash::rebootForbidden());
    }
}

TEST(LinuxRestart, WithTheSafetyVariableRebootOnlySaysWhatItWouldDo)
{
    ScopedEnv no("QVX_NO_REBOOT", "1");
    ASSERT_TRUE(flash::rebootForbidden()); // never go on without it
    std::string said;
    flash::LinuxRestart restart([&](const std::string& text) { said += text + "\n"; });
    restart.reboot();
    EXPECT_NE(said.find("would call org.freedesktop.login1.Manager.Reboot(false)"), std::string::npos) << said;
}

TEST(LinuxRestart, WithoutASessionNoRightIsLookedUpOrEnabled)
{
    // No session, so no reboot can follow: the safety variable is left out, which would
    // make every step pretend.
    ScopedEnv no("QVX_NO_REBOOT", nullptr);
    ScopedEnv drives("QVX_VIRTUAL_DRIVES", nullptr);
    flash::LinuxRestart restart([](const std::string&) {});
    EXPECT_FALSE(restart.findRebootService().ok);
    EXPECT_FALSE(restart.checkRebootAllowed().ok);
}

// ---------------------------------------------------------------- over a real D-Bus, with logind mocked

// No CAP_SYS_BOOT, whoever runs the test (CI runs as root).
std::string unprivileged() { return "CapEff:\t0000000000000000\n"; }

// Lets the restart call Reboot for real: only on the mock's bus, which REQUIRE_LOGIND_MOCK
// has made sure is the one the code connects to.
struct RealReboot {
    ScopedEnv noSafety{"QVX_NO_REBOOT", nullptr};
    ScopedEnv noDrives{"QVX_VIRTUAL_DRIVES", nullptr};
};

// The restart offer answered Yes, with the Linux restart on the mock's bus.
struct Offer {
    explicit Offer(std::function<std::string()> procStatus = unprivileged)
        : restart([this](const std::string& text) { said += text + "\n"; }, std::move(procStatus))
    {
        dialogs.answer(ui::Button::Yes);
    }
    flash::RestartOutcome run() { return offer.run(); }
    // What the user sees of an offer that ends in the box.
    static std::vector<std::string> endingIn(const std::string& box)
    {
        return {std::string("dialog Confirm: ") + flash::kRestartQuestion.english, box, "caption: "};
    }

    std::string said;
    ui::UiLog log;
    ui::ScriptedDialogs dialogs{log};
    ui::RecordingStatusLine status{log};
    ui::RecordingCursor cursor{log};
    flash::LinuxRestart restart;
    flash::RestartOffer offer{dialogs, status, cursor, restart};
};

TEST(LinuxRestart, ADryRunReachesForNoBusAndEndsInWhatItWouldDo)
{
    ScopedEnv no("QVX_NO_REBOOT", "1");
    ScopedEnv noBus(flash::logind::kAddressVariable, "unix:path=/nonexistent/system_bus_socket");
    Offer offer;
    EXPECT_EQ(offer.run(), flash::RestartOutcome::RebootRequested);
    EXPECT_EQ(offer.log.lines(), (std::vector<std::string>{std::string("dialog Confirm: ") + flash::kRestartQuestion.english,
                                                           "cursor: default", "caption: "}));
    EXPECT_NE(offer.said.find("would call"), std::string::npos) << offer.said;
}

TEST(LinuxRestart, CanRebootYesLeadsToExactlyOneRebootWithoutInteraction)
{
    LogindMock mock;
    REQUIRE_LOGIND_MOCK(mock);
    const RealReboot real;
    const std::size_t descriptors = flashtest::openDescriptors();
    {
        Offer offer;
        EXPECT_EQ(offer.run(), flash::RestartOutcome::RebootRequested);
        EXPECT_EQ(offer.said, "");
        EXPECT_EQ(offer.status.caption(), "");
    }
    EXPECT_EQ(flashtest::openDescriptors(), descriptors); // the session's socket went with it
    EXPECT_EQ(mock.calls("CanReboot").size(), 1u);
    const auto reboots = mock.calls("Reboot");
    ASSERT_EQ(reboots.size(), 1u);
    EXPECT_EQ(reboots[0], QVariantList{false}); // no interactive authentication
}

TEST(LinuxRestart, WithoutTheRightFromLogindTheOfferEndsInTheMissingRightBox)
{
    LogindMock mock;
    REQUIRE_LOGIND_MOCK(mock);
    const RealReboot real;
    for (const std::string answer : {"no", "challenge", "na"}) {
        SCOPED_TRACE(answer);
        mock.replaceMethod("CanReboot", "", "s", ("ret = '" + answer + "'").c_str());
        Offer offer;
        EXPECT_EQ(offer.run(), flash::RestartOutcome::EnableFailed);
        EXPECT_EQ(offer.log.lines(), offer.endingIn("box AdjustTokenPrivileges() failed: Exit Error"));
        EXPECT_EQ(offer.said, "restart: not allowed to reboot: CanReboot answered \"" + answer + "\"\n");
    }
    EXPECT_TRUE(mock.calls("Reboot").empty());
}

TEST(LinuxRestart, WithoutLogindOnTheBusTheOfferEndsInTheLookupBox)
{
    LogindMock mock(LogindMock::Start::BusOnly);
    REQUIRE_LOGIND_MOCK(mock);
    const RealReboot real; // no logind, so nothing to reboot
    Offer offer;
    EXPECT_EQ(offer.run(), flash::RestartOutcome::LookupFailed);
    EXPECT_EQ(offer.log.lines(), offer.endingIn("box LookupPrivilegeValue() failed: Exit Error"));
    EXPECT_EQ(offer.said, "restart: org.freedesktop.login1 is not on the system bus\n");
}

TEST(LinuxRestart, ARebootThatLogindRefusesIsWrittenToStandardError)
{
    LogindMock mock;
    REQUIRE_LOGIND_MOCK(mock);
    const RealReboot real;
    mock.replaceMethod("Reboot", "b", "",
                       "raise dbus.exceptions.DBusException('Interactive authentication required.', "
                       "name='org.freedesktop.DBus.Error.InteractiveAuthorizationRequired')");
    flash::LinuxRestart restart({}, unprivileged);
    ASSERT_TRUE(restart.openSession().ok);
    ASSERT_TRUE(restart.findRebootService().ok);
    ASSERT_TRUE(restart.checkRebootAllowed().ok);
    testing::internal::CaptureStderr();
    restart.reboot();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "restart: Reboot refused: Interactive authentication required.\n");
    EXPECT_EQ(mock.calls("Reboot").size(), 1u);
}

} // namespace

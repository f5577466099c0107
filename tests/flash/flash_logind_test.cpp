// The flash with its real lock: logind's Inhibit over a real D-Bus, logind mocked.
#include "flash_rig.h"
#include "linux_inhibitor.h"
#include "linux_restart.h"
#include "logind_mock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using flash::FlashOutcome;
using flashtest::FlashRig;
using flashtest::LogindMock;
using flashtest::RigOptions;
using flashtest::ScopedEnv;
using ui::Button;

constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kReadBuffer = 0x3C;
constexpr const char* kWho = "Korvane Flash utility for QVX5500 on Win2000 & NT";

std::string theLock()
{
    return std::string("shutdown:sleep:idle:handle-power-key:handle-suspend-key:handle-hibernate-key:"
                       "handle-lid-switch|")
        + kWho + "|" + flash::kInhibitReason.english + "|block";
}

// Reads logind's locks right before each drive call of the flash and notes them beside
// the request that the call sent.
class InhibitorWatch : public flash::Waiter {
public:
    explicit InhibitorWatch(LogindMock& mock) : mock_(mock) {}
    void runBlocking(const std::function<void()>& call) override
    {
        std::vector<std::string> held = mock_.inhibitors();
        const std::size_t before = drive ? drive->requests().size() : 0;
        call();
        if (drive && drive->requests().size() > before)
            seen.push_back({drive->requests().back().opcode(), std::move(held)});
    }
    void sleep(std::chrono::milliseconds) override {}

    std::shared_ptr<scsi::VirtualDrive> drive;
    std::vector<std::pair<std::uint8_t, std::vector<std::string>>> seen;

private:
    LogindMock& mock_;
};

RigOptions throughLogind(flash::PowerInhibitor& inhibitor, flash::Waiter* waiter = nullptr)
{
    RigOptions o;
    o.drive.revision = "VQ8A";
    o.inhibitor = &inhibitor;
    o.throughWaitingSystem = waiter != nullptr;
    o.waiter = waiter;
    return o;
}

TEST(FlashProcedure, HoldsLogindsLockFromTheFirstWriteToTheEndAndLetsGoBeforeTheRestartQuestion)
{
    LogindMock mock;
    REQUIRE_LOGIND_MOCK(mock);
    std::string said;
    flash::LogindInhibitor inhibitor(kWho, [&](const std::string& text) { said += text + "\n"; });
    InhibitorWatch watch(mock);
    FlashRig rig(throughLogind(inhibitor, &watch));
    watch.drive = rig.drive;
    bool releasedBeforeQuestion = false;
    rig.dialogs.onShow = [&](const std::string& text) {
        if (text == flash::kRestartQuestion.english)
            releasedBeforeQuestion = mock.noInhibitorWithin();
    };
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);

    // None during START STOP UNIT and TEST UNIT READY; exactly this one while every piece
    // was written and read back and while the closing request went out.
    ASSERT_EQ(watch.seen.size(), 3u + 16u + 16u + 1u);
    for (std::size_t k = 0; k < watch.seen.size(); ++k) {
        const auto& [opcode, held] = watch.seen[k];
        SCOPED_TRACE("request " + std::to_string(k));
        if (opcode == kWriteBuffer || opcode == kReadBuffer)
            EXPECT_EQ(held, std::vector<std::string>{theLock()});
        else
            EXPECT_TRUE(held.empty());
    }
    EXPECT_TRUE(releasedBeforeQuestion);
    EXPECT_EQ(mock.calls("Inhibit").size(), 1u);
    EXPECT_EQ(said, "");
}

TEST(FlashProcedure, LetsGoOfLogindsLockAfterAFailedPiece)
{
    LogindMock mock;
    REQUIRE_LOGIND_MOCK(mock);
    flash::LogindInhibitor inhibitor(kWho);
    const std::vector<scsi::Fault> faults{
        scsi::Fault::checkCondition(1, {0x05, 0x24, 0x00}, kWriteBuffer),  // the first piece
        scsi::Fault::corruptRead(9, 100, kReadBuffer),                     // verify, ninth piece
        scsi::Fault::timeOut(16, kReadBuffer),                             // the last read
        scsi::Fault::checkCondition(17, {0x04, 0x44, 0x00}, kWriteBuffer), // the closing request
    };
    for (std::size_t k = 0; k < faults.size(); ++k) {
        SCOPED_TRACE("fault " + std::to_string(k));
        FlashRig rig(throughLogind(inhibitor));
        rig.drive->addFault(faults[k]);
        rig.answer(Button::Yes);
        EXPECT_NE(rig.run().outcome, FlashOutcome::Completed);
        EXPECT_EQ(rig.drive->firmwareSaves(), 0);
        EXPECT_EQ(mock.calls("Inhibit").size(), k + 1);
        ASSERT_TRUE(mock.noInhibitorWithin());
    }
}

TEST(FlashProcedure, WithoutLogindsLockTheFlashGoesOnAndSaysSoInOneLine)
{
    struct Case {
        const char* name;
        LogindMock::Start start;
        const char* refusal; // Python for a refusing Inhibit, or nullptr
        const char* line;    // the start of what is said
    };
    const Case cases[] = {
        {"refused", LogindMock::Start::WithLogind,
         "raise dbus.exceptions.DBusException('Access denied', name='org.freedesktop.DBus.Error.AccessDenied')",
         "flash: going on without a lock against shutdown and sleep: logind's Inhibit failed: Access denied"},
        {"no logind", LogindMock::Start::BusOnly, nullptr,
         "flash: going on without a lock against shutdown and sleep: logind's Inhibit failed: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LogindMock mock(c.start);
        REQUIRE_LOGIND_MOCK(mock);
        if (c.refusal)
            mock.replaceMethod("Inhibit", "ssss", "h", c.refusal);
        std::vector<std::string> said;
        flash::LogindInhibitor inhibitor(kWho, [&](const std::string& text) { said.push_back(text); });
        FlashRig rig(throughLogind(inhibitor));
        rig.answer(Button::Yes);
        rig.answer(Button::No);
        EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
        EXPECT_EQ(rig.drive->firmwareSaves(), 1);
        EXPECT_EQ(rig.lines(), (std::vector<std::string>{
                                   "dialog Confirm: \nUpdate FW:VQ8A to FW:VQ8E ?\n", "cursor: busy",
                                   "caption: Don't turn off the system, Flash is in progress...",
                                   "caption: Flash Completed.", "cursor: default",
                                   std::string("dialog Confirm: ") + flash::kRestartQuestion.english, "caption: ",
                                   "cursor: default"}));
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].rfind(c.line, 0), 0u) << said[0];
        EXPECT_EQ(said[0].find('\n'), std::string::npos);
    }
}

TEST(FlashProcedure, WithTheDefaultReporterAFailedLockIsOneLineOnStandardErrorWithItsReason)
{
    ScopedEnv noBus(flash::logind::kAddressVariable, "unix:path=/nonexistent/system_bus_socket");
    flash::LogindInhibitor inhibitor(kWho);
    testing::internal::CaptureStderr();
    EXPECT_EQ(inhibitor.hold(flash::kInhibitReason.english), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "flash: going on without a lock against shutdown and sleep: no system bus: cannot connect to "
              "unix:path=/nonexistent/system_bus_socket: No such file or directory\n");
}

TEST(FlashProcedure, AnEmptyBusVariableMeansTheStandardSocket)
{
    ScopedEnv empty(flash::logind::kAddressVariable, "");
    EXPECT_EQ(flash::logind::systemBusAddress(), "unix:path=/run/dbus/system_bus_socket");
}

TEST(FlashProcedure, LogindsLockOverAnEscapedBusAddressLeavesNoDescriptorBehind)
{
    LogindMock mock;
    REQUIRE_LOGIND_MOCK(mock);
    std::string escaped;
    for (const char c : mock.address())
        escaped += c == '/' ? std::string("%2f") : std::string(1, c);
    ScopedEnv address(flash::logind::kAddressVariable, escaped.c_str());
    const std::size_t descriptors = flashtest::openDescriptors();
    flash::LogindInhibitor inhibitor(kWho);
    EXPECT_NE(inhibitor.hold(flash::kInhibitReason.english), nullptr); // and let go at once
    EXPECT_EQ(flashtest::openDescriptors(), descriptors);
}

TEST(FlashProcedure, AnInhibitThatLogindDoesNotAnswerIsGivenUpAtTheLimit)
{
    LogindMock mock;
    REQUIRE_LOGIND_MOCK(mock);
    mock.replaceMethod("Inhibit", "ssss", "h", "time.sleep(20)");
    std::vector<std::string> said;
    flash::LogindInhibitor inhibitor(kWho, [&](const std::string& text) { said.push_back(text); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(inhibitor.hold(flash::kInhibitReason.english), nullptr);
    // Far below the 20 s of the mock and the bus's own default of 25 s.
    EXPECT_LT(std::chrono::steady_clock::now() - start, flash::logind::kRoadLimit + std::chrono::seconds(10));
    EXPECT_EQ(said, std::vector<std::string>{"flash: going on without a lock against shutdown and sleep: "
                                             "logind's Inhibit failed: no answer within 3000 ms"});
}

TEST(FlashProcedure, ABusThatStallsAnyStepOfTheWayInHoldsUpNeitherTheLockNorTheRestartPastTheLimit)
{
    using Stall = flashtest::StallingBus::Stall;
    // Without the safety variable, so that the restart reaches for the bus; it gets no session.
    ScopedEnv noSafety("QVX_NO_REBOOT", nullptr);
    ScopedEnv noDrives("QVX_VIRTUAL_DRIVES", nullptr);
    for (const Stall stall : {Stall::Auth, Stall::HalfLine, Stall::FdNegotiation, Stall::Hello}) {
        const flashtest::StallingBus bus(stall);
        SCOPED_TRACE("stall " + std::to_string(static_cast<int>(stall)));
        ScopedEnv address(flash::logind::kAddressVariable, bus.address().c_str());
        std::vector<std::string> said;
        const auto say = [&](const std::string& text) { said.push_back(text); };
        flash::LogindInhibitor inhibitor(kWho, say);
        flash::LinuxRestart restart(say);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(inhibitor.hold(flash::kInhibitReason.english), nullptr);
        EXPECT_FALSE(restart.openSession().ok);
        // Each gives up at the limit; without one, neither returns (or the process dies).
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2 * flash::logind::kRoadLimit + std::chrono::seconds(10));
        const std::string silent = "no system bus: no answer from the bus at " + bus.address() + " within 3000 ms";
        EXPECT_EQ(said, (std::vector<std::string>{
                            "flash: going on without a lock against shutdown and sleep: " + silent, "restart: " + silent}));
    }
}

} // namespace

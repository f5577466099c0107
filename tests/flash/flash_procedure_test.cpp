#include "flash_rig.h"
#include "sent_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

namespace {

using flash::FlashOutcome;
using flashtest::FlashRig;
using flashtest::RigOptions;
using ui::Button;

constexpr std::uint8_t kStartStop = 0x1B;
constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kReadBuffer = 0x3C;

const std::string kUpdateVQ8AtoVQ8E = "dialog Confirm: \nUpdate FW:VQ8A to FW:VQ8E ?\n";
const std::string kBusy = "cursor: busy";
const std::string kDefault = "cursor: default";
const std::string kInProgress = "caption: Don't turn off the system, Flash is in progress...";
const std::string kRestartQuestion = std::string("dialog Confirm: ") + flash::kRestartQuestion.english;

RigOptions drive(const std::string& revision)
{
    RigOptions o;
    o.drive.revision = revision;
    return o;
}

std::vector<std::uint8_t> piece(const std::array<std::uint8_t, flash::kImageSize>& image, std::size_t k)
{
    const auto* begin = image.data() + k * flash::kPieceSize;
    return {begin, begin + flash::kPieceSize};
}

// Everything the drive must have received in a whole flash of image, in order, each request
// whole as its record builder makes it.
void expectWholeFlash(const FlashRig& rig, const std::array<std::uint8_t, flash::kImageSize>& image)
{
    using namespace testsupport;
    const auto& r = rig.drive->requests();
    ASSERT_EQ(r.size(), 3u + 16u + 16u + 1u);
    const auto& c = rig.drive->config();
    const scsi::Address at{c.path, c.target, c.lun}; // as the drive told identification
    EXPECT_EQ(asSent(r[0]), built(scsi::buildStartStopUnitRecord, at, 3));
    EXPECT_EQ(asSent(r[1]), built(scsi::buildStartStopUnitRecord, at, 0));
    EXPECT_EQ(asSent(r[2]), built(scsi::buildTestUnitReadyRecord, at));
    for (std::uint32_t k = 0; k < 16; ++k) {
        SCOPED_TRACE("piece " + std::to_string(k));
        const std::uint32_t offset = k * flash::kPieceSize;
        EXPECT_EQ(asSent(r[3 + k]), built(scsi::buildWriteBufferRecord, at, offset, flash::kPieceSize, 0));
        EXPECT_TRUE(r[3 + k].dataOut == piece(image, k));
        EXPECT_EQ(asSent(r[19 + k]), built(scsi::buildReadBufferRecord, at, offset, flash::kPieceSize));
    }
    EXPECT_EQ(asSent(r[35]), built(scsi::buildWriteBufferRecord, at, 39, 1, 0x80));
    EXPECT_TRUE(r[35].dataOut.empty());
}

// ---------------------------------------------------------------- the whole road

TEST(FlashProcedure, WholeFlashSendsReadsBackAndClosesThenOffersTheRestart)
{
    FlashRig rig(drive("VQ8A"));
    rig.answer(Button::Yes);
    rig.answer(Button::No); // the restart offer
    const auto report = rig.run();

    EXPECT_EQ(report.outcome, FlashOutcome::Completed);
    EXPECT_EQ(rig.lines(), (std::vector<std::string>{
                               kUpdateVQ8AtoVQ8E, kBusy, kInProgress, "caption: Flash Completed.", kDefault,
                               kRestartQuestion, "caption: ", kDefault}));
    expectWholeFlash(rig, flashtest::ibmKImage());
    EXPECT_EQ(rig.drive->inquiryDataQueries(), 1);
    EXPECT_EQ(rig.drive->firmwareSaves(), 1);
    EXPECT_TRUE(std::equal(rig.drive->firmware().begin(), rig.drive->firmware().end(),
                           flashtest::ibmKImage().begin(), flashtest::ibmKImage().end()));

    // 40 of 40 while the offer is up, 0 of 40 by 1 afterwards; the drive stays open.
    ASSERT_EQ(rig.dialogs.snapshots.size(), 2u);
    EXPECT_EQ(rig.dialogs.snapshots[1].position, 40);
    EXPECT_EQ(rig.dialogs.snapshots[1].max, 40);
    EXPECT_EQ(rig.progress.position(), 0);
    EXPECT_EQ(rig.progress.min(), 0);
    EXPECT_EQ(rig.progress.max(), 40);
    EXPECT_EQ(rig.progress.step(), 1);
    EXPECT_NE(rig.access.device, nullptr);
    EXPECT_EQ(rig.drive->openDevices(), 1);
    EXPECT_EQ(rig.waiter.sleeps, 0); // the drive said "no medium" at once
    EXPECT_FALSE(rig.cursor.busy());
    EXPECT_EQ(rig.status.caption(), "");
}

TEST(FlashProcedure, RunsWhollyThroughTheWaiterAndIsInProgressMeanwhile)
{
    RigOptions o = drive("VQ8A");
    o.throughWaitingSystem = true;
    FlashRig rig(o);
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    expectWholeFlash(rig, flashtest::ibmKImage());
    // The open, the port query, the lock and all 36 requests went through the waiter.
    EXPECT_EQ(rig.waiter.calls, 1 + 1 + 1 + 36);
    ASSERT_EQ(rig.dialogs.snapshots.size(), 2u);
    EXPECT_TRUE(rig.dialogs.snapshots[0].inProgress);
    EXPECT_TRUE(rig.dialogs.snapshots[1].inProgress);
    EXPECT_FALSE(rig.procedure->inProgress());
}

TEST(FlashProcedure, NonIbmKDriveGetsTheSecondImageAndTheRevisionOfTheNameSuffix)
{
    FlashRig rig(drive("VQ10"));
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    const auto report = rig.run();
    EXPECT_EQ(report.outcome, FlashOutcome::Completed);
    EXPECT_FALSE(report.ibmK);
    ASSERT_FALSE(rig.lines().empty());
    EXPECT_EQ(rig.lines().front(), "dialog Confirm: \nUpdate FW:VQ10 to FW:VQ10 ?\n");
    expectWholeFlash(rig, flashtest::otherImage());
    EXPECT_TRUE(std::equal(rig.drive->firmware().begin(), rig.drive->firmware().end(),
                           flashtest::otherImage().begin(), flashtest::otherImage().end()));
}

TEST(FlashProcedure, AHandleLeftOpenIsClosedBeforeTheDriveIsClaimed)
{
    FlashRig rig(drive("VQ8A"));
    // An exclusive claim still held would make the flash's own claim fail with EBUSY.
    rig.access.device = rig.system.open('E', scsi::OpenMode::Exclusive).device;
    ASSERT_NE(rig.access.device, nullptr);
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    EXPECT_EQ(rig.drive->openDevices(), 1);
}

TEST(FlashProcedure, AFailedStartOrStopDoesNotStopTheFlash)
{
    FlashRig rig(drive("VQ8A"));
    rig.drive->addFault(scsi::Fault::refused(1, 5, kStartStop));
    rig.drive->addFault(scsi::Fault::checkCondition(2, {0x02, 0x3A, 0x00}, kStartStop));
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    ASSERT_FALSE(rig.lines().empty());
    EXPECT_EQ(rig.lines().front(), kUpdateVQ8AtoVQ8E);
    EXPECT_EQ(rig.drive->firmwareSaves(), 1);
}

TEST(FlashProcedure, TheDriveIsNoLongerClaimedOnceTheFlashHasEnded)
{
    FlashRig rig(drive("VQ8A"));
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    ASSERT_NE(rig.access.device, nullptr);
    EXPECT_NE(rig.system.open('E', scsi::OpenMode::Exclusive).device, nullptr);
}

TEST(FlashProcedure, ASecondFlashOfTheSameDriveWorksAgain)
{
    FlashRig rig(drive("VQ8A"));
    for (int i = 0; i < 2; ++i) {
        rig.answer(Button::Yes);
        rig.answer(Button::No);
        EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    }
    EXPECT_EQ(rig.drive->firmwareSaves(), 2);
    EXPECT_EQ(rig.drive->openDevices(), 1);
}

// ---------------------------------------------------------------- the lock against shutdown and sleep

std::string lockEvent(const char* what, std::size_t requests, std::size_t lines)
{
    return flashtest::RecordingInhibitor::describe(what, requests, lines);
}

TEST(FlashProcedure, HoldsTheLockFromTheFirstWriteUntilJustBeforeTheRestartQuestion)
{
    FlashRig rig(drive("VQ8A"));
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    // Taken after the two START STOP UNITs and the TEST UNIT READY, with the question, the
    // busy cursor and the caption shown; given back after the closing request, with
    // "Flash Completed." shown and the cursor back, before the restart question.
    EXPECT_EQ(rig.inhibitor.events,
              (std::vector<std::string>{lockEvent("taken", 3, 3), lockEvent("released", 36, 5)}));
    EXPECT_EQ(rig.lines().at(5), kRestartQuestion);
    EXPECT_EQ(rig.inhibitor.why, flash::kInhibitReason.english);
}

// The hook that gives the lock back before a box ends with the flash: a later flash's box
// must not reach for a lock that is gone.
TEST(FlashProcedure, TheLocksHookEndsWithTheFlash)
{
    FlashRig rig(drive("VQ8A"));
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    EXPECT_FALSE(rig.requests.beforeBox);
    rig.drive->config().discPresent = true;
    rig.drive->config().discStaysIn = true;
    rig.answer(Button::Yes);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::NotReady);
}

// Fails its nth call with an exception, as a failure on the worker thread (or a worker
// that could not be started) comes out of the window's waiter.
class ThrowingWaiter : public flash::Waiter {
public:
    ThrowingWaiter(int failing, std::exception_ptr exception) : failing_(failing), exception_(std::move(exception)) {}
    void runBlocking(const std::function<void()>& call) override
    {
        if (++calls_ == failing_)
            std::rethrow_exception(exception_);
        call();
    }
    void sleep(std::chrono::milliseconds) override {}

private:
    int failing_;
    std::exception_ptr exception_;
    int calls_ = 0;
};

struct ThrowCase {
    const char* name;
    int failingCall; // the open, the port query, three requests, the lock, 16 pieces, 16 reads, the closing one
    std::exception_ptr exception;
    std::vector<std::string> after;   // the lines after the question
    std::string released;             // when the lock was given back ("" when never taken)
};

void PrintTo(const ThrowCase& c, std::ostream* os) { *os << c.name; }

class AnException : public ::testing::TestWithParam<ThrowCase> {};

// The status line says what the failures of that stage say, "Flash Fail." only once the
// closing request may have reached the drive; the box says what the drive holds now.
TEST_P(AnException, EndsTheFlashAndTellsWhyAndWhatTheDriveHolds)
{
    const auto& c = GetParam();
    ThrowingWaiter waiter(c.failingCall, c.exception);
    RigOptions o = drive("VQ8A");
    o.throughWaitingSystem = true;
    o.waiter = &waiter;
    FlashRig rig(o);
    rig.answer(Button::Yes);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::CallThrew);
    std::vector<std::string> expected{kUpdateVQ8AtoVQ8E};
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    EXPECT_EQ(rig.lines(), expected);
    std::vector<std::string> lockEvents;
    if (!c.released.empty())
        lockEvents = {lockEvent("taken", 3, 3), c.released};
    EXPECT_EQ(rig.inhibitor.events, lockEvents);
    EXPECT_EQ(rig.drive->firmwareSaves(), 0);
    EXPECT_EQ(rig.progress.position(), 0);
    EXPECT_FALSE(rig.procedure->inProgress());
}

INSTANTIATE_TEST_SUITE_P(
    Stages, AnException,
    ::testing::Values(
        // A worker that cannot start for the first call: nothing was written, nothing is said
        // to have failed on the drive. Not every exception is a runtime_error.
        ThrowCase{"BeforeAnythingWasWritten", 1, std::make_exception_ptr(std::bad_alloc()),
                  {kDefault, "message: " + ui::localized(flash::kStoppedBeforeWriting, {"std::bad_alloc"})},
                  ""},
        // The third piece: the drive keeps its old firmware; the lock is given back before the box.
        ThrowCase{"MidWrite", 9, std::make_exception_ptr(std::runtime_error("the drive call failed")),
                  {kBusy, kInProgress, kDefault, "caption: Write buffer fail!",
                   "message: " + ui::localized(flash::kStoppedBeforeClosing, {"the drive call failed"})},
                  lockEvent("released", 5, 3)},
        // The closing request: the drive may hold part of the new firmware, and the machine
        // is kept up through the box.
        ThrowCase{"AtTheClosingRequest", 39, std::make_exception_ptr(std::runtime_error("the drive call failed")),
                  {kBusy, kInProgress, kDefault, "caption: Flash Fail.",
                   "message: " + ui::localized(flash::kStoppedWhileClosing, {"the drive call failed"})},
                  lockEvent("released", 35, 6)}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- revisions and the question

struct QuestionCase {
    const char* name;
    const char* driveRevision;
    const char* ownPath;
    const char* expectedLine;
};

void PrintTo(const QuestionCase& c, std::ostream* os) { *os << c.name; }

class Question : public ::testing::TestWithParam<QuestionCase> {};

TEST_P(Question, AsksWithTheRightTextAndKindAndDoesNothingOnNo)
{
    const auto& c = GetParam();
    RigOptions o = drive(c.driveRevision);
    o.ownPath = c.ownPath;
    FlashRig rig(o);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Declined);
    EXPECT_EQ(rig.lines(), std::vector<std::string>{c.expectedLine});
    EXPECT_TRUE(rig.drive->requests().empty());
    EXPECT_EQ(rig.opens(), 0);
    EXPECT_EQ(rig.access.device, nullptr);
    EXPECT_TRUE(rig.inhibitor.events.empty());
}

#define WARN(cur, carried) \
    "dialog Warning: \nWARNING:\n\nCurrent FW:" cur " is newer than FW:" carried ".\n\nContinue update FW:" cur \
    " to FW:" carried " ?\n"
#define ASK(cur, carried) "dialog Confirm: \nUpdate FW:" cur " to FW:" carried " ?\n"

INSTANTIATE_TEST_SUITE_P(
    Revisions, Question,
    ::testing::Values(
        QuestionCase{"EqualIbmK", "VQ8E", "/opt/k/W2KVQ8E10.EXE", ASK("VQ8E", "VQ8E")},
        QuestionCase{"EqualNonIbmK", "VQ10", "/opt/k/W2KVQ8E10.EXE", ASK("VQ10", "VQ10")},
        QuestionCase{"OlderDrive", "VQ8A", "/opt/k/W2KVQ8E10.EXE", ASK("VQ8A", "VQ8E")},
        QuestionCase{"NewerDrive", "VQ8F", "/opt/k/W2KVQ8E10.EXE", WARN("VQ8F", "VQ8E")},
        QuestionCase{"NewerNonIbmKDrive", "VQ12", "/opt/k/W2KVQ8E10.EXE", WARN("VQ12", "VQ10")},
        QuestionCase{"NineIsIbmKToo", "VQ9A", "/opt/k/W2KVQ8E10.EXE", WARN("VQ9A", "VQ8E")},
        QuestionCase{"LowerCaseFourthOfTheDriveCountsAsUpper", "VQ8e", "/opt/k/W2KVQ8E10.EXE",
                     ASK("VQ8E", "VQ8E")},
        QuestionCase{"LowerCaseFourthOfTheNameCountsAsUpper", "VQ8F", "/opt/k/W2KVQ8f10.EXE",
                     ASK("VQ8F", "VQ8F")},
        // A release named in lower case compares as in capitals; its text shows the name as
        // it stands, only the fourth character raised.
        QuestionCase{"LowerCaseNameStillWarns", "VQ8Z", "/opt/k/W2Kvq8d05.EXE", WARN("VQ8Z", "vq8D")},
        QuestionCase{"NonIbmKSuffixLowerCase", "VQ1A", "/opt/k/W2KVQ8E1b.EXE", ASK("VQ1A", "VQ1B")},
        // A renamed program: whatever stands ten characters before the end.
        QuestionCase{"RenamedProgram", "VQ8E", "/home/user/flash.bin", WARN("VQ8E", "/flA")},
        // Ten characters exactly is still a whole name; fewer carries no revision.
        QuestionCase{"TenCharacterPath", "VQ8E", "VQ8F10.EXE", ASK("VQ8E", "VQ8F")},
        QuestionCase{"NineCharacterPath", "VQ8E", "Q8F10.EXE", WARN("VQ8E", "")},
        QuestionCase{"EmptyPath", "VQ10", "", WARN("VQ10", "")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FlashProcedure, ClosingTheQuestionWithoutAButtonDeclines)
{
    FlashRig rig(drive("VQ8A"));
    rig.answer(Button::None);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Declined);
    EXPECT_TRUE(rig.drive->requests().empty());
}

// ---------------------------------------------------------------- stops before the transfer

TEST(FlashProcedure, NoSelectionDoesNothing)
{
    for (int index : {-1, 4, 1000}) {
        FlashRig rig(drive("VQ8A"));
        rig.selected = index;
        rig.answer(Button::Yes);
        EXPECT_EQ(rig.run().outcome, FlashOutcome::NoDrive);
        EXPECT_TRUE(rig.lines().empty());
        EXPECT_EQ(rig.opens(), 0);
        EXPECT_EQ(rig.scripted.unusedAnswers(), 1u);
    }
}

TEST(FlashProcedure, OpenFailureIsToldAndLeavesNoHandle)
{
    FlashRig rig(drive("VQ8A"));
    rig.access.device = rig.system.open('E', scsi::OpenMode::Identify).device; // an older handle
    ASSERT_NE(rig.access.device, nullptr);
    rig.drive->config().openError = 16;
    rig.answer(Button::Yes);
    const auto report = rig.run();
    EXPECT_EQ(report.outcome, FlashOutcome::OpenFailed);
    EXPECT_EQ(report.error, 16);
    EXPECT_EQ(rig.lines(), (std::vector<std::string>{kUpdateVQ8AtoVQ8E, "message: Error opening: 16"}));
    EXPECT_EQ(rig.access.device, nullptr);
    EXPECT_EQ(rig.access.lastError, 16);
    EXPECT_TRUE(rig.drive->requests().empty());
}

TEST(FlashProcedure, PortQueryFailureIsToldAndTheHandleStaysOpen)
{
    RigOptions o = drive("VQ8A");
    o.drive.inquiryDataError = 5;
    FlashRig rig(o);
    rig.answer(Button::Yes);
    const auto report = rig.run();
    EXPECT_EQ(report.outcome, FlashOutcome::QueryFailed);
    EXPECT_EQ(rig.lines(), (std::vector<std::string>{
                               kUpdateVQ8AtoVQ8E, "message: Error reading inquiry data information; error was 5"}));
    EXPECT_NE(rig.access.device, nullptr);
    EXPECT_TRUE(rig.drive->requests().empty());
}

TEST(FlashProcedure, ADiscInTheDriveIsToldOnceAndNothingIsWritten)
{
    RigOptions o = drive("VQ8A");
    o.drive.discPresent = true;
    o.drive.discStaysIn = true;
    FlashRig rig(o);
    rig.answer(Button::Yes);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::NotReady);
    EXPECT_EQ(rig.lines(), (std::vector<std::string>{
                               kUpdateVQ8AtoVQ8E, "message: Remove disc, befor to do the flash task."}));
    EXPECT_EQ(rig.opcodes(), (std::vector<std::uint8_t>{kStartStop, kStartStop, kTestUnitReady}));
    EXPECT_EQ(rig.requests.pollCounter, 0);
    EXPECT_EQ(rig.waiter.sleeps, 1);
    EXPECT_TRUE(rig.inhibitor.events.empty());
}

TEST(FlashProcedure, ADriveThatNeverBecomesReadyIsGivenUpSilentlyAfter144Polls)
{
    RigOptions o = drive("VQ8A");
    o.drive.neverReady = true;
    FlashRig rig(o);
    rig.answer(Button::Yes);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::NotReady);
    EXPECT_EQ(rig.lines(), std::vector<std::string>{kUpdateVQ8AtoVQ8E});
    EXPECT_EQ(rig.count(kTestUnitReady), 144);
    EXPECT_EQ(rig.count(kWriteBuffer), 0);
    EXPECT_EQ(rig.waiter.sleeps, 144);
    EXPECT_EQ(rig.waiter.slept, std::chrono::milliseconds(144 * 30));
    EXPECT_TRUE(rig.inhibitor.events.empty());
}

// A disc test the system refuses, or that never completes, is told at once as any other
// failed request is, and ends the flash before anything is written.
TEST(FlashProcedure, AFailedDiscTestIsToldOnceAndEndsTheFlash)
{
    struct Case {
        const char* what;
        scsi::Fault fault;
        int tests; // TEST UNIT READY requests sent
        int error;
    };
    scsi::Fault always = scsi::Fault::refused(1, 13, kTestUnitReady);
    always.persistent = true;
    for (const Case& c : {Case{"refused", scsi::Fault::refused(1, 5, kTestUnitReady), 1, 5},
                          Case{"refused every time", always, 1, 13},
                          Case{"timed out at the third test", scsi::Fault::timeOut(3, kTestUnitReady), 3, 110}}) {
        SCOPED_TRACE(c.what);
        FlashRig rig(drive("VQ8A"));
        for (unsigned n = 1; n < static_cast<unsigned>(c.tests); ++n) // becoming ready until then
            rig.drive->addFault(scsi::Fault::checkCondition(n, {0x02, 0x04, 0x01}, kTestUnitReady));
        rig.drive->addFault(c.fault);
        rig.answer(Button::Yes);
        const auto report = rig.run();
        EXPECT_EQ(report.outcome, FlashOutcome::DiscTestFailed);
        EXPECT_EQ(report.error, c.error);
        EXPECT_EQ(rig.lines(), (std::vector<std::string>{
                                   kUpdateVQ8AtoVQ8E,
                                   "message: Error sending SCSI command; error was " + std::to_string(c.error)}));
        EXPECT_EQ(rig.count(kTestUnitReady), c.tests);
        EXPECT_EQ(rig.count(kWriteBuffer), 0);
        EXPECT_FALSE(rig.cursor.busy());
        EXPECT_EQ(rig.status.caption(), "");
    }
}

TEST(FlashProcedure, TheMediumAbsentAnswerEndsThePollAtTheNextRequest)
{
    RigOptions o = drive("VQ8A");
    FlashRig rig(o);
    // Becoming ready twice, then "medium not present".
    rig.drive->addFault(scsi::Fault::checkCondition(1, {0x02, 0x04, 0x01}, kTestUnitReady));
    rig.drive->addFault(scsi::Fault::checkCondition(2, {0x02, 0x04, 0x01}, kTestUnitReady));
    rig.answer(Button::Yes);
    rig.answer(Button::No);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    EXPECT_EQ(rig.count(kTestUnitReady), 3);
    EXPECT_EQ(rig.waiter.sleeps, 2);
}

// ---------------------------------------------------------------- failures of the transfer

enum class Where { Write, Read };

struct TransferFault {
    const char* name;
    Where where;
    unsigned piece;               // 0..15
    std::function<scsi::Fault(unsigned n, std::uint8_t op)> fault;
    const char* driveMessage;     // what the request routine says first ("" for nothing)
    FlashOutcome outcome;
    const char* box;
    const char* caption;
};

void PrintTo(const TransferFault& c, std::ostream* os) { *os << c.name; }

class TransferFailure : public ::testing::TestWithParam<TransferFault> {};

TEST_P(TransferFailure, IsToldInOrderEndsTheFlashAndSendsNoClosingRequest)
{
    const auto& c = GetParam();
    FlashRig rig(drive("VQ8A"));
    const std::uint8_t op = c.where == Where::Write ? kWriteBuffer : kReadBuffer;
    rig.drive->addFault(c.fault(c.piece + 1, op));
    rig.answer(Button::Yes);
    const auto report = rig.run();

    EXPECT_EQ(report.outcome, c.outcome);
    EXPECT_EQ(report.piece, static_cast<int>(c.piece));
    std::vector<std::string> expected{kUpdateVQ8AtoVQ8E, kBusy, kInProgress};
    if (*c.driveMessage)
        expected.push_back(std::string("message: ") + c.driveMessage);
    expected.push_back(std::string("message: ") + c.box);
    expected.push_back(std::string("caption: ") + c.caption);
    expected.push_back(kDefault);
    EXPECT_EQ(rig.lines(), expected);

    const int writes = c.where == Where::Write ? static_cast<int>(c.piece) + 1 : 16;
    const int reads = c.where == Where::Write ? 0 : static_cast<int>(c.piece) + 1;
    EXPECT_EQ(rig.count(kWriteBuffer), writes); // so no closing request either
    EXPECT_EQ(rig.count(kReadBuffer), reads);
    EXPECT_EQ(rig.drive->firmwareSaves(), 0);
    // Given back after the failed piece, before its first box.
    EXPECT_EQ(rig.inhibitor.events, (std::vector<std::string>{lockEvent("taken", 3, 3),
                                                               lockEvent("released", 3u + writes + reads, 3)}));

    // The failure box came up with the bar at the failed piece; the common end puts it to 0.
    ASSERT_FALSE(rig.dialogs.snapshots.empty());
    const auto& box = rig.dialogs.snapshots.back();
    EXPECT_EQ(box.text, c.box);
    EXPECT_EQ(box.position, static_cast<std::int64_t>(c.piece * flash::kPieceSize));
    EXPECT_EQ(rig.progress.position(), 0);
    EXPECT_EQ(rig.progress.max(), 262144);
    EXPECT_EQ(rig.progress.step(), 16384);
    EXPECT_FALSE(rig.cursor.busy());
    EXPECT_EQ(rig.status.caption(), c.caption);
    EXPECT_NE(rig.access.device, nullptr);
}

scsi::Fault checkCondition(unsigned n, std::uint8_t op) { return scsi::Fault::checkCondition(n, {0x05, 0x24, 0x00}, op); }
scsi::Fault refused(unsigned n, std::uint8_t op) { return scsi::Fault::refused(n, 5, op); }
scsi::Fault timeOut(unsigned n, std::uint8_t op) { return scsi::Fault::timeOut(n, op); }
scsi::Fault vanish(unsigned n, std::uint8_t op) { return scsi::Fault::vanish(n, op); }
scsi::Fault shortRead(unsigned n, std::uint8_t op) { return scsi::Fault::shortRead(n, 100, op); }
scsi::Fault corrupt(unsigned n, std::uint8_t op) { return scsi::Fault::corruptRead(n, 0, op); }
scsi::Fault corruptMiddle(unsigned n, std::uint8_t op) { return scsi::Fault::corruptRead(n, 8191, op); }
scsi::Fault corruptLast(unsigned n, std::uint8_t op) { return scsi::Fault::corruptRead(n, 16383, op); }

constexpr const char* kSense = "Scsi status: 02h, SensCode: 05 24 00";

INSTANTIATE_TEST_SUITE_P(
    Pieces, TransferFailure,
    ::testing::Values(
        TransferFault{"WriteFirst", Where::Write, 0, checkCondition, kSense, FlashOutcome::WriteFailed,
                      "Write buffer fail!", "Write buffer fail!"},
        TransferFault{"WriteMiddle", Where::Write, 7, checkCondition, kSense, FlashOutcome::WriteFailed,
                      "Write buffer fail!", "Write buffer fail!"},
        TransferFault{"WriteLast", Where::Write, 15, checkCondition, kSense, FlashOutcome::WriteFailed,
                      "Write buffer fail!", "Write buffer fail!"},
        TransferFault{"ReadFirst", Where::Read, 0, checkCondition, kSense, FlashOutcome::ReadFailed,
                      "Read buffer fail!", "Read buffer fail!"},
        TransferFault{"ReadMiddle", Where::Read, 8, checkCondition, kSense, FlashOutcome::ReadFailed,
                      "Read buffer fail!", "Read buffer fail!"},
        TransferFault{"ReadLast", Where::Read, 15, checkCondition, kSense, FlashOutcome::ReadFailed,
                      "Read buffer fail!", "Read buffer fail!"},
        TransferFault{"CompareFirst", Where::Read, 0, corrupt, "", FlashOutcome::VerifyFailed, "Verify fail!",
                      "Verify buffer fail!"},
        TransferFault{"CompareMiddle", Where::Read, 9, corruptMiddle, "", FlashOutcome::VerifyFailed,
                      "Verify fail!", "Verify buffer fail!"},
        TransferFault{"CompareLast", Where::Read, 15, corruptLast, "", FlashOutcome::VerifyFailed,
                      "Verify fail!", "Verify buffer fail!"},
        TransferFault{"WriteRefused", Where::Write, 3, refused, "Error sending SCSI command; error was 5",
                      FlashOutcome::WriteFailed, "Write buffer fail!", "Write buffer fail!"},
        TransferFault{"WriteTimedOut", Where::Write, 5, timeOut, "Error sending SCSI command; error was 110",
                      FlashOutcome::WriteFailed, "Write buffer fail!", "Write buffer fail!"},
        TransferFault{"DriveVanishesMidWrite", Where::Write, 6, vanish,
                      "Error sending SCSI command; error was 19", FlashOutcome::WriteFailed, "Write buffer fail!",
                      "Write buffer fail!"},
        TransferFault{"ReadRefused", Where::Read, 4, refused, "Error sending SCSI command; error was 5",
                      FlashOutcome::ReadFailed, "Read buffer fail!", "Read buffer fail!"},
        TransferFault{"ReadTimedOut", Where::Read, 15, timeOut, "Error sending SCSI command; error was 110",
                      FlashOutcome::ReadFailed, "Read buffer fail!", "Read buffer fail!"},
        TransferFault{"ShortRead", Where::Read, 2, shortRead, "Read buffer short: 16284 of 16384 bytes returned",
                      FlashOutcome::ReadFailed, "Read buffer fail!", "Read buffer fail!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FlashProcedure, CompareFailureKeepsWhereTheDataDiffered)
{
    FlashRig rig(drive("VQ8A"));
    rig.drive->addFault(scsi::Fault::corruptRead(10, 1234, kReadBuffer));
    rig.answer(Button::Yes);
    const auto report = rig.run();
    ASSERT_EQ(report.outcome, FlashOutcome::VerifyFailed);
    EXPECT_EQ(report.piece, 9);
    const std::size_t at = 9 * flash::kPieceSize + 1234;
    EXPECT_EQ(report.offset, at);
    EXPECT_EQ(report.expected, flashtest::ibmKImage()[at]);
    EXPECT_NE(report.got, report.expected);
}

// A drive that answers GOOD but delivers nothing must not pass the compare, whatever the
// image holds and whatever the buffer held before.
class SilentReadDevice : public scsi::Device {
public:
    explicit SilentReadDevice(std::unique_ptr<scsi::Device> inner) : inner_(std::move(inner)) {}
    scsi::CallResult passThrough(std::uint32_t code, std::span<std::uint8_t> record, std::uint32_t in,
                                 std::uint32_t out, std::span<std::uint8_t> data) override
    {
        if (record[scsi::record::kCdb] != kReadBuffer)
            return inner_->passThrough(code, record, in, out, data);
        ++reads;
        scsi::CallResult r;
        r.outcome = scsi::Outcome::Good;
        r.bytesReturned = out;
        r.dataTransferred = static_cast<std::uint32_t>(data.size()); // claims a whole piece
        return r;
    }
    scsi::CallResult queryInquiryData(std::span<std::uint8_t> o) override { return inner_->queryInquiryData(o); }
    int reads = 0;

private:
    std::unique_ptr<scsi::Device> inner_;
};

class SilentReadSystem : public scsi::DriveSystem {
public:
    explicit SilentReadSystem(scsi::DriveSystem& inner) : inner_(inner) {}
    std::vector<scsi::DriveRoot> driveRoots() override { return inner_.driveRoots(); }
    scsi::OpenResult open(char letter, scsi::OpenMode mode) override
    {
        auto r = inner_.open(letter, mode);
        if (r.device)
            r.device = std::make_unique<SilentReadDevice>(std::move(r.device));
        return r;
    }

private:
    scsi::DriveSystem& inner_;
};

TEST(FlashProcedure, BytesTheDriveDidNotDeliverNeverPassTheCompare)
{
    // An image of zeros and one of the written piece's own bytes: neither a cleared buffer
    // nor the bytes left from the write pass may pass for the drive's answer.
    static std::array<std::uint8_t, flash::kImageSize> zeros{};
    for (const bool zeroImage : {true, false}) {
        FlashRig rig(drive("VQ8A"));
        SilentReadSystem silent(rig.system);
        flash::FlashProcedure procedure(flash::FlashParts{
            .driveTable = rig.table,
            .selectedIndex = [] { return 0; },
            .access = rig.access,
            .drives = silent,
            .requests = rig.requests,
            .progress = rig.progress,
            .dialogs = rig.dialogs,
            .status = rig.status,
            .cursor = rig.cursor,
            .waiter = rig.waiter,
            .restartOffer = rig.offer,
            .inhibitor = rig.inhibitor,
            .ownPath = "/opt/k/W2KVQ8E10.EXE",
            .slot1 = zeroImage ? flash::ImageSlot(zeros) : flash::ImageSlot(flashtest::ibmKImage()),
            .slot2 = flash::ImageSlot(flashtest::otherImage()),
        });
        rig.answer(Button::Yes);
        const auto report = procedure.run();
        EXPECT_EQ(report.outcome, FlashOutcome::VerifyFailed) << "zero image: " << zeroImage;
        EXPECT_EQ(report.piece, 0);
        EXPECT_EQ(rig.count(kWriteBuffer), 16);
        EXPECT_EQ(rig.drive->firmwareSaves(), 0);
    }
}

TEST(FlashProcedure, ClosingRequestFailureSaysFlashFailAndOffersNoRestart)
{
    FlashRig rig(drive("VQ8A"));
    rig.drive->addFault(scsi::Fault::checkCondition(17, {0x04, 0x44, 0x00}, kWriteBuffer));
    rig.answer(Button::Yes);
    const auto report = rig.run();
    EXPECT_EQ(report.outcome, FlashOutcome::ClosingFailed);
    EXPECT_EQ(rig.lines(), (std::vector<std::string>{kUpdateVQ8AtoVQ8E, kBusy, kInProgress,
                                                     "message: Scsi status: 02h, SensCode: 04 44 00",
                                                     "caption: Flash Fail.", kDefault}));
    EXPECT_EQ(rig.count(kWriteBuffer), 17);
    EXPECT_EQ(rig.count(kReadBuffer), 16);
    EXPECT_EQ(rig.drive->firmwareSaves(), 0);
    EXPECT_EQ(rig.progress.position(), 0);
    EXPECT_EQ(rig.progress.max(), 40);
    EXPECT_EQ(rig.progress.step(), 1);
    EXPECT_EQ(rig.restart.reboots, 0);
    // Held through the sense report's box: the drive may hold part of the new firmware.
    EXPECT_EQ(rig.inhibitor.events,
              (std::vector<std::string>{lockEvent("taken", 3, 3), lockEvent("released", 36, 5)}));
}

TEST(FlashProcedure, ClosingRequestTimeOutIsAFailToo)
{
    FlashRig rig(drive("VQ8A"));
    rig.drive->addFault(scsi::Fault::timeOut(17, kWriteBuffer));
    rig.answer(Button::Yes);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::ClosingFailed);
    const auto lines = rig.lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "message: Error sending SCSI command; error was 110");
    EXPECT_EQ(lines[lines.size() - 2], "caption: Flash Fail.");
}

// ---------------------------------------------------------------- the restart offer after a flash

struct RestartCase {
    const char* name;
    int failAt;
    std::vector<std::string> after; // lines after "caption: Flash Completed.", "cursor: default", the question
    Button answer = Button::Yes;    // to the restart question
};

void PrintTo(const RestartCase& c, std::ostream* os) { *os << c.name; }

class RestartAfterFlash : public ::testing::TestWithParam<RestartCase> {};

TEST_P(RestartAfterFlash, ShowsTheFailedStepOrRestartsThenEmptiesTheStatusLine)
{
    const auto& c = GetParam();
    FlashRig rig(drive("VQ8A"));
    rig.restart.failAt = c.failAt;
    rig.answer(Button::Yes);
    rig.answer(c.answer);
    EXPECT_EQ(rig.run().outcome, FlashOutcome::Completed);
    std::vector<std::string> expected{kUpdateVQ8AtoVQ8E, kBusy, kInProgress, "caption: Flash Completed.",
                                      kDefault, kRestartQuestion};
    expected.insert(expected.end(), c.after.begin(), c.after.end());
    expected.push_back("caption: ");
    expected.push_back(kDefault);
    EXPECT_EQ(rig.lines(), expected);
    EXPECT_EQ(rig.restart.reboots, c.answer == Button::Yes && c.failAt == 0 ? 1 : 0);
    EXPECT_EQ(rig.progress.position(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RestartAfterFlash,
    ::testing::Values(
        RestartCase{"OpenSessionFails", 1,
                    {"restart: open session", "box OpenProcessToken() failed: Exit Error"}},
        RestartCase{"LookupFails", 2,
                    {"restart: open session", "restart: look up right",
                     "box LookupPrivilegeValue() failed: Exit Error"}},
        RestartCase{"EnableFails", 3,
                    {"restart: open session", "restart: look up right", "restart: enable right",
                     "box AdjustTokenPrivileges() failed: Exit Error"}},
        RestartCase{"Restarts", 0,
                    {"restart: open session", "restart: look up right", "restart: enable right",
                     "cursor: default", "restart: reboot"}},
        // Escape or the window's close box: no button, and never a restart.
        RestartCase{"ClosedWithoutAButton", 0, {}, Button::None},
        RestartCase{"Declined", 0, {}, Button::No}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

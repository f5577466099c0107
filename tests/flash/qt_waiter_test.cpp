#include "qt_waiter.h"

#include "flash_rig.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Ticks on the GUI thread while it is meant to be waiting.
struct Ticker {
    Ticker()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] { ++ticks; });
        timer.start();
    }
    QTimer timer;
    int ticks = 0;
};

TEST(QtWaiter, RunsTheCallOnAWorkerWhileTheGuiThreadKeepsServingEvents)
{
    app::QtWaiter waiter;
    Ticker ticker;
    std::thread::id callThread;
    int value = 0;
    waiter.runBlocking([&] {
        callThread = std::this_thread::get_id();
        std::this_thread::sleep_for(120ms);
        value = 42;
    });
    EXPECT_NE(callThread, std::this_thread::get_id());
    EXPECT_EQ(value, 42); // the call has ended when runBlocking returns
    EXPECT_GE(ticker.ticks, 5);
}

TEST(QtWaiter, ACallThatEndsAtOnceDoesNotHang)
{
    app::QtWaiter waiter;
    for (int i = 0; i < 200; ++i) {
        int n = 0;
        waiter.runBlocking([&] { n = i; });
        ASSERT_EQ(n, i);
    }
}

// A call started from an event served while another is waited for: it may be handed to the
// worker that has just ended the first one, before the first wait has seen that end.
TEST(QtWaiter, ACallStartedWhileAnotherIsWaitedForLeavesNeitherWaitHanging)
{
    app::QtWaiter waiter;
    QObject gui;
    for (int i = 0; i < 1000; ++i) {
        int inner = 0;
        waiter.runBlocking([&] {
            QMetaObject::invokeMethod(&gui, [&] { waiter.runBlocking([&] { inner = i; }); }, Qt::QueuedConnection);
        });
        QCoreApplication::processEvents();
        ASSERT_EQ(inner, i);
    }
}

TEST(QtWaiter, AnExceptionOfTheCallComesOutOnTheCallingThread)
{
    app::QtWaiter waiter;
    EXPECT_THROW(waiter.runBlocking([] { throw std::runtime_error("drive gone"); }), std::runtime_error);
}

// Counts what reaches it.
class Target : public QWidget {
public:
    int presses = 0;
    int keys = 0;
    int closes = 0;

protected:
    void mousePressEvent(QMouseEvent*) override { ++presses; }
    void keyPressEvent(QKeyEvent*) override { ++keys; }
    void closeEvent(QCloseEvent* e) override
    {
        ++closes;
        e->ignore(); // as the window does while a flash runs
    }
};

void postInputAndClose(QWidget* w)
{
    QCoreApplication::postEvent(w, new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5),
                                                   Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(w, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " "));
    QCoreApplication::postEvent(w, new QCloseEvent);
}

TEST(QtWaiter, WhileWaitingUserInputIsDroppedButACloseRequestIsDelivered)
{
    app::QtWaiter waiter;
    Target target;
    QTimer::singleShot(10, &target, [&] { postInputAndClose(&target); });
    waiter.runBlocking([] { std::this_thread::sleep_for(100ms); });
    QTimer::singleShot(5, &target, [&] { postInputAndClose(&target); });
    waiter.sleep(50ms);
    EXPECT_EQ(target.presses, 0);
    EXPECT_EQ(target.keys, 0);
    EXPECT_EQ(target.closes, 2); // the window could refuse it at once
    // Dropped, not held back: nothing of it arrives later either; new input does.
    QCoreApplication::processEvents();
    EXPECT_EQ(target.presses, 0);
    postInputAndClose(&target);
    QCoreApplication::processEvents();
    EXPECT_EQ(target.presses, 1);
    EXPECT_EQ(target.keys, 1);
}

TEST(QtWaiter, SleepWaitsTheWholeTimeAndServesEvents)
{
    app::QtWaiter waiter;
    // An event already due when the sleep starts is served during it (a count of a timer's
    // ticks would depend on how the busy machine schedules the thread).
    bool served = false;
    QTimer::singleShot(0, [&served] { served = true; });
    QElapsedTimer clock;
    clock.start();
    waiter.sleep(60ms);
    EXPECT_GE(clock.elapsed(), 60);
    EXPECT_TRUE(served);
}

TEST(QtWaiter, OffTheGuiThreadTheCallRunsInPlace)
{
    app::QtWaiter waiter;
    std::thread::id outer;
    std::thread::id inner;
    std::thread t([&] {
        outer = std::this_thread::get_id();
        waiter.runBlocking([&] { inner = std::this_thread::get_id(); });
    });
    t.join();
    EXPECT_EQ(outer, inner);
}

TEST(QtWaiter, AWholeFlashThroughTheWaiterSendsTheSameRequests)
{
    app::QtWaiter waiter;
    flashtest::RigOptions o;
    o.drive.revision = "VQ8A";
    o.throughWaitingSystem = true;
    o.waiter = &waiter;
    flashtest::FlashRig rig(o);
    rig.answer(ui::Button::Yes);
    rig.answer(ui::Button::No);
    EXPECT_EQ(rig.run().outcome, flash::FlashOutcome::Completed);
    EXPECT_EQ(rig.drive->requests().size(), 36u);
    EXPECT_EQ(rig.drive->firmwareSaves(), 1);
    EXPECT_TRUE(std::equal(rig.drive->firmware().begin(), rig.drive->firmware().end(),
                           flashtest::ibmKImage().begin(), flashtest::ibmKImage().end()));
}

// Last: an application-wide exit while a call is in flight ends the local loop early; the
// waiter must still wait for the call to end.
TEST(QtWaiter, AnExitRequestDoesNotCutTheCallShort)
{
    app::QtWaiter waiter;
    std::atomic<bool> ended{false};
    QTimer::singleShot(10, [] { QCoreApplication::exit(0); });
    waiter.runBlocking([&] {
        std::this_thread::sleep_for(80ms);
        ended = true;
    });
    EXPECT_TRUE(ended.load());
    // Once the application is quitting, a pause still lasts its whole time.
    QElapsedTimer clock;
    clock.start();
    waiter.sleep(40ms);
    EXPECT_GE(clock.elapsed(), 40);
}

} // namespace

#include "qt_waiter.h"

#include "flash_rig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

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

TEST(QtWaiter, AnExceptionOfTheCallComesOutOnTheCallingThread)
{
    app::QtWaiter waiter;
    EXPECT_THROW(waiter.runBlocking([] { throw std::runtime_error("drive gone"); }), std::runtime_error);
}

TEST(QtWaiter, SleepWaitsTheWholeTimeAndServesEvents)
{
    app::QtWaiter waiter;
    Ticker ticker;
    QElapsedTimer clock;
    clock.start();
    waiter.sleep(60ms);
    EXPECT_GE(clock.elapsed(), 60);
    EXPECT_GE(ticker.ticks, 3);
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

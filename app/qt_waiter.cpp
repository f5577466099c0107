#include "qt_waiter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace app {
namespace {

bool onGuiThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

// Drops the user's input to every object of the application for as long as it lives.
class InputDropper : public QObject {
public:
    InputDropper() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputDropper() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return event->isInputEvent() || event->type() == QEvent::Shortcut
            || event->type() == QEvent::ShortcutOverride;
    }
};

} // namespace

class QtWaiter::Worker {
public:
    Worker() : thread_([this] { serve(); }) {}
    ~Worker()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        handed_.notify_all();
        thread_.join();
    }

    // Hands the call over and returns its number; nothing when this worker is busy. An
    // exception of the call goes to failure before the call counts as ended.
    std::optional<std::uint64_t> start(const std::function<void()>& call, std::exception_ptr& failure)
    {
        std::uint64_t number = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (call_ != nullptr)
                return std::nullopt;
            call_ = &call;
            failure_ = &failure;
            number = ++started_;
        }
        handed_.notify_all();
        return number;
    }
    bool done(std::uint64_t number) const { return ended_.load(std::memory_order_acquire) >= number; }
    void waitUntilDone(std::uint64_t number) const
    {
        for (std::uint64_t ended = ended_.load(std::memory_order_acquire); ended < number;
             ended = ended_.load(std::memory_order_acquire))
            ended_.wait(ended, std::memory_order_acquire);
    }
    // The loop that the end of a call quits (the GUI thread's own: set and read there
    // only); returns the one it replaces.
    QEventLoop* quitOnEnd(QEventLoop* loop) { return std::exchange(waiting_, loop); }

private:
    void serve()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            handed_.wait(lock, [this] { return call_ != nullptr || stopping_; });
            if (call_ == nullptr)
                return;
            const std::function<void()>& call = *call_;
            const std::uint64_t number = started_;
            lock.unlock();
            std::exception_ptr failure;
            try {
                call();
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            *failure_ = failure;
            call_ = nullptr;
            failure_ = nullptr;
            ended_.store(number, std::memory_order_release);
            ended_.notify_all();
            lock.unlock();
            // Nothing of the waiting side is touched once it can see the call as ended,
            // and no lock is held that the GUI thread could have to wait for: the quit
            // goes through an object of this worker, which outlives the wait. Delivered
            // once the GUI thread's loop runs, even if the call ended before it started.
            QMetaObject::invokeMethod(&notifier_, [this] {
                if (waiting_ != nullptr)
                    waiting_->quit();
            }, Qt::QueuedConnection);
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable handed_;
    const std::function<void()>* call_ = nullptr; // under mutex_
    std::exception_ptr* failure_ = nullptr;        // under mutex_
    std::uint64_t started_ = 0;                    // under mutex_
    bool stopping_ = false;                        // under mutex_
    std::atomic<std::uint64_t> ended_{0};
    QObject notifier_;              // lives on the GUI thread
    QEventLoop* waiting_ = nullptr; // the GUI thread's
    std::thread thread_;
};

QtWaiter::QtWaiter() = default;
QtWaiter::~QtWaiter() = default;

void QtWaiter::runBlocking(const std::function<void()>& call)
{
    if (!onGuiThread()) {
        call();
        return;
    }
    InputDropper dropInput;
    std::exception_ptr failure;
    Worker* worker = nullptr;
    std::optional<std::uint64_t> number;
    for (const auto& idle : workers_) {
        if ((number = idle->start(call, failure))) {
            worker = idle.get();
            break;
        }
    }
    if (worker == nullptr) {
        worker = workers_.emplace_back(std::make_unique<Worker>()).get();
        number = worker->start(call, failure);
    }
    QEventLoop loop;
    // A call waited for in an outer loop on the same worker may have ended while this one
    // ran, its quit taken by this loop: the outer loop is woken to look again.
    QEventLoop* const outer = worker->quitOnEnd(&loop);
    // Something else may end the loop early; the call still has to be waited for, so the
    // loop is entered again until it has ended. Once the application is quitting, a loop
    // refuses to run (-1): then the call is simply waited for.
    while (!worker->done(*number)) {
        if (loop.exec() == -1) {
            worker->waitUntilDone(*number);
            break;
        }
    }
    worker->quitOnEnd(outer);
    if (outer != nullptr)
        outer->quit();
    if (failure)
        std::rethrow_exception(failure);
}

void QtWaiter::sleep(std::chrono::milliseconds duration)
{
    if (!onGuiThread()) {
        std::this_thread::sleep_for(duration);
        return;
    }
    InputDropper dropInput;
    const QDeadlineTimer deadline(duration.count(), Qt::PreciseTimer);
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(deadline.remainingTime(), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        if (loop.exec() == -1) {
            std::this_thread::sleep_for(std::chrono::milliseconds(deadline.remainingTime()));
            break;
        }
    }
}

} // namespace app

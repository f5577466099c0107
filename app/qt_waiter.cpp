#include "qt_waiter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <exception>
#include <thread>

namespace app {
namespace {

bool onGuiThread()
{
    const QCoreApplication* application = QCoreApplication::instance();
    return application != nullptr && QThread::currentThread() == application->thread();
}

} // namespace

void QtWaiter::runBlocking(const std::function<void()>& call)
{
    if (!onGuiThread()) {
        call();
        return;
    }
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            call();
        } catch (...) {
            failure = std::current_exception();
        }
        done.store(true);
        // Queued to the GUI thread: delivered once the loop below runs, even if the
        // call ended before it started.
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    // Something else may end the loop early (an application-wide exit); the call still
    // has to be waited for, so the loop is entered again until it has ended.
    while (!done.load())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (failure)
        std::rethrow_exception(failure);
}

void QtWaiter::sleep(std::chrono::milliseconds duration)
{
    if (!onGuiThread()) {
        std::this_thread::sleep_for(duration);
        return;
    }
    const QDeadlineTimer deadline(duration.count(), Qt::PreciseTimer);
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(deadline.remainingTime(), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

} // namespace app

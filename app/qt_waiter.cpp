#include "qt_waiter.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
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

void QtWaiter::runBlocking(const std::function<void()>& call)
{
    if (!onGuiThread()) {
        call();
        return;
    }
    InputDropper dropInput;
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
    // Something else may end the loop early; the call still has to be waited for, so the
    // loop is entered again until it has ended. Once the application is quitting, a loop
    // refuses to run (-1): then the call is simply waited for.
    while (!done.load()) {
        if (loop.exec() == -1)
            break;
    }
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

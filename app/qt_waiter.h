// The window's Waiter: a blocking drive call runs on a worker thread while the GUI
// thread waits in a local event loop that keeps painting and answering the window
// manager, so the flash stays strictly sequential and the window never looks hung. The
// disc poll's pause waits the same way.
//
// While it waits, user input (mouse, keys, wheel, touch, shortcuts) is dropped, not held
// back: a click on the disabled Flash button must not start another flash once this one
// has ended. QEventLoop::ExcludeUserInputEvents is not used for this because Qt's X11
// backend counts the window manager's close request as user input and would hold it
// back too, closing the window after the flash instead of refusing it during the flash.
#pragma once

#include "waiter.h"

#include <memory>
#include <vector>

namespace app {

class QtWaiter : public flash::Waiter {
public:
    QtWaiter();
    ~QtWaiter() override;

    // Without a QCoreApplication, or when called off the GUI thread, the call simply
    // runs where it is called.
    void runBlocking(const std::function<void()>& call) override;
    void sleep(std::chrono::milliseconds duration) override;

private:
    // The calls run on worker threads kept for the waiter's life, not on a thread made
    // and joined per call: joining made the GUI thread wait for the thread's own end
    // after every drive call, which a busy machine stretched past a frame. A second
    // worker is made only for a call started while another is waited for.
    class Worker;
    std::vector<std::unique_ptr<Worker>> workers_;
};

} // namespace app

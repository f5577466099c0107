// The window's Waiter: a blocking drive call runs on a worker thread while the GUI
// thread waits in a local event loop that keeps painting and answering the window
// manager but takes no user input, so the flash stays strictly sequential and the
// window never looks hung. The disc poll's pause waits the same way.
#pragma once

#include "waiter.h"

namespace app {

class QtWaiter : public flash::Waiter {
public:
    // Without a QCoreApplication, or when called off the GUI thread, the call simply
    // runs where it is called.
    void runBlocking(const std::function<void()>& call) override;
    void sleep(std::chrono::milliseconds duration) override;
};

} // namespace app

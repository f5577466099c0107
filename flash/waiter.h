// How the flash waits: for a blocking drive call to end, and for the disc poll's pause.
// The window's implementation keeps answering the window system meanwhile (a drive
// request may take up to 40 seconds, and a desktop offers to kill a window that stops
// answering); the flash itself stays strictly sequential either way.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace flash {

class Waiter {
public:
    virtual ~Waiter() = default;

    // Runs one blocking call to its end and returns only then. An exception of the
    // call comes out of here.
    virtual void runBlocking(const std::function<void()>& call) = 0;

    // Waits for the given time.
    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

// Runs the call on the calling thread and sleeps it: for programs without a window.
class DirectWaiter : public Waiter {
public:
    void runBlocking(const std::function<void()>& call) override { call(); }
    void sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

} // namespace flash

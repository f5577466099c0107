// An owned file descriptor: moved, never copied, and closed exactly once, by close() where
// the caller needs to know whether the close worked (a written file can still lose its
// data there), otherwise when it goes.
#pragma once

namespace os {

// Who closes descriptors when ::close should not do it directly: a seam whose calls a test
// replaces. It must outlive every descriptor handed to it.
class DescriptorCloser {
public:
    virtual ~DescriptorCloser() = default;
    virtual int close(int fd) = 0;
};

class UniqueFd {
public:
    UniqueFd() noexcept = default;
    // Owns fd (nothing when it is negative); closer closes it, ::close when there is none.
    explicit UniqueFd(int fd, DescriptorCloser* closer = nullptr) noexcept : fd_(fd), closer_(closer) {}
    UniqueFd(UniqueFd&& other) noexcept;
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }

    // Hands the descriptor over without closing it; this object owns nothing afterwards.
    int release() noexcept;
    // Closes the descriptor now and returns what the close returned (-1 with errno set
    // on failure; EBADF when nothing was held). Nothing is held afterwards either way: a
    // close that failed has still let the descriptor go, and retrying could close another.
    int close();
    // Closes the descriptor now, if one is held, and leaves errno as it was: for ways out
    // that still have to read the errno of the call that failed before.
    void reset() noexcept;

private:
    int fd_ = -1;
    DescriptorCloser* closer_ = nullptr;
};

} // namespace os

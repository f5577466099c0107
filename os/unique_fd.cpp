#include "unique_fd.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace os {

UniqueFd::UniqueFd(UniqueFd&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), closer_(other.closer_)
{
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        closer_ = other.closer_;
    }
    return *this;
}

int UniqueFd::release() noexcept
{
    return std::exchange(fd_, -1);
}

int UniqueFd::close()
{
    const int fd = std::exchange(fd_, -1);
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return closer_ != nullptr ? closer_->close(fd) : ::close(fd);
}

void UniqueFd::reset() noexcept
{
    if (fd_ < 0)
        return;
    const int saved = errno;
    close();
    errno = saved;
}

} // namespace os

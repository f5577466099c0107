#include "linux_inhibitor.h"

#include "error_text.h"
#include "logind_bus.h"
#include "unique_fd.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <iostream>
#include <utility>

namespace flash {
namespace {

// The descriptor logind handed out; closing it ends the lock.
class DescriptorLock : public PowerLock {
public:
    explicit DescriptorLock(os::UniqueFd fd) : fd_(std::move(fd)) {}

private:
    os::UniqueFd fd_;
};

} // namespace

LogindInhibitor::LogindInhibitor(std::string who, std::function<void(const std::string&)> say)
    : who_(std::move(who)), say_(std::move(say))
{
    if (!say_)
        say_ = [](const std::string& text) { std::cerr << text << '\n'; };
}

std::unique_ptr<PowerLock> LogindInhibitor::hold(const std::string& why)
{
    const std::string refused = "flash: going on without a lock against shutdown and sleep: ";
    logind::SystemBus bus;
    if (!bus.connected()) {
        say_(refused + "no system bus: " + bus.error());
        return nullptr;
    }
    logind::Reply reply =
        bus.callManager("Inhibit", "ssss", kInhibitWhat, who_.c_str(), why.c_str(), kInhibitMode);
    if (!reply.ok()) {
        say_(refused + "logind's Inhibit failed: " + reply.error());
        return nullptr;
    }
    int lent = -1;
    if (!reply.read("h", &lent)) {
        say_(refused + "logind's Inhibit gave no file descriptor");
        return nullptr;
    }
    // A copy of its own that no started program inherits; the reply's closes with the reply.
    os::UniqueFd fd(::fcntl(lent, F_DUPFD_CLOEXEC, 3));
    if (!fd.valid()) {
        say_(refused + "cannot keep logind's file descriptor: " + os::errorText(errno));
        return nullptr;
    }
    return std::make_unique<DescriptorLock>(std::move(fd));
}

} // namespace flash

#include "logind_bus.h"

#include "error_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

namespace flash::logind {
namespace {

std::string oneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// An error the bus or logind answered with carries their message; one of this side
// (System.Error.*, sd-bus's name for an errno) is told in the C library's English words.
bool fromTheBus(const sd_bus_error& error)
{
    return error.message != nullptr && error.name != nullptr
        && std::string_view(error.name).rfind("System.Error.", 0) != 0;
}

std::string within(std::chrono::milliseconds limit)
{
    return "within " + std::to_string(limit.count()) + " ms";
}

} // namespace

std::string systemBusAddress()
{
    const char* address = std::getenv(kAddressVariable);
    return address != nullptr && address[0] != '\0' ? address : kStandardAddress;
}

SystemBus::SystemBus(std::chrono::milliseconds limit)
    : deadline_(std::chrono::steady_clock::now() + limit), limit_(limit)
{
    const std::string address = systemBusAddress();
    sd_bus* raw = nullptr;
    int r = sd_bus_new(&raw);
    std::unique_ptr<sd_bus, Close> bus(raw);
    // A client of the bus, so that it says Hello and is named; descriptors, because that is
    // how logind hands out a lock. The address's %XX escapes are sd-bus's to undo.
    if (r >= 0 && (r = sd_bus_set_address(raw, address.c_str())) >= 0 && (r = sd_bus_set_bus_client(raw, 1)) >= 0
        && (r = sd_bus_negotiate_fds(raw, 1)) >= 0)
        r = sd_bus_start(raw);
    if (r < 0) {
        error_ = "cannot connect to " + address + ": " + os::errorText(-r);
        return;
    }
    // The authentication and Hello, under the deadline. Each turn either moves the
    // connection on or waits for the bus, never past the deadline; a bus that says nothing
    // but what is of no use is cut off at the deadline too.
    const std::string silent = "no answer from the bus at " + address + " " + within(limit_);
    while ((r = sd_bus_is_ready(raw)) == 0) {
        const std::uint64_t wait = left();
        if (wait == 0) {
            error_ = silent;
            return;
        }
        r = sd_bus_process(raw, nullptr);
        if (r == 0)
            r = sd_bus_wait(raw, wait);
        if (r < 0 && r != -EINTR)
            break;
    }
    if (r < 0) {
        error_ = "the bus at " + address + " broke off the connection: " + os::errorText(-r);
        return;
    }
    bus_ = std::move(bus);
}

std::uint64_t SystemBus::left() const
{
    const auto rest = std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - std::chrono::steady_clock::now());
    return rest.count() > 0 ? static_cast<std::uint64_t>(rest.count()) : 0;
}

Reply SystemBus::call(const char* service, const char* path, const char* interface, const char* method,
                      const Append& append)
{
    Reply reply;
    if (!bus_) {
        reply.error_ = "no system bus";
        return reply;
    }
    sd_bus_message* raw = nullptr;
    int r = sd_bus_message_new_method_call(bus_.get(), &raw, service, path, interface, method);
    const std::unique_ptr<sd_bus_message, Reply::Unref> message(raw);
    if (r >= 0)
        r = append(raw);
    if (r < 0) {
        reply.error_ = std::string("cannot write the call: ") + os::errorText(-r);
        return reply;
    }
    // A timeout of 0 would mean sd-bus's own default of 25 s.
    const std::uint64_t wait = left();
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* answer = nullptr;
    r = wait == 0 ? -ETIMEDOUT : sd_bus_call(bus_.get(), raw, wait, &error, &answer);
    reply.message_.reset(answer);
    if (r == -ETIMEDOUT && left() == 0)
        reply.error_ = "no answer " + within(limit_);
    else if (r < 0)
        reply.error_ = oneLine(fromTheBus(error) ? error.message : os::errorText(-r));
    sd_bus_error_free(&error);
    return reply;
}

bool SystemBus::hasLogind()
{
    Reply there = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                       [](sd_bus_message* message) { return sd_bus_message_append(message, "s", kService); });
    int owned = 0;
    return there.read("b", &owned) && owned != 0;
}

} // namespace flash::logind

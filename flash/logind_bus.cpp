#include "logind_bus.h"

#include "unique_fd.h"

#include <QDBusError>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

namespace flash::logind {
namespace {

QString connectionName()
{
    static std::atomic<unsigned> count{0};
    return QStringLiteral("korvane-system-bus-%1").arg(++count);
}

std::string oneLine(std::string text)
{
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// A D-Bus address value with its %XX escapes undone.
std::string unescaped(std::string_view value)
{
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    std::string out;
    for (std::size_t k = 0; k < value.size(); ++k) {
        if (value[k] == '%' && k + 2 < value.size() && digit(value[k + 1]) >= 0 && digit(value[k + 2]) >= 0) {
            out += static_cast<char>(digit(value[k + 1]) * 16 + digit(value[k + 2]));
            k += 2;
        } else {
            out += value[k];
        }
    }
    return out;
}

struct UnixSocket {
    std::string name;
    bool abstract = false;
};

// The socket of the first unix entry of a D-Bus address that has a path or an abstract name.
std::optional<UnixSocket> unixSocket(std::string_view address)
{
    while (!address.empty()) {
        const std::string_view entry = address.substr(0, address.find(';'));
        address.remove_prefix(std::min(address.size(), entry.size() + 1));
        if (entry.substr(0, 5) != "unix:")
            continue;
        std::string_view keys = entry.substr(5);
        while (!keys.empty()) {
            const std::string_view pair = keys.substr(0, keys.find(','));
            keys.remove_prefix(std::min(keys.size(), pair.size() + 1));
            const std::string_view key = pair.substr(0, pair.find('='));
            if (key.size() < pair.size() && (key == "path" || key == "abstract"))
                return UnixSocket{unescaped(pair.substr(key.size() + 1)), key == "abstract"};
        }
    }
    return std::nullopt;
}

// Waits until the socket is ready for the events; false when the deadline came first.
bool ready(int fd, short events, const QDeadlineTimer& deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

// Empty when the bus at the address answers the start of an authentication (EXTERNAL, as
// Qt's connect will do it) before the deadline; otherwise why not. An address of another
// transport is left to Qt's connect.
std::string answers(const std::string& address, const QDeadlineTimer& deadline)
{
    const std::optional<UnixSocket> where = unixSocket(address);
    if (!where)
        return {};
    sockaddr_un socketAddress{};
    socketAddress.sun_family = AF_UNIX;
    const std::size_t at = where->abstract ? 1 : 0; // an abstract name follows a NUL
    if (at + where->name.size() >= sizeof socketAddress.sun_path)
        return "the bus address is too long: " + address;
    std::memcpy(socketAddress.sun_path + at, where->name.data(), where->name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + at + where->name.size());

    const os::UniqueFd bus(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (bus.get() < 0 || ::connect(bus.get(), reinterpret_cast<const sockaddr*>(&socketAddress), length) != 0)
        return "cannot connect to " + address + ": " + std::strerror(errno);

    std::string uid;
    for (const char c : std::to_string(::geteuid())) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(c));
        uid += hex;
    }
    const std::string start = std::string(1, '\0') + "AUTH EXTERNAL " + uid + "\r\n";
    const std::string silent = "no answer from the bus at " + address + " within "
        + std::to_string(kRoadLimit.count()) + " ms";
    for (std::size_t sent = 0; sent < start.size();) {
        if (!ready(bus.get(), POLLOUT, deadline))
            return silent;
        const ssize_t n = ::send(bus.get(), start.data() + sent, start.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return "cannot write to the bus at " + address + ": " + std::strerror(errno);
        sent += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    // Any answer (OK, or REJECTED for Qt's connect to report) shows a bus that answers.
    char answer[64];
    for (;;) {
        if (!ready(bus.get(), POLLIN, deadline))
            return silent;
        const ssize_t n = ::recv(bus.get(), answer, sizeof answer, 0);
        if (n > 0)
            return {};
        if (n == 0)
            return "the bus at " + address + " closed the connection";
        if (errno != EAGAIN && errno != EINTR)
            return "cannot read from the bus at " + address + ": " + std::strerror(errno);
    }
}

} // namespace

std::string systemBusAddress()
{
    const char* address = std::getenv(kAddressVariable);
    return address != nullptr && address[0] != '\0' ? address : kStandardAddress;
}

SystemBus::SystemBus(std::chrono::milliseconds limit)
    : deadline_(limit), name_(connectionName()), connection_(name_)
{
    const std::string address = systemBusAddress();
    unanswered_ = answers(address, deadline_);
    if (unanswered_.empty())
        connection_ = QDBusConnection::connectToBus(QString::fromStdString(address), name_);
}

SystemBus::~SystemBus()
{
    QDBusConnection::disconnectFromBus(name_);
}

std::string SystemBus::error() const
{
    return !unanswered_.empty() ? unanswered_ : oneLine(connection_.lastError().message().toStdString());
}

QDBusMessage SystemBus::call(QDBusMessage message) const
{
    const int left = static_cast<int>(std::max<qint64>(1, deadline_.remainingTime()));
    return connection_.call(message, QDBus::Block, left);
}

bool SystemBus::hasLogind() const
{
    const QDBusMessage there = call(QDBusMessage::createMethodCall(
        "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner")
                                        << QString::fromLatin1(kService));
    return there.type() == QDBusMessage::ReplyMessage && !there.arguments().isEmpty()
        && there.arguments().first().toBool();
}

QDBusMessage SystemBus::callManager(const char* method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kManager, method);
    message.setArguments(args);
    return call(message);
}

std::string errorText(const QDBusMessage& reply)
{
    return oneLine(reply.errorMessage().toStdString());
}

} // namespace flash::logind

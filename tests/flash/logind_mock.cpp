#include "logind_mock.h"

#include "logind_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace flashtest {
namespace {

using namespace std::chrono_literals;

constexpr const char* kMockInterface = "org.freedesktop.DBus.Mock";
constexpr const char* kPython = "/usr/bin/python3"; // Debian's, where python3-dbusmock lives
constexpr std::chrono::milliseconds kStartLimit = 30s;

// Everything on the private bus is allowed; nothing is started on demand.
constexpr const char* kBusConfig = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

QString nextConnectionName()
{
    static std::atomic<unsigned> count{0};
    return QStringLiteral("logind-mock-%1").arg(++count);
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(10000);
    }
}

} // namespace

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name)
{
    if (const char* old = std::getenv(name))
        old_ = old;
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv()
{
    if (old_)
        setenv(name_, old_->c_str(), 1);
    else
        unsetenv(name_);
}

LogindMock::LogindMock(Start start) : connection_(nextConnectionName())
{
    QProcess probe;
    probe.start(kPython, {"-c", "import dbusmock"});
    if (!probe.waitForFinished(kStartLimit.count()) || probe.exitStatus() != QProcess::NormalExit
        || probe.exitCode() != 0) {
        unavailable_ = true;
        problem_ = "python3-dbusmock is not installed (scripts/install-deps.sh installs it)";
        return;
    }
    if (!dir_.isValid()) {
        problem_ = "no temporary folder: " + dir_.errorString().toStdString();
        return;
    }
    if (startBus() && start == Start::WithLogind)
        startLogind();
}

LogindMock::~LogindMock()
{
    QDBusConnection::disconnectFromBus(connection_);
    systemBus_.reset();
    stop(logind_);
    stop(bus_);
}

bool LogindMock::startBus()
{
    const QString config = dir_.filePath("bus.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(QString::fromLatin1(kBusConfig).arg(dir_.filePath("system_bus_socket")).toUtf8()) < 0) {
        problem_ = "cannot write " + config.toStdString();
        return false;
    }
    file.close();
    bus_.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--nopidfile", "--print-address"});
    // The address is printed once the bus listens.
    const QDeadlineTimer deadline(kStartLimit);
    while (!bus_.canReadLine()) {
        if (bus_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            problem_ = "dbus-daemon did not start: " + bus_.readAllStandardError().toStdString();
            return false;
        }
        bus_.waitForReadyRead(100);
    }
    address_ = bus_.readLine().trimmed().toStdString();
    // From here on the code under test connects to the private bus only.
    systemBus_.emplace(flash::logind::kAddressVariable, address_.c_str());
    if (!QDBusConnection::connectToBus(QString::fromStdString(address_), connection_).isConnected()) {
        problem_ = "cannot connect to the private bus at " + address_;
        return false;
    }
    return true;
}

bool LogindMock::startLogind()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(flash::logind::kAddressVariable, QString::fromStdString(address_));
    logind_.setProcessEnvironment(env);
    logind_.setProcessChannelMode(QProcess::MergedChannels);
    logind_.setStandardOutputFile(dir_.filePath("logind.log"));
    logind_.start(kPython, {"-m", "dbusmock", "--system", "--template", "logind"});

    // The mock takes its name before it loads the template, but answers nothing until the
    // template is loaded: once the name is there, the first answered call means ready.
    const QDBusConnectionInterface* names = QDBusConnection(connection_).interface();
    const QDeadlineTimer deadline(kStartLimit);
    while (!names->isServiceRegistered(flash::logind::kService).value()) {
        if (logind_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            problem_ = "the logind mock did not come up: " + log();
            return false;
        }
        QThread::msleep(20);
    }
    if (call(kMockInterface, "GetCalls").type() != QDBusMessage::ReplyMessage) {
        problem_ = "the logind mock does not answer: " + log();
        return false;
    }
    return true;
}

std::string LogindMock::log() const
{
    QFile file(dir_.filePath("logind.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

QDBusMessage LogindMock::call(const char* interface, const char* method, const QVariantList& args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(flash::logind::kService, flash::logind::kPath,
                                                          interface, method);
    message.setArguments(args);
    return QDBusConnection(connection_).call(message, QDBus::Block, 30000);
}

std::optional<QDBusArgument> LogindMock::list(const char* interface, const char* method, const QVariantList& args)
{
    const QDBusMessage reply = call(interface, method, args);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        ADD_FAILURE() << method << ": " << reply.errorMessage().toStdString();
        return std::nullopt;
    }
    return reply.arguments().first().value<QDBusArgument>();
}

std::vector<std::string> LogindMock::inhibitors()
{
    std::vector<std::string> out;
    const std::optional<QDBusArgument> locks = list(flash::logind::kManager, "ListInhibitors");
    if (!locks)
        return out;
    locks->beginArray();
    while (!locks->atEnd()) {
        QString what, who, why, mode;
        uint uid = 0, pid = 0;
        locks->beginStructure();
        *locks >> what >> who >> why >> mode >> uid >> pid;
        locks->endStructure();
        out.push_back((what + '|' + who + '|' + why + '|' + mode).toStdString());
    }
    locks->endArray();
    return out;
}

bool LogindMock::noInhibitorWithin(std::chrono::seconds limit)
{
    const QDeadlineTimer deadline(limit);
    while (!inhibitors().empty()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(10);
    }
    return true;
}

std::vector<QVariantList> LogindMock::calls(const char* method)
{
    std::vector<QVariantList> out;
    const std::optional<QDBusArgument> log = list(kMockInterface, "GetMethodCalls", {QString::fromLatin1(method)});
    if (!log)
        return out;
    log->beginArray();
    while (!log->atEnd()) {
        qulonglong when = 0;
        QVariantList args;
        log->beginStructure();
        *log >> when;
        log->beginArray();
        while (!log->atEnd()) {
            QDBusVariant arg;
            *log >> arg;
            args << arg.variant();
        }
        log->endArray();
        log->endStructure();
        out.push_back(args);
    }
    log->endArray();
    return out;
}

void LogindMock::replaceMethod(const char* method, const char* in, const char* out, const char* code)
{
    const QDBusMessage reply =
        call(kMockInterface, "AddMethod",
             {QString::fromLatin1(flash::logind::kManager), QString::fromLatin1(method), QString::fromLatin1(in),
              QString::fromLatin1(out), QString::fromLatin1(code)});
    if (reply.type() != QDBusMessage::ReplyMessage)
        ADD_FAILURE() << "AddMethod " << method << ": " << reply.errorMessage().toStdString();
}

StallingBus::StallingBus(Stall stall) : stall_(stall)
{
    sockaddr_un at{};
    at.sun_family = AF_UNIX;
    const std::string path = dir_.filePath("system_bus_socket").toStdString();
    std::strncpy(at.sun_path, path.c_str(), sizeof at.sun_path - 1);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 || ::listen(listener_, 8) != 0
        || ::pipe2(stop_, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "no bus at " << path << ": " << std::strerror(errno);
        return;
    }
    address_ = "unix:path=" + path;
    server_ = std::thread([this] { serve(); });
}

StallingBus::~StallingBus()
{
    if (server_.joinable()) {
        ::close(stop_[1]);
        server_.join();
        ::close(stop_[0]);
    }
    ::close(listener_);
}

std::string StallingBus::answer(const std::string& line, bool& stalled) const
{
    static const std::string ok = "OK 0123456789abcdef0123456789abcdef\r\n";
    const bool auth = line.rfind("AUTH ", 0) == 0;
    // EXTERNAL with the user's id given at once is answered OK; without, the bus asks for it.
    const bool okNow = (auth && std::count(line.begin(), line.end(), ' ') >= 2) || line.rfind("DATA", 0) == 0;
    if (stalled || (auth && stall_ == Stall::Auth)) {
        stalled = true;
        return {};
    }
    if (auth && !okNow)
        return "DATA\r\n";
    if (okNow) {
        stalled = stall_ == Stall::HalfLine;
        return stalled ? ok.substr(0, 10) : ok;
    }
    if (line == "NEGOTIATE_UNIX_FD" && stall_ != Stall::FdNegotiation)
        return "AGREE_UNIX_FD\r\n";
    stalled = true; // BEGIN: Hello and all that follows goes unanswered
    return {};
}

void StallingBus::serve()
{
    struct Client {
        int fd;
        std::string in;
        bool stalled = false;
        bool gone = false;
    };
    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> p{{stop_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Client& c : clients)
            p.push_back({c.fd, POLLIN, 0});
        if (::poll(p.data(), p.size(), -1) < 0 && errno != EINTR)
            break;
        if (p[0].revents != 0) // the write end closed: time to go
            break;
        for (std::size_t k = 2; k < p.size(); ++k) {
            Client& c = clients[k - 2];
            char bytes[512];
            const ssize_t n = p[k].revents != 0 ? ::recv(c.fd, bytes, sizeof bytes, 0) : -1;
            c.gone = n == 0;
            c.in.append(bytes, n > 0 ? n : 0);
            for (std::size_t end; (end = c.in.find("\r\n")) != std::string::npos; c.in.erase(0, end + 2)) {
                std::string line = c.in.substr(0, end);
                line.erase(0, line.find_first_not_of('\0')); // AUTH comes after a NUL
                const std::string reply = answer(line, c.stalled);
                ::send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            }
        }
        if (p[1].revents != 0)
            clients.push_back({::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC), {}});
        for (const Client& c : clients)
            if (c.gone)
                ::close(c.fd);
        std::erase_if(clients, [](const Client& c) { return c.gone; });
    }
    for (const Client& c : clients)
        ::close(c.fd);
}

std::size_t openDescriptors()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<std::size_t>(std::distance(begin(fds), end(fds)));
}

} // namespace flashtest

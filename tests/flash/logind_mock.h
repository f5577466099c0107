// A private system bus with python-dbusmock's logind on it, for one test. While it lives,
// DBUS_SYSTEM_BUS_ADDRESS names the private bus, and that is where the code under test
// connects: the machine's own system bus and logind are never reached, so a Reboot call
// only lands in the mock's call log.
#pragma once

#include "logind_bus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QVariantList>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace flashtest {

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class LogindMock {
public:
    enum class Start { WithLogind, BusOnly };
    explicit LogindMock(Start start = Start::WithLogind);
    ~LogindMock();
    LogindMock(const LogindMock&) = delete;
    LogindMock& operator=(const LogindMock&) = delete;

    // python3-dbusmock is not installed (scripts/install-deps.sh installs it).
    bool unavailable() const { return unavailable_; }
    // Empty when the bus (and logind) are up; otherwise what went wrong.
    const std::string& problem() const { return problem_; }
    const std::string& address() const { return address_; }

    // The locks logind holds, one "what|who|why|mode" each.
    std::vector<std::string> inhibitors();
    // Waits until logind holds no lock (it notices a closed descriptor a moment after the
    // close); false if one is still held when the limit has passed.
    bool noInhibitorWithin(std::chrono::seconds limit = std::chrono::seconds(20));
    // The arguments of each call of a method of logind's manager, in order.
    std::vector<QVariantList> calls(const char* method);
    // Replaces a method of logind's manager with Python code that the mock runs.
    void replaceMethod(const char* method, const char* in, const char* out, const char* code);

private:
    QDBusMessage call(const char* interface, const char* method, const QVariantList& args = {});
    // The answer of a call that answers with a list; none, and the test failed, when it failed.
    std::optional<QDBusArgument> list(const char* interface, const char* method, const QVariantList& args = {});
    bool startBus();
    bool startLogind();
    std::string log() const;

    bool unavailable_ = false;
    std::string problem_;
    std::string address_;
    QTemporaryDir dir_;
    QProcess bus_;
    QProcess logind_;
    QString connection_;
    std::optional<ScopedEnv> systemBus_;
};

// A system bus that lets every connection in and stalls it at one step of the way in, for
// as long as it lives. It answers the authentication a line at a time, as a bus does, so a
// client that waits for each answer stalls at the same step as one that sends all at once.
class StallingBus {
public:
    enum class Stall {
        Auth,          // no answer to AUTH
        HalfLine,      // the OK line cut off halfway
        FdNegotiation, // no answer to NEGOTIATE_UNIX_FD
        Hello,         // nothing once the connection has begun, Hello first
    };
    explicit StallingBus(Stall stall);
    ~StallingBus();
    StallingBus(const StallingBus&) = delete;
    StallingBus& operator=(const StallingBus&) = delete;

    const std::string& address() const { return address_; }

private:
    void serve();
    std::string answer(const std::string& line, bool& stalled) const;

    Stall stall_;
    QTemporaryDir dir_;
    int listener_ = -1;
    int stop_[2] = {-1, -1};
    std::string address_;
    std::thread server_;
};

// How many file descriptors the process has open.
std::size_t openDescriptors();

} // namespace flashtest

// Skips the test when python3-dbusmock is missing; fails it when the mock did not come up
// or when the code under test would connect anywhere but to the mock's bus.
#define REQUIRE_LOGIND_MOCK(mock)                                              \
    do {                                                                       \
        if ((mock).unavailable())                                              \
            GTEST_SKIP() << (mock).problem();                                  \
        ASSERT_EQ((mock).problem(), std::string());                            \
        ASSERT_EQ(flash::logind::systemBusAddress(), (mock).address());        \
    } while (0)

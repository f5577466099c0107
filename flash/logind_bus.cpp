#include "logind_bus.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusReply>

#include <algorithm>
#include <atomic>
#include <cstdlib>

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

} // namespace

std::string systemBusAddress()
{
    const char* address = std::getenv(kAddressVariable);
    return address != nullptr && address[0] != '\0' ? address : kStandardAddress;
}

SystemBus::SystemBus()
    : name_(connectionName()),
      connection_(QDBusConnection::connectToBus(QString::fromStdString(systemBusAddress()), name_))
{
}

SystemBus::~SystemBus()
{
    QDBusConnection::disconnectFromBus(name_);
}

std::string SystemBus::error() const
{
    return oneLine(connection_.lastError().message().toStdString());
}

bool SystemBus::hasLogind() const
{
    const QDBusConnectionInterface* names = connection_.interface();
    const QDBusReply<bool> there = names ? names->isServiceRegistered(kService) : QDBusReply<bool>();
    return there.isValid() && there.value();
}

QDBusMessage SystemBus::callManager(const char* method, const QVariantList& args, int timeoutMs)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kManager, method);
    call.setArguments(args);
    return connection_.call(call, QDBus::Block, timeoutMs);
}

std::string errorText(const QDBusMessage& reply)
{
    return oneLine(reply.errorMessage().toStdString());
}

} // namespace flash::logind

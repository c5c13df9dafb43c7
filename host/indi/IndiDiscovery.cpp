#include "host/indi/IndiDiscovery.h"

#include "host/indi/IndiClient.h"
#include "settings/ObservatoryForm.h"

#include <QEventLoop>
#include <QTimer>

namespace kestrove::indi {

namespace {
// Every device's DRIVER_INFO comes with its first properties; a quiet second means all are there.
constexpr int kMaxSeconds = 10;
} // namespace

std::optional<QMap<QString, QStringList>> discoverDevices(const ServerAddress& address, double timeoutSeconds)
{
    IndiClient client;
    if (!client.connectToServer(address, timeoutSeconds))
        return std::nullopt;
    int updates = 0;
    QObject::connect(&client, &IndiClient::propertyChanged, &client, [&updates] { ++updates; });
    for (int second = 0; second < kMaxSeconds; ++second) {
        updates = 0;
        QEventLoop wait;
        QTimer::singleShot(1000, &wait, &QEventLoop::quit);
        wait.exec();
        if (updates == 0 && !client.devices().isEmpty())
            break;
    }
    QMap<QString, QStringList> found;
    for (const QString& device : client.devices()) {
        const IndiProperty* info = client.property(device, QStringLiteral("DRIVER_INFO"));
        if (!info)
            continue;
        const IndiElement* bits = info->element(QStringLiteral("DRIVER_INTERFACE"));
        const IndiElement* exec = info->element(QStringLiteral("DRIVER_EXEC"));
        for (const QString& key :
             deviceKeysFor(bits ? bits->text.toUInt() : 0, exec ? exec->text : QString()))
            found[key] << device;
    }
    for (QStringList& names : found)
        names.sort();
    return found;
}

} // namespace kestrove::indi

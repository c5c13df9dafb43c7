#include "host/indi/IndiClient.h"

#include <libindi/baseclient.h>
#include <libindi/basedevice.h>
#include <libindi/indiproperty.h>
#include <libindi/indipropertyblob.h>
#include <libindi/indipropertylight.h>
#include <libindi/indipropertynumber.h>
#include <libindi/indipropertyswitch.h>
#include <libindi/indipropertytext.h>

#include <QLoggingCategory>
#include <QMetaObject>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcIndi, "kestrove.indi")

namespace kestrove::indi {

namespace {

std::atomic<bool> g_libraryQuiet{false};

// Runs `call` with standard error sent to /dev/null, for the library's lines printed during it.
template <typename Call> auto withoutStandardError(Call call)
{
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || null < 0 || ::dup2(null, STDERR_FILENO) < 0) {
        if (saved >= 0)
            ::close(saved);
        if (null >= 0)
            ::close(null);
        return call();
    }
    ::close(null);
    struct Restore
    {
        int saved;
        ~Restore()
        {
            std::fflush(stderr);
            ::dup2(saved, STDERR_FILENO);
            ::close(saved);
        }
    } restore{saved};
    return call();
}

QString key(const QString& device, const QString& name)
{
    return device + u'\n' + name;
}

PropertyState stateOf(IPState state)
{
    switch (state) {
    case IPS_OK:
        return PropertyState::Ok;
    case IPS_BUSY:
        return PropertyState::Busy;
    case IPS_ALERT:
        return PropertyState::Alert;
    case IPS_IDLE:
        break;
    }
    return PropertyState::Idle;
}

QString text(const char* s)
{
    return s ? QString::fromUtf8(s) : QString();
}

// Copies a property on the listener thread; BLOB data goes separately.
IndiProperty copyOf(INDI::Property p)
{
    IndiProperty copy;
    copy.device = text(p.getDeviceName());
    copy.name = text(p.getName());
    copy.state = stateOf(p.getState());
    switch (p.getType()) {
    case INDI_NUMBER:
        for (const auto& e : INDI::PropertyNumber(p))
            copy.elements.append({text(e.getName()), e.getValue(), {}, false, PropertyState::Idle});
        break;
    case INDI_SWITCH:
        for (const auto& e : INDI::PropertySwitch(p))
            copy.elements.append({text(e.getName()), 0, {}, e.getState() == ISS_ON, PropertyState::Idle});
        break;
    case INDI_TEXT:
        for (const auto& e : INDI::PropertyText(p))
            copy.elements.append({text(e.getName()), 0, text(e.getText()), false, PropertyState::Idle});
        break;
    case INDI_LIGHT:
        for (const auto& e : INDI::PropertyLight(p))
            copy.elements.append({text(e.getName()), 0, {}, false, stateOf(e.getState())});
        break;
    case INDI_BLOB:
        for (const auto& e : INDI::PropertyBlob(p))
            copy.elements.append({text(e.getName()), 0, {}, false, PropertyState::Idle});
        break;
    case INDI_UNKNOWN:
        break;
    }
    return copy;
}

} // namespace

const IndiElement* IndiProperty::element(const QString& elementName) const
{
    for (const IndiElement& e : elements)
        if (e.name == elementName)
            return &e;
    return nullptr;
}

std::optional<double> IndiProperty::number(const QString& elementName) const
{
    const IndiElement* e = element(elementName);
    if (!e || !std::isfinite(e->number))
        return std::nullopt;
    return e->number;
}

bool IndiProperty::isOn(const QString& elementName) const
{
    const IndiElement* e = element(elementName);
    return e && e->on;
}

// Runs on the library's listener thread: copies, then queues the copy to the owner's thread.
class IndiClient::Listener : public INDI::BaseClient
{
public:
    explicit Listener(IndiClient& owner) : m_owner(owner) {}

protected:
    void newProperty(INDI::Property property) override { deliver(property); }
    void updateProperty(INDI::Property property) override { deliver(property); }
    void removeProperty(INDI::Property property) override
    {
        const QString device = text(property.getDeviceName());
        const QString name = text(property.getName());
        IndiClient* owner = &m_owner;
        QMetaObject::invokeMethod(
            owner, [owner, device, name] { owner->remove(device, name); }, Qt::QueuedConnection);
    }
    void removeDevice(INDI::BaseDevice device) override
    {
        const QString name = text(device.getDeviceName());
        IndiClient* owner = &m_owner;
        QMetaObject::invokeMethod(
            owner, [owner, name] { owner->remove(name, QString()); }, Qt::QueuedConnection);
    }
    void serverDisconnected(int exitCode) override
    {
        qCDebug(lcIndi) << "server disconnected, code" << exitCode;
        IndiClient* owner = &m_owner;
        const int generation = connections.load();
        QMetaObject::invokeMethod(
            owner, [owner, generation] { owner->lost(generation); }, Qt::QueuedConnection);
    }

public:
    // Counts connection attempts, so that the loss of an earlier connection is told apart.
    std::atomic<int> connections{0};

private:
    void deliver(INDI::Property property)
    {
        IndiClient* owner = &m_owner;
        const IndiProperty copy = copyOf(property);
        if (property.getType() == INDI_BLOB && property.getState() == IPS_OK) {
            for (const auto& e : INDI::PropertyBlob(property)) {
                if (e.getBlobLen() <= 0 || !e.getBlob())
                    continue;
                IndiBlob blob{copy.device, copy.name,
                              QByteArray(static_cast<const char*>(e.getBlob()), e.getBlobLen()),
                              text(e.getFormat())};
                QMetaObject::invokeMethod(
                    owner, [owner, blob] { owner->receiveBlob(blob); }, Qt::QueuedConnection);
            }
        }
        QMetaObject::invokeMethod(
            owner, [owner, copy] { owner->receive(copy); }, Qt::QueuedConnection);
    }

    IndiClient& m_owner;
};

IndiClient::IndiClient() : m_listener(std::make_unique<Listener>(*this)) {}

IndiClient::~IndiClient()
{
    // Ends the listener thread before this object goes; calls it still queued are dropped with it.
    if (m_listener->isServerConnected())
        m_listener->disconnectServer();
}

bool IndiClient::connectToServer(const ServerAddress& address, double timeoutSeconds)
{
    if (m_connected && m_listener->isServerConnected())
        return true;
    // The library still counts a connection that the server ended as open until it is closed.
    if (m_listener->isServerConnected())
        m_listener->disconnectServer();
    m_listener->setServer(address.host.toUtf8().constData(), static_cast<unsigned>(address.port));
    const double whole = std::floor(timeoutSeconds);
    m_listener->setConnectionTimeout(static_cast<uint32_t>(whole),
                                     static_cast<uint32_t>((timeoutSeconds - whole) * 1e6));
    ++m_listener->connections;
    m_connected = g_libraryQuiet ? withoutStandardError([this] { return m_listener->connectServer(); })
                                 : m_listener->connectServer();
    if (m_connected) {
        // What arrived under an earlier connection is stale.
        m_properties.clear();
        m_devices.clear();
        m_blobsEnabled.clear();
    }
    return m_connected;
}

void IndiClient::setLibraryQuiet(bool quiet)
{
    g_libraryQuiet = quiet;
}

const IndiProperty* IndiClient::property(const QString& device, const QString& name) const
{
    const auto it = m_properties.constFind(key(device, name));
    return it == m_properties.cend() ? nullptr : &it.value();
}

bool IndiClient::deviceConnected(const QString& device) const
{
    const IndiProperty* connection = property(device, QStringLiteral("CONNECTION"));
    return m_connected && connection && connection->isOn(QStringLiteral("CONNECT")) &&
           connection->state != PropertyState::Alert;
}

const IndiBlob* IndiClient::lastBlob(const QString& device, const QString& property) const
{
    const auto it = m_lastBlobs.constFind(device + u'\n' + property);
    return it == m_lastBlobs.cend() ? nullptr : &it.value();
}

void IndiClient::sendNumbers(const QString& device, const QString& property,
                             const QList<QPair<QString, double>>& values)
{
    if (!m_connected)
        return;
    INDI::PropertyNumber out(static_cast<size_t>(values.size()));
    for (qsizetype i = 0; i < values.size(); ++i) {
        out[static_cast<size_t>(i)].setName(values[i].first.toUtf8().constData());
        out[static_cast<size_t>(i)].setValue(values[i].second);
    }
    out.setDeviceName(device.toUtf8().constData());
    out.setName(property.toUtf8().constData());
    m_listener->sendNewNumber(out);
}

void IndiClient::sendSwitch(const QString& device, const QString& property, const QString& element)
{
    if (!m_connected)
        return;
    INDI::PropertySwitch out(1);
    out[0].setName(element.toUtf8().constData());
    out[0].setState(ISS_ON);
    out.setDeviceName(device.toUtf8().constData());
    out.setName(property.toUtf8().constData());
    m_listener->sendNewSwitch(out);
}

void IndiClient::sendSwitches(const QString& device, const QString& property,
                              const QList<QPair<QString, bool>>& states)
{
    if (!m_connected)
        return;
    INDI::PropertySwitch out(static_cast<size_t>(states.size()));
    for (qsizetype i = 0; i < states.size(); ++i) {
        out[static_cast<size_t>(i)].setName(states[i].first.toUtf8().constData());
        out[static_cast<size_t>(i)].setState(states[i].second ? ISS_ON : ISS_OFF);
    }
    out.setDeviceName(device.toUtf8().constData());
    out.setName(property.toUtf8().constData());
    // Under the default one-of-many rule the library would send the first element that is on alone.
    out.setRule(ISR_NOFMANY);
    m_listener->sendNewSwitch(out);
}

void IndiClient::sendTexts(const QString& device, const QString& property,
                           const QList<QPair<QString, QString>>& values)
{
    if (!m_connected)
        return;
    INDI::PropertyText out(static_cast<size_t>(values.size()));
    for (qsizetype i = 0; i < values.size(); ++i) {
        out[static_cast<size_t>(i)].setName(values[i].first.toUtf8().constData());
        out[static_cast<size_t>(i)].setText(values[i].second.toUtf8().constData());
    }
    out.setDeviceName(device.toUtf8().constData());
    out.setName(property.toUtf8().constData());
    m_listener->sendNewText(out);
}

void IndiClient::connectDevice(const QString& device)
{
    sendSwitch(device, QStringLiteral("CONNECTION"), QStringLiteral("CONNECT"));
}

void IndiClient::receive(const IndiProperty& property)
{
    if (!m_connected)
        return;
    m_devices.insert(property.device);
    if (!m_blobsEnabled.contains(property.device)) {
        // Images come with the other updates on the one connection.
        m_blobsEnabled.insert(property.device);
        m_listener->setBLOBMode(B_ALSO, property.device.toUtf8().constData(), nullptr);
    }
    IndiProperty& stored = m_properties[key(property.device, property.name)];
    const quint64 updates = stored.updates;
    stored = property;
    stored.updates = updates + 1;
    emit propertyChanged(property.device, property.name);
}

void IndiClient::receiveBlob(const IndiBlob& blob)
{
    if (!m_connected)
        return;
    const QString key = blob.device + u'\n' + blob.property;
    m_lastBlobs[key] = blob;
    ++m_blobCounts[key];
}

void IndiClient::remove(const QString& device, const QString& name)
{
    if (name.isEmpty()) {
        m_properties.removeIf([&](const auto& it) { return it.value().device == device; });
        m_devices.remove(device);
        m_blobsEnabled.remove(device);
    } else {
        m_properties.remove(key(device, name));
    }
    emit propertyChanged(device, name);
}

void IndiClient::lost(int generation)
{
    // A report of an earlier connection can arrive after a new one was made.
    if (!m_connected || generation != m_listener->connections.load())
        return;
    m_connected = false;
    m_properties.clear();
    m_devices.clear();
    m_blobsEnabled.clear();
    emit serverLost();
}

} // namespace kestrove::indi

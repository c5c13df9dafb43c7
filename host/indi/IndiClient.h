#pragma once

#include "host/indi/IndiMapping.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace kestrove::indi {

// One element of a property, copied out of the client library.
struct IndiElement
{
    QString name;
    double number = 0;
    QString text;
    bool on = false;
    PropertyState light = PropertyState::Idle;
};

// A copy of one INDI property as it stood at its last update.
struct IndiProperty
{
    QString device;
    QString name;
    PropertyState state = PropertyState::Idle;
    QList<IndiElement> elements;
    quint64 updates = 0; // counts the updates seen on the Qt thread

    const IndiElement* element(const QString& elementName) const;
    std::optional<double> number(const QString& elementName) const;
    bool isOn(const QString& elementName) const;
};

// A BLOB (an image) as it arrived.
struct IndiBlob
{
    QString device;
    QString property;
    QByteArray data;
    QString format;
};

// The one object that talks to the INDI client library. The library calls back on its own
// listener thread; everything it delivers is copied there and handed to this object's thread (the
// Qt thread) through queued calls, so the rest of the host reads plain copies and never sees the
// library's threads or its shared property objects. Commands are sent as standalone copies.
class IndiClient : public QObject
{
    Q_OBJECT

public:
    IndiClient();
    ~IndiClient() override;

    // Connects to the server, waiting at most `timeoutSeconds`; false when it cannot. Blocks.
    bool connectToServer(const ServerAddress& address, double timeoutSeconds);
    // Whether the library's own line on connecting, which it prints to standard error, is dropped:
    // for a run whose output is only its answer (--close). Kestrove's own messages are not touched.
    static void setLibraryQuiet(bool quiet);
    bool serverConnected() const { return m_connected; }

    // What has arrived on the Qt thread so far; nullptr when not (or no longer) there.
    const IndiProperty* property(const QString& device, const QString& name) const;
    bool hasDevice(const QString& device) const { return m_devices.contains(device); }
    QStringList devices() const { return QStringList(m_devices.begin(), m_devices.end()); }
    // The device's CONNECTION switch is on and not failed.
    bool deviceConnected(const QString& device) const;
    // BLOBs received from the device since the program started, and the last of them.
    // BLOBs of one property of a device (a camera's main chip is "CCD1"; a guide chip or a video
    // stream sends others).
    quint64 blobCount(const QString& device, const QString& property) const
    {
        return m_blobCounts.value(device + u'\n' + property);
    }
    const IndiBlob* lastBlob(const QString& device, const QString& property) const;

    void sendNumbers(const QString& device, const QString& property,
                     const QList<QPair<QString, double>>& values);
    void sendSwitch(const QString& device, const QString& property, const QString& element);
    // Several elements of a switch at once, each on or off (a switch that allows any number on).
    void sendSwitches(const QString& device, const QString& property,
                      const QList<QPair<QString, bool>>& states);
    void sendTexts(const QString& device, const QString& property,
                   const QList<QPair<QString, QString>>& values);
    void connectDevice(const QString& device);

signals:
    void propertyChanged(const QString& device, const QString& name);
    void serverLost();

private:
    class Listener;
    friend class Listener;

    void receive(const IndiProperty& property);
    void receiveBlob(const IndiBlob& blob);
    void remove(const QString& device, const QString& name);
    void lost(int generation);

    std::unique_ptr<Listener> m_listener;
    bool m_connected = false;
    QHash<QString, IndiProperty> m_properties; // by device + '\n' + name
    QSet<QString> m_devices;
    QSet<QString> m_blobsEnabled;
    QHash<QString, quint64> m_blobCounts;
    QHash<QString, IndiBlob> m_lastBlobs;
};

} // namespace kestrove::indi

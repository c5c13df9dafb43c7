#pragma once

#include "host/indi/IndiClient.h"
#include "settings/ObservatorySettings.h"
#include "sky/Astronomy.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>

namespace kestrove::indi {

// A property the host needs before it can go on.
struct Need
{
    QString device;
    QString property;
};

// The connection to the INDI server and its configured devices, on the Qt thread: connecting
// (and reconnecting), asking the devices to connect, telling what is still missing, the mount's
// position and location, and the weather device's verdict.
class IndiLink
{
public:
    IndiLink(IndiClient& client, const ObservatorySettings& settings, const ServerAddress& address);

    IndiClient& client() { return m_client; }
    const ObservatorySettings& settings() const { return m_settings; }
    QString serverText() const;

    // Connects when not connected; blocks up to [indi] connectTimeout. `error` names the address.
    bool connectServer(QString& error);
    // Tries again only when the last attempt lies `seconds` back (wall time).
    void reconnectEvery(double seconds);
    // Asks every configured device that is not connected to connect, once per connection, and sends
    // the site to the mount when configured to.
    void requestDevices();
    // The first of the needs that is not met, as text; empty when all are.
    QString missing(const QList<Need>& needs) const;
    // The configured devices (mount, camera, filter wheel, focuser, weather, roof), without
    // duplicates. The watchdog is not among them: it is configured before it connects.
    QStringList devices() const;

    // The mount's position, J2000, at `utc`; the last one known when the mount is gone. False when
    // the mount never reported one.
    bool mountJ2000(const QDateTime& utc, Equatorial& position);
    // The mount's own latitude (GEOGRAPHIC_COORD), or the configured one.
    double siteLatitude() const;

    bool weatherConfigured() const { return !m_settings.indi.weather.isEmpty(); }
    bool weatherSafe() const;

private:
    IndiClient& m_client;
    const ObservatorySettings& m_settings;
    ServerAddress m_address;
    QSet<QString> m_requested;
    bool m_siteChecked = false;
    qint64 m_lastAttemptMs = 0;
    bool m_haveJ2000 = false;
    Equatorial m_jnow;
    Equatorial m_j2000;
    qint64 m_j2000Ms = 0;
};

} // namespace kestrove::indi

#include "host/indi/IndiLink.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QObject>

#include <cmath>

Q_DECLARE_LOGGING_CATEGORY(lcIndi)

namespace kestrove::indi {

namespace {

qint64 wallMs()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    // Never 0, so that a first attempt always counts as long ago.
    return timer.elapsed() + 1000000;
}

} // namespace

IndiLink::IndiLink(IndiClient& client, const ObservatorySettings& settings, const ServerAddress& address)
    : m_client(client), m_settings(settings), m_address(address)
{
    QObject::connect(&m_client, &IndiClient::serverLost, &m_client, [this] {
        m_requested.clear();
        m_siteChecked = false;
    });
}

QString IndiLink::serverText() const
{
    return QStringLiteral("%1:%2").arg(m_address.host).arg(m_address.port);
}

bool IndiLink::connectServer(QString& error)
{
    if (m_client.serverConnected())
        return true;
    m_lastAttemptMs = wallMs();
    m_requested.clear();
    m_siteChecked = false;
    if (m_client.connectToServer(m_address, m_settings.indi.connectTimeout))
        return true;
    error = QStringLiteral("cannot reach the INDI server at %1").arg(serverText());
    return false;
}

void IndiLink::reconnectEvery(double seconds)
{
    if (m_client.serverConnected() || wallMs() - m_lastAttemptMs < seconds * 1000)
        return;
    QString error;
    if (!connectServer(error))
        qCWarning(lcIndi) << error;
}

QStringList IndiLink::devices() const
{
    QStringList all;
    for (const QString& d :
         {m_settings.indi.mount, m_settings.indi.camera, m_settings.indi.filterWheel, m_settings.indi.focuser,
          m_settings.indi.weather, m_settings.indi.roof, m_settings.indi.dome})
        if (!d.isEmpty() && !all.contains(d))
            all << d;
    return all;
}

void IndiLink::requestDevices()
{
    if (!m_client.serverConnected())
        return;
    for (const QString& device : devices()) {
        const IndiProperty* connection = m_client.property(device, QStringLiteral("CONNECTION"));
        if (connection && !connection->isOn(QStringLiteral("CONNECT")) && !m_requested.contains(device)) {
            m_requested.insert(device);
            m_client.connectDevice(device);
        }
    }
    const QString& mount = m_settings.indi.mount;
    const IndiProperty* place = m_client.property(mount, QStringLiteral("GEOGRAPHIC_COORD"));
    if (!m_siteChecked && place && m_client.deviceConnected(mount)) {
        m_siteChecked = true;
        double longitude = std::fmod(m_settings.longitude, 360.0);
        if (longitude < 0)
            longitude += 360.0;
        const double lat = place->number(QStringLiteral("LAT")).value_or(1e9);
        const double lon = place->number(QStringLiteral("LONG")).value_or(1e9);
        const double elev = place->number(QStringLiteral("ELEV")).value_or(1e9);
        const bool differs = std::abs(lat - m_settings.latitude) > 1e-4 ||
                             std::abs(std::remainder(lon - longitude, 360.0)) > 1e-4 ||
                             std::abs(elev - m_settings.elevation) > 1;
        if (differs && m_settings.indi.sendSite) {
            m_client.sendNumbers(mount, QStringLiteral("GEOGRAPHIC_COORD"),
                                 {{QStringLiteral("LAT"), m_settings.latitude},
                                  {QStringLiteral("LONG"), longitude},
                                  {QStringLiteral("ELEV"), m_settings.elevation}});
        } else if (differs) {
            qCWarning(lcIndi) << "the mount's location" << lat << lon << elev << "differs from [site]";
        }
    }
}

QString IndiLink::missing(const QList<Need>& needs) const
{
    if (!m_client.serverConnected())
        return QStringLiteral("not connected to the INDI server at %1").arg(serverText());
    for (const Need& need : needs) {
        if (!m_client.hasDevice(need.device))
            return QStringLiteral("the server has no device \"%1\"").arg(need.device);
        if (!m_client.deviceConnected(need.device))
            return QStringLiteral("device \"%1\" is not connected").arg(need.device);
        if (!need.property.isEmpty() && !m_client.property(need.device, need.property))
            return QStringLiteral("device \"%1\" has no property %2").arg(need.device, need.property);
    }
    return {};
}

bool IndiLink::mountJ2000(const QDateTime& utc, Equatorial& position)
{
    const IndiProperty* coord =
        m_client.property(m_settings.indi.mount, QStringLiteral("EQUATORIAL_EOD_COORD"));
    if (coord) {
        const auto ra = coord->number(QStringLiteral("RA"));
        const auto dec = coord->number(QStringLiteral("DEC"));
        const qint64 ms = utc.toMSecsSinceEpoch();
        // The conversion is redone when the mount moved or a second passed.
        if (ra && dec &&
            (!m_haveJ2000 || *ra != m_jnow.rightAscension || *dec != m_jnow.declination ||
             std::abs(ms - m_j2000Ms) >= 1000)) {
            m_jnow = {*ra, *dec};
            m_j2000 = jnowToJ2000(m_jnow, utc);
            m_j2000Ms = ms;
            m_haveJ2000 = true;
        }
    }
    if (!m_haveJ2000)
        return false;
    position = m_j2000;
    return true;
}

double IndiLink::siteLatitude() const
{
    const IndiProperty* place = m_client.property(m_settings.indi.mount, QStringLiteral("GEOGRAPHIC_COORD"));
    if (place)
        if (const auto lat = place->number(QStringLiteral("LAT")))
            return *lat;
    return m_settings.latitude;
}

bool IndiLink::weatherSafe() const
{
    const QString& device = m_settings.indi.weather;
    const IndiProperty* status = m_client.property(device, QStringLiteral("WEATHER_STATUS"));
    return indi::weatherSafe(m_client.deviceConnected(device),
                             status ? std::optional(status->state) : std::nullopt);
}

} // namespace kestrove::indi

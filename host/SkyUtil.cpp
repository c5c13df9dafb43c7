#include "host/SkyUtil.h"

#include "host/ConfigValues.h"
#include "host/HostText.h"
#include "host/ObservatoryControl.h"

#include <algorithm>
#include <cmath>

namespace kestrove {

std::shared_ptr<const SkyInstant> SiteSky::now()
{
    // A pass asks for every target at one millisecond of the clock.
    const std::shared_ptr<const SkyInstant>& last = m_skies.last();
    if (last && last->msecsSinceEpoch() == m_clock.utcMsecs())
        return last;
    return m_skies.at(m_clock.utcNow());
}

double SiteSky::sunAltitudeNow()
{
    const qint64 now = m_clock.utcMsecs();
    if (!m_haveSun || std::abs(now - m_sunMs) > 10000) {
        m_sunAltitude = this->now()->sun().elevation;
        m_sunMs = now;
        m_haveSun = true;
    }
    return m_sunAltitude;
}

std::optional<Horizontal> SiteSky::moonNow()
{
    // The Moon moves across the sky as fast as the stars: ten seconds move it a twentieth of a degree.
    const qint64 now = m_clock.utcMsecs();
    if (!m_haveMoon || std::abs(now - m_moonMs) > 10000) {
        m_moon = this->now()->moon();
        m_moonMs = now;
        m_haveMoon = true;
    }
    return m_moon;
}

std::optional<QDateTime> SiteSky::firstSunAboveLimit(const std::optional<double>& limit, const QDateTime& from,
                                                     const QDateTime& to)
{
    if (!limit || to < from)
        return std::nullopt;
    // Known dark from the last search's start up to what it found or, finding nothing, its end.
    const bool known = m_searchLimit == limit && m_searchFrom <= from &&
                       (m_searchFound ? from < *m_searchFound : to <= m_searchTo);
    if (!known) {
        m_searchLimit = limit;
        m_searchFrom = from;
        m_searchTo = std::max(to, from.addSecs(24 * 3600));
        m_searchFound = kestrove::firstSunAboveLimit(m_site, limit, from, m_searchTo);
    }
    if (m_searchFound && *m_searchFound <= to)
        return m_searchFound;
    return std::nullopt;
}

double SiteSky::siderealTimeNow()
{
    const qint64 now = m_clock.utcMsecs();
    // A pass asks it twice for every target it scores, at one instant.
    if (m_haveSidereal && now == m_siderealMs)
        return m_sidereal;
    const SkyInstant* last = m_skies.last().get();
    if (!last || now < last->msecsSinceEpoch() || now - last->msecsSinceEpoch() > 60000) {
        m_sidereal = this->now()->localSiderealTime();
    } else {
        constexpr double siderealPerSolar = 1.00273790935;
        const double hours = last->localSiderealTime() +
                             static_cast<double>(now - last->msecsSinceEpoch()) / 3600000.0 * siderealPerSolar;
        m_sidereal = std::fmod(hours, 24.0);
    }
    m_siderealMs = now;
    m_haveSidereal = true;
    return m_sidereal;
}

SkyTransform::SkyTransform(std::shared_ptr<const SkyInstant> sky) : m_sky(std::move(sky)), m_fixed(false) {}

SkyTransform::SkyTransform(std::shared_ptr<const SkyInstant> sky, double latitude, double siderealTime)
    : m_sky(std::move(sky)), m_fixed(true), m_latitude(latitude), m_siderealTime(siderealTime)
{
}

void SkyTransform::setRightAscension(double hours)
{
    m_ra = hours;
    m_haveUnit = false;
    m_dirty = true;
    m_haveElevation = false;
}

void SkyTransform::setDeclination(double degrees)
{
    m_dec = degrees;
    m_haveUnit = false;
    m_dirty = true;
    m_haveElevation = false;
}

void SkyTransform::setPlace(const CataloguePlace& place)
{
    m_ra = place.rightAscension;
    m_dec = place.declination;
    std::copy(place.unit, place.unit + 3, m_unit);
    m_haveUnit = true;
    m_dirty = true;
    m_haveElevation = false;
}

bool SkyTransform::surelyAtOrBelow(double elevation)
{
    return m_fixed ? m_sky->surelyAtOrBelowAt(unit(), elevation, m_latitude, m_siderealTime)
                   : m_sky->surelyAtOrBelow(unit(), elevation);
}

double SkyTransform::Elevation()
{
    if (m_dirty && !m_haveElevation) {
        m_place.elevation = m_fixed ? m_sky->elevationAt(unit(), m_latitude, m_siderealTime)
                                    : m_sky->elevation(unit());
        m_haveElevation = true;
    }
    return m_place.elevation;
}

const double* SkyTransform::unit()
{
    if (!m_haveUnit) {
        catalogueUnit(m_ra, m_dec, m_unit);
        m_haveUnit = true;
    }
    return m_unit;
}

const Horizontal& SkyTransform::place()
{
    if (m_dirty) {
        m_place = m_fixed ? m_sky->observedAt(unit(), m_latitude, m_siderealTime) : m_sky->observed(unit());
        m_dirty = false;
    }
    return m_place;
}

CataloguePlace CataloguePlace::of(double rightAscension, double declination)
{
    CataloguePlace place;
    place.rightAscension = rightAscension;
    place.declination = declination;
    catalogueUnit(rightAscension, declination, place.unit);
    return place;
}

bool sunAboveLimit(SiteSky& sky, const std::optional<double>& limit)
{
    return limit && sky.sunAltitudeNow() > *limit;
}

std::optional<QDateTime> firstSunAboveLimit(const Site& site, const std::optional<double>& limit,
                                            const QDateTime& from, const QDateTime& to)
{
    if (!limit || to < from)
        return std::nullopt;
    if (sunAltitude(from, site) > *limit)
        return from;
    const QList<QDateTime> crossings = sunCrossings(site, from, to, *limit);
    if (crossings.isEmpty())
        return std::nullopt;
    return crossings.front();
}

SkyUtil::SkyUtil(SiteSky& sky, std::optional<double> sunLimit, ObservatoryControl* control)
    : m_sky(sky), m_sunLimit(sunLimit), m_control(control), m_weather(*this)
{
}

bool SkyUtil::observatoryHolds()
{
    if (!m_control)
        return false;
    m_control->update();
    return m_control->holdsSurvey();
}

bool SkyUtil::WeatherConnected()
{
    return deviceWeatherConnected() || sunAboveLimit(m_sky, m_sunLimit) || observatoryHolds();
}

bool SkyUtil::GatedWeather::Safe()
{
    if (sunAboveLimit(m_util.m_sky, m_util.m_sunLimit) || m_util.observatoryHolds())
        return false;
    return !m_util.deviceWeatherConnected() || m_util.deviceWeatherSafe();
}

bool SkyUtil::moonPlace(double& elevation, double& azimuth)
{
    const std::optional<Horizontal> moon = m_sky.moonNow();
    if (!moon)
        return false;
    elevation = moon->elevation;
    azimuth = moon->azimuth;
    return true;
}

QString SkyUtil::FormatVar(const QDateTime& value, const QString& format)
{
    return formatDate(value, format);
}

double SkyUtil::Date_Julian(const QDateTime& value)
{
    return julianDate(value);
}

std::unique_ptr<CoordTransform> SkyUtil::NewCTHereAndNow()
{
    return std::make_unique<SkyTransform>(m_sky.now());
}

std::unique_ptr<CoordTransform> SkyUtil::NewCT(double latitude, double siderealTime)
{
    double st = std::fmod(siderealTime, 24.0);
    if (st < 0)
        st += 24.0;
    return std::make_unique<SkyTransform>(m_sky.now(), latitude, st);
}

bool SkyUtil::IsGEMDestinationWest(double rightAscension)
{
    double ha = m_sky.siderealTimeNow() - rightAscension;
    // fmod leaves the usual difference of two hours of the day as it is, at a cost.
    if (!(std::fabs(ha) < 24))
        ha = std::fmod(ha, 24.0);
    if (ha <= -12)
        ha += 24;
    else if (ha > 12)
        ha -= 24;
    return ha < 0;
}

double SkyUtil::HMS_Hours(const QString& text)
{
    return parseSexagesimal(QStringLiteral("HMS_Hours"), text, u'h');
}

double SkyUtil::DMS_Degrees(const QString& text)
{
    return parseSexagesimal(QStringLiteral("DMS_Degrees"), text, u'd');
}

QString SkyUtil::Hours_HMS(double hours, const QString& h, const QString& m, const QString& s)
{
    return formatSexagesimal(hours, h, m, s, false);
}

QString SkyUtil::Degrees_DMS(double degrees, const QString& d, const QString& m, const QString& s)
{
    return formatSexagesimal(degrees, d, m, s, true);
}

double SettingsPrefs::GetHorizon(double azimuth)
{
    return horizonElevation(m_settings.horizon, azimuth);
}

double SettingsPrefs::highestHorizon()
{
    // Straight between its points, the horizon is highest at one of them.
    double highest = m_settings.horizon.isEmpty() ? 0 : -90;
    for (const QPointF& point : m_settings.horizon)
        highest = std::max(highest, point.y());
    return highest;
}

} // namespace kestrove

#include "host/SkyUtil.h"

#include "host/ObservatoryControl.h"
#include "text/HostText.h"
#include "text/ValueText.h"

#include <algorithm>
#include <cmath>

namespace kestrove {

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
        m_place.elevation =
            m_fixed ? m_sky->elevationAt(unit(), m_latitude, m_siderealTime) : m_sky->elevation(unit());
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

PlanTimings SettingsPrefs::timings()
{
    if (m_settings.kind == HostKind::Sim)
        return planTimings(m_settings);
    if (!m_timings)
        m_timings = planTimings(m_settings);
    return *m_timings;
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

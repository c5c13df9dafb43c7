#include "host/SkyFlats.h"

#include <cmath>

namespace kestrove {

namespace {

constexpr double kFlatAltitude = 75;
// Frames a flat set takes beyond those it keeps, on a sky that changes as it goes.
constexpr int kSpareFlats = 3;

} // namespace

Equatorial skyFlatField(const Site& site, const QDateTime& utc)
{
    const SkyInstant sky(utc, site);
    const double rad = M_PI / 180;
    const double azimuth = std::fmod(sky.sun().azimuth + 180, 360) * rad;
    const double a = kFlatAltitude * rad;
    const double phi = site.latitude * rad;
    const double dec =
        std::asin(std::sin(phi) * std::sin(a) + std::cos(phi) * std::cos(a) * std::cos(azimuth));
    const double hourAngle =
        std::atan2(-std::cos(a) * std::sin(azimuth),
                   std::sin(a) * std::cos(phi) - std::cos(a) * std::cos(azimuth) * std::sin(phi));
    const double ra = std::fmod(sky.localSiderealTime() - hourAngle / rad / 15 + 48, 24);
    return jnowToJ2000({ra, dec / rad}, utc);
}

double skyFlatSeconds(const CalibrationSettings& c, int sets, double downloadSeconds)
{
    const double exposure = std::sqrt(c.flatExposureMin * c.flatExposureMax);
    return sets * (c.darks + kSpareFlats) * (exposure + downloadSeconds);
}

double darkSeconds(const CalibrationSettings& c, const QList<double>& exposures, int binnings,
                   double downloadSeconds)
{
    double seconds = binnings * c.bias * downloadSeconds;
    for (double exposure : exposures)
        seconds += c.darks * (exposure + downloadSeconds);
    return seconds;
}

} // namespace kestrove

#include "sky/Barycentric.h"

#include "text/HostError.h"

#include <cmath>

namespace kestrove {

double barycentricJulianDate(const QDateTime& utc, const Site& site, const Equatorial& star)
{
    const QDateTime u = utc.toUTC();
    const QDate d = u.date();
    const QTime t = u.time();
    const auto refuse = [&]() {
        return HostError(QStringLiteral("barycentricJulianDate"), u.toString(Qt::ISODateWithMs),
                         QStringLiteral("date out of range"));
    };
    double utc1 = 0, utc2 = 0, tai1 = 0, tai2 = 0, tt1 = 0, tt2 = 0;
    if (eraDtf2d("UTC", d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second() + t.msec() / 1000.0,
                 &utc1, &utc2) < 0 ||
        eraUtctai(utc1, utc2, &tai1, &tai2) < 0 || eraTaitt(tai1, tai2, &tt1, &tt2) < 0)
        throw refuse();

    const double longitude = site.longitude * ERFA_DD2R;
    double geocentric[3];
    if (eraGd2gc(ERFA_WGS84, longitude, site.latitude * ERFA_DD2R, site.elevation, geocentric) != 0)
        throw refuse();
    // TDB - TT: the site's distance from the Earth's axis and from the equator's plane, in km, and
    // the fraction of the UT day, which eraDtf2d keeps in the second part (UTC stands for UT1).
    const double axis = std::hypot(geocentric[0], geocentric[1]) / 1000;
    const double north = geocentric[2] / 1000;
    const double tdbMinusTt = eraDtdb(tt1, tt2, utc2, longitude, axis, north);

    // The site's barycentric place, from the astrometry context of that instant.
    eraASTROM astrom;
    double eo = 0;
    if (eraApco13(utc1, utc2, 0.0, longitude, site.latitude * ERFA_DD2R, site.elevation, 0.0, 0.0, 0.0, 0.0,
                  0.0, 0.0, &astrom, &eo) < 0)
        throw refuse();
    double direction[3];
    catalogueUnit(star.rightAscension, star.declination, direction);
    const double lightSeconds = eraPdp(astrom.eb, direction) * ERFA_AULT;

    return tt1 + (tt2 + (tdbMinusTt + lightSeconds) / ERFA_DAYSEC);
}

} // namespace kestrove

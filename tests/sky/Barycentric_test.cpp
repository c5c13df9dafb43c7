#include "sky/Barycentric.h"
#include "text/HostError.h"

#include <gtest/gtest.h>

using namespace kestrove;

// The expected dates were computed apart from ERFA's use here, with astropy 5.2 (Debian's
// python3-astropy), its builtin ephemeris and the IERS-B table it ships (UT1 included):
//
//   from astropy.time import Time
//   from astropy.coordinates import SkyCoord, EarthLocation
//   import astropy.units as u
//   loc = EarthLocation.from_geodetic(lon * u.deg, lat * u.deg, h * u.m)
//   t = Time(when, scale='utc', location=loc)
//   ltt = t.light_travel_time(SkyCoord(ra * u.deg, dec * u.deg), kind='barycentric', ephemeris='builtin')
//   bjd = t.tdb + ltt; print((bjd.jd1 - 2450000) + bjd.jd2, ltt.sec)
//
// when                     lat       lon        h     ra        dec       BJD_TDB - 2450000  light s
// 2021-03-20T02:15:30.250  52.2      0.12       50    83.8221   -5.3911   9293.5943592635    -46.795251
// 2022-08-05T23:59:59.500  -30.2446  -70.7494   2647  279.2347  38.7837   9797.5032373794    211.026413
// 2017-01-01T00:00:30.000  19.8207   -155.468   4205  7.5       89.0      7754.5033709117    192.062819
// 2019-11-11T15:40:00.000  35.0      139.0      0     190.0     -60.0     8799.1498891284    -318.761945
TEST(Barycentric, TheBarycentricDateAgreesWithAnIndependentReckoning)
{
    struct Case
    {
        const char* utc;
        Site site;
        double raDegrees;
        double dec;
        double bjd; // - 2450000
    };
    const Case cases[] = {
        {"2021-03-20T02:15:30.250Z", {52.2, 0.12, 50}, 83.8221, -5.3911, 9293.5943592635},
        {"2022-08-05T23:59:59.500Z", {-30.2446, -70.7494, 2647}, 279.2347, 38.7837, 9797.5032373794},
        {"2017-01-01T00:00:30.000Z", {19.8207, -155.468, 4205}, 7.5, 89.0, 7754.5033709117},
        {"2019-11-11T15:40:00.000Z", {35.0, 139.0, 0}, 190.0, -60.0, 8799.1498891284},
    };
    for (const Case& c : cases) {
        const QDateTime utc = QDateTime::fromString(QLatin1String(c.utc), Qt::ISODateWithMs);
        ASSERT_TRUE(utc.isValid()) << c.utc;
        const double bjd = barycentricJulianDate(utc, c.site, {c.raDegrees / 15, c.dec});
        // A Julian date in a double resolves 40 microseconds; the table's last digit is 9.
        EXPECT_NEAR((bjd - 2450000 - c.bjd) * 86400, 0, 1e-4) << c.utc;
    }
}

TEST(Barycentric, ADateBeyondTheTablesIsRefused)
{
    EXPECT_THROW(barycentricJulianDate(QDateTime(QDate(-5000, 1, 1), QTime(0, 0), Qt::UTC), {}, {0, 0}),
                 HostError);
}

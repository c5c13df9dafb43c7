#include "support/TestSite.h"

#include "host/SkyUtil.h"
#include "sky/Astronomy.h"
#include "sky/SiteClock.h"

#include <QTemporaryDir>

#include <erfa.h>
#include <gtest/gtest.h>

#include <cmath>

using namespace kestrove;

namespace {

struct Expected
{
    const char* utc;
    Site site;
    double lastHours;
    const char* star;
    double ra;
    double dec;
    double elevation;
    double azimuth;
};

constexpr Site palma{28.7606, -17.8816, 2396};
constexpr Site paranal{-24.6272, -70.4042, 2635};

// Computed once with astropy 5.2.1 (ICRS to AltAz, pressure 0, UT1 = UTC).
const Expected expected[] = {
    {"2022-03-15T22:30:00Z", palma, 8.874753752, "Sirius", 6.752477, -16.716116, 35.204504, 217.870044},
    {"2022-03-15T22:30:00Z", palma, 8.874753752, "Vega", 18.615649, 38.783692, -15.480572, 26.664171},
    {"2022-03-15T22:30:00Z", palma, 8.874753752, "Polaris", 2.530301, 89.264109, 28.774642, 359.271145},
    {"2022-03-15T22:30:00Z", palma, 8.874753752, "Betelgeuse", 5.919529, 7.407064, 43.397539, 251.546598},
    {"2022-03-15T22:30:00Z", palma, 8.874753752, "Arcturus", 14.26102, 19.18241, 16.622486, 76.983126},
    {"2022-03-15T22:30:00Z", palma, 8.874753752, "Canopus", 6.399195, -52.695661, 2.365682, 201.406571},
    {"2022-03-15T22:30:00Z", paranal, 5.373247085, "Sirius", 6.752477, -16.716116, 68.920102, 72.051071},
    {"2022-03-15T22:30:00Z", paranal, 5.373247085, "Vega", 18.615649, 38.783692, -68.702037, 316.200225},
    {"2022-03-15T22:30:00Z", paranal, 5.373247085, "Polaris", 2.530301, 89.264109, -24.109857, 359.588092},
    {"2022-03-15T22:30:00Z", paranal, 5.373247085, "Betelgeuse", 5.919529, 7.407064, 56.911509, 15.558667},
    {"2022-03-15T22:30:00Z", paranal, 5.373247085, "Canopus", 6.399195, -52.695661, 59.562968, 161.346990},
    {"2021-12-01T03:10:20Z", palma, 6.660191522, "Sirius", 6.752477, -16.716116, 44.474866, 177.811220},
    {"2021-12-01T03:10:20Z", palma, 6.660191522, "Vega", 18.615649, 38.783692, -22.433420, 0.416049},
    {"2021-12-01T03:10:20Z", palma, 6.660191522, "Betelgeuse", 5.919529, 7.407064, 66.340111, 207.615688},
    {"2021-12-01T03:10:20Z", palma, 6.660191522, "Arcturus", 14.26102, 19.18241, -10.551468, 61.211862},
    {"2021-12-01T03:10:20Z", paranal, 3.158684855, "Sirius", 6.752477, -16.716116, 39.035583, 92.072529},
    {"2021-12-01T03:10:20Z", paranal, 3.158684855, "Polaris", 2.530301, 89.264109, -23.985372, 359.973509},
    {"2021-12-01T03:10:20Z", paranal, 3.158684855, "Arcturus", 14.26102, 19.18241, -76.548296, 111.750521},
    {"2021-12-01T03:10:20Z", paranal, 3.158684855, "Canopus", 6.399195, -52.695661, 44.009531, 140.708717},
};

double arcsecondsBetween(const Horizontal& a, double elevation, double azimuth)
{
    return eraSeps(a.azimuth * ERFA_DD2R, a.elevation * ERFA_DD2R, azimuth * ERFA_DD2R,
                   elevation * ERFA_DD2R) *
           ERFA_DR2AS;
}

} // namespace

TEST(Astronomy, AgreesWithIndependentPositions)
{
    for (const Expected& e : expected) {
        const SkyInstant sky(test::utc(e.utc), e.site);
        const Horizontal h = sky.observed(e.ra, e.dec);
        // Polar motion, absent here, accounts for a few tenths of an arcsecond.
        EXPECT_LT(arcsecondsBetween(h, e.elevation, e.azimuth), 1.5) << e.utc << ' ' << e.star;
        EXPECT_NEAR(sky.localSiderealTime(), e.lastHours, 0.05 / 3600) << e.utc;
    }
}

TEST(Astronomy, FixedLatitudeAndSiderealTimeAgreeWithHereAndNow)
{
    for (const Site& site : {palma, paranal, Site{0, 100, 0}, Site{65, -150, 200}}) {
        const SkyInstant sky(test::utc("2026-12-07T22:00:00Z"), site);
        const double last = sky.localSiderealTime();
        double worst = 0;
        for (double ra = 0.1; ra < 24; ra += 0.7) {
            for (double dec = -89; dec <= 89; dec += 7.3) {
                const Horizontal here = sky.observed(ra, dec);
                const Horizontal fixed = sky.observedAt(ra, dec, site.latitude, last);
                worst = std::max(worst, arcsecondsBetween(fixed, here.elevation, here.azimuth));
            }
        }
        EXPECT_LT(worst, 1.0) << site.latitude;
    }
}

TEST(Astronomy, SeparationOfPositions)
{
    EXPECT_NEAR(separation(0, 0, 6, 0), 90, 1e-9);
    EXPECT_NEAR(separation(1, 89, 13, 89), 2, 1e-9);
    EXPECT_NEAR(separation(23.9, 10, 0.1, 10), 3 * std::cos(10 * ERFA_DD2R), 1e-3);
}

TEST(Astronomy, SunAltitudeAgreesWithIndependentValues)
{
    // Computed once with astropy 5.2.1 (get_sun to AltAz, pressure 0, UT1 = UTC).
    const struct
    {
        const char* utc;
        Site site;
        double altitude;
    } cases[] = {
        {"2026-06-21T12:55:00Z", palma, 83.2702},    {"2026-12-07T19:30:00Z", palma, -16.2733},
        {"2026-12-08T07:10:00Z", palma, -9.3407},    {"2024-04-14T12:30:00Z", {40, -105, 1600}, 0.5252},
        {"2025-03-20T09:00:00Z", paranal, -24.6015}, {"2026-01-01T00:00:00Z", {69.65, 18.96, 10}, -42.1296},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(sunAltitude(test::utc(c.utc), c.site), c.altitude, 0.02) << c.utc;
}

// The context shared by every target of a pass places each one within an arcsecond of ERFA's full
// transform, computed from scratch for that target, over the whole sky and a year of instants; so
// does a context carried to the instant from one built up to half an hour before or after it.
TEST(Astronomy, SharedContextAgreesWithTheFullTransformOverAYear)
{
    const struct
    {
        const char* utc;
        Site site;
    } instants[] = {
        {"2026-01-03T01:00:00Z", palma},          {"2026-02-17T23:40:00Z", paranal},
        {"2026-04-01T04:15:00Z", {40, -105, 1600}}, {"2026-05-21T21:05:00Z", {69.65, 18.96, 10}},
        {"2026-07-09T03:30:00Z", paranal},        {"2026-08-30T22:50:00Z", {-45, 170, 300}},
        {"2026-10-12T18:20:00Z", {0, 100, 0}},    {"2026-12-31T23:59:00Z", palma},
    };
    for (const auto& at : instants) {
        const QDateTime u = test::utc(at.utc);
        const SkyInstant fresh(u, at.site);
        const SkyInstant carriedForward(SkyInstant(u.addSecs(-1800), at.site), u);
        const SkyInstant carriedBack(SkyInstant(u.addSecs(1800), at.site), u);
        double utc1 = 0, utc2 = 0;
        // 1 warns of a year beyond the leap-second table, as SkyInstant accepts it too.
        ASSERT_GE(eraDtf2d("UTC", u.date().year(), u.date().month(), u.date().day(), u.time().hour(),
                           u.time().minute(), u.time().second(), &utc1, &utc2),
                  0);
        double worst = 0;
        for (double ra = 0.05; ra < 24; ra += 1.7) {
            for (double dec = -88; dec <= 88; dec += 11) {
                double aob = 0, zob = 0, hob = 0, dob = 0, rob = 0, eo = 0;
                eraAtco13(ra * ERFA_D2PI / 24, dec * ERFA_DD2R, 0, 0, 0, 0, utc1, utc2, 0,
                          at.site.longitude * ERFA_DD2R, at.site.latitude * ERFA_DD2R, at.site.elevation, 0, 0, 0,
                          0, 0, 0, &aob, &zob, &hob, &dob, &rob, &eo);
                for (const SkyInstant* sky : {&fresh, &carriedForward, &carriedBack})
                    worst = std::max(worst, arcsecondsBetween(sky->observed(ra, dec), 90 - zob * ERFA_DR2D,
                                                              eraAnp(aob) * ERFA_DR2D));
            }
        }
        EXPECT_LT(worst, 0.1) << at.utc;
        // The Sun and the Moon, which move against the stars, from the carried contexts.
        for (const SkyInstant* sky : {&carriedForward, &carriedBack}) {
            const Horizontal sun = fresh.sun();
            EXPECT_LT(arcsecondsBetween(sky->sun(), sun.elevation, sun.azimuth), 0.5) << at.utc;
            if (const auto moon = fresh.moon()) {
                EXPECT_LT(arcsecondsBetween(*sky->moon(), moon->elevation, moon->azimuth), 60) << at.utc;
            }
        }
    }
}

// The shortcut of a pass: the dot product calls a target at or below a limit only when its exact
// place is, and still calls most of those well below; the elevation alone is the place's to the bit.
TEST(Astronomy, SureBelowALimitOnlyWhereTheExactPlaceIs)
{
    const struct
    {
        const char* utc;
        Site site;
    } instants[] = {{"2026-01-03T01:00:00Z", palma},
                    {"2026-05-21T21:05:00Z", {69.65, 18.96, 10}},
                    {"2026-08-30T22:50:00Z", {-45, 170, 300}},
                    {"2026-10-12T18:20:00Z", {0, 100, 0}}};
    for (const auto& at : instants) {
        const SkyInstant base(test::utc(at.utc), at.site);
        const SkyInstant sky(base, test::utc(at.utc).addSecs(1234));
        for (const double limit : {-95.0, -30.0, 0.0, 1.0, 21.0, 60.0, 89.99, 90.0}) {
            int below = 0, sure = 0;
            for (double ra = 0.013; ra < 24; ra += 0.37) {
                for (double dec = -89.9; dec <= 89.9; dec += 1.9) {
                    double unit[3];
                    catalogueUnit(ra, dec, unit);
                    const Horizontal exact = sky.observed(ra, dec);
                    ASSERT_EQ(sky.elevation(unit), exact.elevation) << at.utc;
                    const bool isBelow = exact.elevation <= limit;
                    below += isBelow;
                    if (sky.surelyAtOrBelow(unit, limit)) {
                        ++sure;
                        ASSERT_TRUE(isBelow) << at.utc << " ra " << ra << " dec " << dec << " limit " << limit;
                    }
                }
            }
            // Only those within a few minutes of arc of the limit are left to the exact place.
            EXPECT_GE(sure, below * 0.95) << at.utc << " limit " << limit;
        }
    }
}

// The search kept across a night answers as a fresh search would, to the second it resolves, when
// asked later in the night, after dawn, back in time, or for another limit.
TEST(Astronomy, KeptSearchForTheSunAnswersAsAFreshOne)
{
    const SiteClock clock(test::utc("2026-12-07T20:00:00Z"), 0, QTimeZone::utc());
    SiteSky sky(palma, clock);
    const struct
    {
        const char* from;
        const char* to;
        std::optional<double> limit;
    } asked[] = {
        {"2026-12-07T20:00:00Z", "2026-12-07T20:10:00Z", -12}, {"2026-12-07T23:00:00Z", "2026-12-08T07:30:00Z", -12},
        {"2026-12-08T06:40:00Z", "2026-12-08T06:45:00Z", -12}, {"2026-12-08T06:50:00Z", "2026-12-08T07:10:00Z", -12},
        {"2026-12-08T07:30:00Z", "2026-12-08T07:40:00Z", -12}, {"2026-12-07T20:00:00Z", "2026-12-08T08:00:00Z", -12},
        {"2026-12-07T21:00:00Z", "2026-12-08T08:00:00Z", -6},  {"2026-12-07T21:00:00Z", "2026-12-08T08:00:00Z", {}},
        {"2026-12-08T19:00:00Z", "2026-12-08T19:30:00Z", -6},
    };
    for (const auto& a : asked) {
        const QDateTime from = test::utc(a.from), to = test::utc(a.to);
        const std::optional<QDateTime> kept = sky.firstSunAboveLimit(a.limit, from, to);
        const std::optional<QDateTime> fresh = firstSunAboveLimit(palma, a.limit, from, to);
        ASSERT_EQ(kept.has_value(), fresh.has_value()) << a.from;
        if (kept) {
            EXPECT_LE(std::abs(kept->secsTo(*fresh)), 1) << a.from;
        }
    }
}

#include "report/NightWindow.h"
#include "sky/Astronomy.h"

#include <QTimeZone>
#include <gtest/gtest.h>

#include <cmath>

using namespace kestrove;

namespace {

QDateTime utc(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).toUTC();
}

// The Sun's highest altitude on a day, sampled every two minutes.
double noonAltitude(const Site& site, const char* day)
{
    double best = -90;
    const QDateTime start = utc(day);
    for (int minute = 0; minute < 24 * 60; minute += 2)
        best = std::max(best, sunAltitude(start.addSecs(minute * 60), site));
    return best;
}

// At noon the Sun stands 90 - |latitude - declination| high; at the solstices its declination is
// the obliquity.
TEST(NightSky, TheSunCulminatesWhereItsDeclinationPutsIt)
{
    const struct
    {
        const char* day;
        Site site;
        double expected;
    } cases[] = {
        {"2024-06-20T00:00:00Z", {40, -105, 1600}, 90 - (40 - 23.44)},
        {"2024-12-21T00:00:00Z", {40, -105, 1600}, 90 - (40 + 23.44)},
        {"2024-06-20T00:00:00Z", {-30, 20, 0}, 90 - (30 + 23.44)},
        {"2024-12-21T00:00:00Z", {-30, 20, 0}, 90 - (30 - 23.44)},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(noonAltitude(c.site, c.day), c.expected, 0.05) << c.day << " " << c.site.latitude;
}

// The eclipse of 8 April 2024, total at Dallas around 18:42 UTC: seen from there the Moon covers
// the Sun, which only the Moon's parallax (near a degree) makes true.
TEST(NightSky, TheMoonCoversTheSunInTotality)
{
    if (!haveMoonEphemeris())
        GTEST_SKIP() << "this ERFA has no lunar ephemeris";
    const Site dallas{32.78, -96.80, 140};
    const SkyInstant sky(utc("2024-04-08T18:42:30Z"), dallas);
    const Horizontal sun = sky.sun();
    const Horizontal moon = *sky.moon();
    const double apart =
        std::acos(std::sin(sun.elevation * M_PI / 180) * std::sin(moon.elevation * M_PI / 180) +
                  std::cos(sun.elevation * M_PI / 180) * std::cos(moon.elevation * M_PI / 180) *
                      std::cos((sun.azimuth - moon.azimuth) * M_PI / 180)) *
        180 / M_PI;
    EXPECT_LT(apart, 0.1);
    EXPECT_GT(sun.elevation, 60);
}

TEST(NightSky, TheDarkWindowRunsBetweenTheTwoCrossingsOfMinusTwelve)
{
    const Site palma{28.7606, -17.8816, 2396};
    const QTimeZone canary("Atlantic/Canary");
    const auto window = darkWindow(palma, canary, QDate(2024, 12, 7));
    ASSERT_TRUE(window);
    // Nautical twilight there that evening ends a little after 19:00 and begins a little before 07:00.
    EXPECT_EQ(window->startUtc.toTimeZone(canary).date(), QDate(2024, 12, 7));
    EXPECT_NEAR(window->startUtc.toTimeZone(canary).time().msecsSinceStartOfDay() / 3.6e6, 19.15, 0.25);
    EXPECT_NEAR(window->endUtc.toTimeZone(canary).time().msecsSinceStartOfDay() / 3.6e6, 6.95, 0.25);
    EXPECT_NEAR(sunAltitude(window->startUtc, palma), -12, 0.01);
    EXPECT_NEAR(sunAltitude(window->endUtc, palma), -12, 0.01);
    EXPECT_LT(sunAltitude(window->startUtc.addSecs(3 * 3600), palma), -12);

    // Where the Sun never gets so low there is no dark window; where it never rises, the whole span.
    EXPECT_FALSE(darkWindow({65, 25, 0}, QTimeZone("Europe/Helsinki"), QDate(2024, 6, 20)));
    const auto polarNight = darkWindow({85, 15.6, 0}, QTimeZone("Arctic/Longyearbyen"), QDate(2024, 12, 20));
    ASSERT_TRUE(polarNight);
    EXPECT_EQ(polarNight->startUtc.secsTo(polarNight->endUtc), 24 * 3600);
}

} // namespace

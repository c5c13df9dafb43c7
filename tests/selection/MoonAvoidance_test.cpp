#include "core/SimSurvey.h"
#include "report/NightReasons.h"
#include "text/NumberText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace kestrove::test {
namespace {

constexpr double toRadians = 3.14159265358979323846 / 180;

// The right ascension (hours) and declination (degrees) of a place in the sky now, from its
// elevation and azimuth at the site's latitude and sidereal time.
std::pair<double, double> equatorialOf(double elevation, double azimuth, double latitude, double siderealTime)
{
    const double e = elevation * toRadians, a = azimuth * toRadians, phi = latitude * toRadians;
    const double dec = std::asin(std::sin(e) * std::sin(phi) + std::cos(e) * std::cos(phi) * std::cos(a));
    const double hourAngle = std::atan2(
        -std::sin(a) * std::cos(e), std::cos(phi) * std::sin(e) - std::sin(phi) * std::cos(e) * std::cos(a));
    const double ra = std::fmod(siderealTime - hourAngle / toRadians / 15 + 48, 24);
    return {ra, dec / toRadians};
}

// With [limits] moonSeparation, a target closer to the Moon than that is turned down while the Moon
// is up, and the log and the night's reasons say so; without it, nothing changes.
TEST(MoonAvoidance, ATargetNearTheRisenMoonIsTurnedDown)
{
    const QString moonUp = QStringLiteral("2024-04-15T03:00:00Z");   // 21:00 local, Moon at first quarter
    const QString moonDown = QStringLiteral("2024-04-14T09:10:00Z"); // 03:10 local, the Moon has set
    struct Case
    {
        const char* name;
        QString clock;
        std::optional<double> limit;
        double fromMoon; // degrees south of the Moon; none: on the meridian at declination 20
        bool turnedDown;
    };
    const double onMeridian = -1;
    const Case cases[] = {
        {"no limit", moonUp, std::nullopt, 0, false},
        {"at the Moon", moonUp, 10, 0, true},
        {"30 degrees away", moonUp, 10, 30, false},
        {"limit of the whole sky", moonUp, 180, onMeridian, true},
        {"the Moon has set", moonDown, 180, onMeridian, false},
    };
    for (const Case& c : cases) {
        SimSurvey sim([&](ObservatorySettings& s) {
            s.clockStart = c.clock;
            s.moonSeparation = c.limit;
        });
        double moonElevation = 0, moonAzimuth = 0;
        ASSERT_TRUE(sim.core->acpUtil->moonPlace(moonElevation, moonAzimuth)) << "no lunar ephemeris";
        ASSERT_EQ(moonElevation > 20, c.clock == moonUp) << moonElevation;
        QString position = sim.onMeridian(20);
        if (c.fromMoon >= 0) {
            const auto [ra, dec] = equatorialOf(moonElevation, moonAzimuth, 40, sim.siderealTime());
            position = doubleText(ra) + u'\t' + doubleText(dec - c.fromMoon);
        }
        sim.writeProgramFile(QStringLiteral("SNeTargets.txt"),
                             {QStringLiteral("SN2024abc\t") + position, QStringLiteral("**** ")});
        sim.enable(SurveyKind::SNe);
        NightReasons reasons;
        sim.core->observer = &reasons;

        sim.run(1);

        ASSERT_EQ(reasons.targets().size(), 1) << c.name;
        EXPECT_EQ(reasons.targets()[0].count(Outcome::Moon), c.turnedDown ? 1 : 0) << c.name;
        EXPECT_EQ(reasons.targets()[0].count(Outcome::Chosen), c.turnedDown ? 0 : 1) << c.name;
        const QStringList skipped = sim.logLines().filter(QStringLiteral("  Skipping SN2024abc - "));
        EXPECT_EQ(skipped.size(), c.turnedDown ? 1 : 0) << c.name;
        if (!skipped.isEmpty()) {
            EXPECT_TRUE(skipped[0].endsWith(QStringLiteral(" deg from the Moon")))
                << skipped[0].toStdString();
        }
    }
}

} // namespace
} // namespace kestrove::test

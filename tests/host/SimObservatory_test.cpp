#include "support/TestSite.h"
#include "support/TestSupport.h"

#include "host/FileSystem.h"
#include "sky/Astronomy.h"
#include "text/HostError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <erfa.h>
#include <gtest/gtest.h>

#include <chrono>

using namespace kestrove;
using namespace kestrove::sim;

TEST(SiteClock, VirtualTimeMovesOnlyWhenToldAndDoesNotSleep)
{
    const QTimeZone canary("Atlantic/Canary");
    SiteClock clock(test::utc("2022-07-01T22:30:00Z"), 0, canary);
    int advances = 0;
    clock.setOnAdvance([&] { ++advances; });
    EXPECT_EQ(clock.utcNow(), test::utc("2022-07-01T22:30:00Z"));
    EXPECT_EQ(clock.localNow().time(), QTime(23, 30)); // summer time, UTC+1
    EXPECT_EQ(clock.localNow().date(), QDate(2022, 7, 1));

    const auto wallStart = std::chrono::steady_clock::now();
    for (int i = 0; i < 12; ++i)
        clock.sleepSeconds(3600);
    EXPECT_LT(std::chrono::steady_clock::now() - wallStart, std::chrono::seconds(2));
    EXPECT_EQ(clock.utcNow(), test::utc("2022-07-02T10:30:00Z"));
    EXPECT_EQ(advances, 12);

    clock.advanceSeconds(0.5);
    clock.advanceSeconds(0.5);
    EXPECT_EQ(clock.utcNow(), test::utc("2022-07-02T10:30:01Z"));
    clock.setUtc(test::utc("2026-01-01T00:00:00Z"));
    EXPECT_EQ(clock.utcNow(), test::utc("2026-01-01T00:00:00Z"));
    EXPECT_EQ(advances, 15);
}

TEST(SiteClock, AcceleratedTimeRunsFromItsStart)
{
    const QDateTime start = test::utc("2022-07-01T22:30:00Z");
    SiteClock clock(start, 10000, QTimeZone::utc());
    int advances = 0;
    clock.setOnAdvance([&] { ++advances; });
    clock.sleepSeconds(5); // half a millisecond of wall time
    EXPECT_GE(clock.utcNow(), start.addSecs(5));
    EXPECT_EQ(advances, 1);
    const QDateTime before = clock.utcNow();
    clock.advanceSeconds(3600);
    EXPECT_GE(clock.utcNow(), before.addSecs(3600));
}

TEST(SiteClock, WaitsDispatchEventsWhenAnEventLoopExists)
{
    int argc = 1;
    char name[] = "kestrove_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    for (double speed : {0.0, 1000.0}) {
        SiteClock clock(test::utc("2022-07-01T22:30:00Z"), speed, QTimeZone::utc());
        bool dispatched = false;
        QTimer::singleShot(0, &app, [&] { dispatched = true; });
        clock.sleepSeconds(1);
        EXPECT_TRUE(dispatched) << speed;
        EXPECT_GE(clock.utcNow(), test::utc("2022-07-01T22:30:01Z")) << speed;
    }
}

TEST(SiteClock, InvalidStartMeansNow)
{
    SiteClock clock(QDateTime(), 0, QTimeZone::utc());
    EXPECT_LT(std::abs(clock.utcNow().secsTo(QDateTime::currentDateTimeUtc())), 5);
}

class SimObjectsTest : public ::testing::Test
{
protected:
    SimObjectsTest() : observatory(dir.path(), settings()) {}

    ObservatorySettings settings()
    {
        ObservatorySettings s = test::fixedSite(dir.path());
        s.mountRightAscension = 3.5;
        s.mountDeclination = 20;
        s.settleTime = 12;
        s.tiltUpLimit = 80;
        s.minimumElevation = 8;
        s.horizon = {QPointF(0, 10), QPointF(90, 20)};
        s.weatherConnected = true;
        s.unsafe = {{test::utc("2022-03-15T23:00:00Z"), test::utc("2022-03-15T23:30:00Z")}};
        return s;
    }

    QTemporaryDir dir;
    SimObservatory observatory;
};

TEST_F(SimObjectsTest, TelescopeAndPrefs)
{
    auto telescope = observatory.createTelescope();
    auto util = observatory.createUtil();
    EXPECT_EQ(telescope->RightAscension(), 3.5);
    EXPECT_EQ(telescope->Declination(), 20);
    observatory.pointMount(10.25, -5);
    EXPECT_EQ(telescope->RightAscension(), 10.25);
    EXPECT_EQ(telescope->Declination(), -5);
    EXPECT_EQ(telescope->AlignmentMode(), 2);
    EXPECT_EQ(telescope->SiteLatitude(), 28.7606);
    EXPECT_NEAR(telescope->SiderealTime(), 8.874753752, 0.05 / 3600);

    EXPECT_EQ(util->Prefs().TiltUpLimit(), 80);
    EXPECT_EQ(util->Prefs().MinimumElevation(), 8);
    EXPECT_EQ(util->Prefs().SlewsettleTime(), 12);
    EXPECT_NEAR(util->Prefs().GetHorizon(45), 15, 1e-9);
    EXPECT_NEAR(util->Prefs().GetHorizon(225), 15, 1e-9);
    EXPECT_EQ(util->FormatVar(observatory.clock().localNow(), QStringLiteral("General Date")),
              QStringLiteral("3/15/2022 10:30:00 PM"));
}

TEST_F(SimObjectsTest, WeatherFollowsTheClock)
{
    auto util = observatory.createUtil();
    EXPECT_TRUE(util->WeatherConnected());
    EXPECT_TRUE(util->Weather().Safe());
    observatory.simClock().advanceSeconds(30 * 60);
    EXPECT_FALSE(util->Weather().Safe());
    observatory.simClock().advanceSeconds(30 * 60 - 1);
    EXPECT_FALSE(util->Weather().Safe());
    observatory.simClock().advanceSeconds(1);
    EXPECT_TRUE(util->Weather().Safe());
}

TEST_F(SimObjectsTest, TransformsMatchTheSkyAndEachOther)
{
    auto util = observatory.createUtil();
    auto telescope = observatory.createTelescope();
    auto here = util->NewCTHereAndNow();
    here->setRightAscension(6.752477);
    here->setDeclination(-16.716116);
    EXPECT_NEAR(here->Elevation(), 35.204504, 1.0 / 3600);
    EXPECT_NEAR(here->Azimuth(), 217.870044, 1.0 / 3600);
    EXPECT_EQ(here->RightAscension(), 6.752477);

    const double lat = telescope->SiteLatitude();
    const double st = telescope->SiderealTime();
    auto fixed = util->NewCT(lat, st);
    auto wrapped = util->NewCT(lat, st + 24);
    auto below = util->NewCT(lat, st - 48);
    for (double ra = 0.05; ra < 24; ra += 0.5) {
        for (double dec = -85; dec <= 88; dec += 6.5) {
            for (CoordTransform* ct : {here.get(), fixed.get(), wrapped.get(), below.get()}) {
                ct->setRightAscension(ra);
                ct->setDeclination(dec);
            }
            const double el = here->Elevation();
            const double az = here->Azimuth();
            for (CoordTransform* ct : {fixed.get(), wrapped.get(), below.get()}) {
                const double sep = eraSeps(az * ERFA_DD2R, el * ERFA_DD2R, ct->Azimuth() * ERFA_DD2R,
                                           ct->Elevation() * ERFA_DD2R) *
                                   ERFA_DR2AS;
                EXPECT_LT(sep, 1.0) << ra << ' ' << dec;
            }
        }
    }
}

TEST_F(SimObjectsTest, SiderealTimeCarriedForwardMatchesAFreshOne)
{
    auto util = observatory.createUtil();
    auto telescope = observatory.createTelescope();
    telescope->SiderealTime();
    for (double step : {0.5, 10.0, 45.0, 59.0, 61.0, 3600.0}) {
        observatory.simClock().advanceSeconds(step);
        const SkyInstant fresh(observatory.clock().utcNow(), {28.7606, -17.8816, 2396});
        EXPECT_NEAR(telescope->SiderealTime(), fresh.localSiderealTime(), 0.001 / 3600) << step;
        auto here = util->NewCTHereAndNow();
        auto fixed = util->NewCT(telescope->SiteLatitude(), telescope->SiderealTime());
        for (CoordTransform* ct : {here.get(), fixed.get()}) {
            ct->setRightAscension(2.25);
            ct->setDeclination(41.5);
        }
        EXPECT_NEAR(fixed->Elevation(), here->Elevation(), 1.0 / 3600) << step;
        EXPECT_NEAR(fixed->Azimuth(), here->Azimuth(), 1.0 / 3600) << step;
    }
}

TEST_F(SimObjectsTest, GermanMountSideFollowsTheHourAngle)
{
    auto util = observatory.createUtil();
    const double last = observatory.createTelescope()->SiderealTime();
    const struct
    {
        double hourAngle;
        bool west;
    } cases[] = {{-1, true},    {-11.9, true}, {-0.01, true}, {0.01, false}, {1, false},
                 {11.9, false}, {13, true},    {-13, false},  {23, true}};
    for (const auto& c : cases) {
        double ra = std::fmod(last - c.hourAngle + 48, 24);
        EXPECT_EQ(util->IsGEMDestinationWest(ra), c.west) << c.hourAngle;
    }
}

TEST_F(SimObjectsTest, LoadScriptNeedsAnExistingFile)
{
    auto util = observatory.createUtil();
    const QString missing = dir.filePath(QStringLiteral("Scripts/Nothing.js"));
    try {
        util->LoadScript(missing);
        FAIL() << "no error";
    } catch (const HostError& e) {
        EXPECT_TRUE(e.message().contains(missing));
    }
    EXPECT_NO_THROW(util->LoadScript(observatory.createApplication()->Path() +
                                     QStringLiteral("/Scripts/AcquireImages.js")));
    EXPECT_NO_THROW(util->LoadScript(observatory.createApplication()->Path() +
                                     QStringLiteral("/Scripts/AcquireImages.js")));
}

TEST_F(SimObjectsTest, FileSystemIsTheLocalDisk)
{
    auto fs = observatory.createFileSystem();
    const QString script =
        observatory.createApplication()->Path() + QStringLiteral("/Scripts/AcquireImages.js");
    EXPECT_TRUE(fs->FileExists(script));
    EXPECT_FALSE(fs->FileExists(observatory.folder()));
}

TEST(SimObservatory, ObjectsOutliveTheObservatory)
{
    QTemporaryDir dir;
    std::unique_ptr<AcpTelescope> telescope;
    {
        SimObservatory observatory(dir.path(), test::fixedSite(dir.path()));
        telescope = observatory.createTelescope();
    }
    EXPECT_EQ(telescope->SiteLatitude(), 28.7606);
}

// While the Sun stands above the limit the host reports a connected weather source that is not
// safe; at night only a real weather source counts.
TEST(SimObservatory, SunAboveTheLimitMakesTheWeatherUnsafe)
{
    const std::optional<double> none;
    const struct
    {
        const char* utc; // the Sun at La Palma: 19:30 -16.3 degrees, 07:10 -9.3 degrees
        std::optional<double> limit;
        bool device;
        bool deviceUnsafe;
        bool connected;
        bool safe;
    } cases[] = {
        {"2026-12-07T19:30:00Z", -12.0, false, false, false, true},
        {"2026-12-08T07:10:00Z", -12.0, false, false, true, false},
        {"2026-12-08T07:10:00Z", none, false, false, false, true},
        {"2026-12-08T07:10:00Z", -8.0, false, false, false, true},
        {"2026-12-08T07:10:00Z", -12.0, true, false, true, false},
        {"2026-12-07T19:30:00Z", -12.0, true, true, true, false},
        {"2026-12-07T19:30:00Z", -12.0, true, false, true, true},
        {"2026-12-07T19:30:00Z", -17.0, true, false, true, false},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        ObservatorySettings s = test::fixedSite(dir.path(), QString::fromLatin1(c.utc));
        s.sunAltitude = c.limit;
        s.weatherConnected = c.device;
        if (c.deviceUnsafe)
            s.unsafe = {{test::utc(c.utc).addSecs(-60), test::utc(c.utc).addSecs(60)}};
        SimObservatory observatory(dir.path(), s);
        auto util = observatory.createUtil();
        EXPECT_EQ(util->WeatherConnected(), c.connected) << c.utc << ' ' << c.limit.value_or(99);
        if (c.connected) {
            EXPECT_EQ(util->Weather().Safe(), c.safe) << c.utc << ' ' << c.limit.value_or(99);
        }
    }
}

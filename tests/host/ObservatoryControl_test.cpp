#include "host/ObservatoryControl.h"
#include "host/SkyUtil.h"
#include "sky/SiteClock.h"
#include "support/TestSite.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

using namespace kestrove;

namespace {

// Devices that take a set time for each motion, or never finish (a negative time), and remember
// every command with the second it came at.
class FakeDevices : public ObservatoryDevices
{
public:
    explicit FakeDevices(const SiteClock& clock) : m_clock(clock) {}

    bool has(Motion) const override { return true; }
    QString deviceText(Motion motion) const override { return names.at(motion); }
    void command(Motion motion) override
    {
        commands.push_back({motion, now()});
        if (!started.count(motion))
            started[motion] = now();
    }
    MotionProgress progress(Motion motion) override
    {
        const double seconds = durations.count(motion) ? durations.at(motion) : 0;
        if (seconds < 0 || !started.count(motion) || now() - started.at(motion) < seconds)
            return MotionProgress::moving();
        started.erase(motion);
        return MotionProgress::done();
    }
    void stopImaging(const QString& why) override { stops.push_back(why); }
    bool weatherSafe() override { return safe; }
    void log(const QStringList&) override {}
    QString shutFromOutside() override { return outside; }
    QStringList takeEvents() override { return std::exchange(news, QStringList()); }
    bool skyFlatsWanted() override { return flatsWanted; }

    qint64 now() const { return m_clock.utcNow().toSecsSinceEpoch(); }
    std::vector<Motion> commanded() const
    {
        std::vector<Motion> motions;
        for (const auto& c : commands)
            motions.push_back(c.first);
        return motions;
    }

    std::map<Motion, QString> names{
        {Motion::ParkMount, "mount \"M\""},   {Motion::UnparkMount, "mount \"M\""},
        {Motion::OpenRoof, "roof \"R\""},     {Motion::CloseRoof, "roof \"R\""},
        {Motion::CoolCamera, "camera \"C\""}, {Motion::WarmCamera, "camera \"C\""},
        {Motion::Calibrate, "camera \"C\""},  {Motion::SkyFlats, "camera \"C\""}};
    std::map<Motion, double> durations;
    std::map<Motion, qint64> started;
    std::vector<std::pair<Motion, qint64>> commands;
    std::vector<QString> stops;
    bool safe = true;
    bool flatsWanted = true;
    QString outside;
    QStringList news; // what the motion under way has to tell

private:
    const SiteClock& m_clock;
};

// A controller at La Palma on a virtual clock, stepped a second at a time.
struct Observatory
{
    explicit Observatory(const char* startUtc = "2022-03-15T22:30:00Z", SafetySettings safety = {},
                         std::optional<double> sunLimit = -12.0)
        : clock(test::utc(startUtc), 0, QTimeZone("Atlantic/Canary")),
          sky(Site{28.7606, -17.8816, 2396}, clock), devices(clock),
          control(devices, sky, clock, QTimeZone("Atlantic/Canary"), sunLimit, safety)
    {
        control.onEvent = [this](const QString& e) { events << e; };
    }
    // Steps `seconds` of the clock, letting `weather(second)` decide the weather of each.
    void step(int seconds, const std::function<bool(int)>& weather = {})
    {
        for (int s = 0; s < seconds; ++s) {
            if (weather)
                devices.safe = weather(s);
            control.update();
            clock.advanceSeconds(1);
        }
        control.update();
    }

    SiteClock clock;
    SiteSky sky;
    FakeDevices devices;
    ObservatoryControl control;
    QStringList events;
};

const std::vector<Motion> kOpening{Motion::OpenRoof, Motion::UnparkMount, Motion::CoolCamera};

} // namespace

TEST(ObservatoryControl, OpensAtNightAndClosesMountFirstOnlyWhenTheWeatherStaysUnsafe)
{
    const struct
    {
        const char* name;
        int unsafeSeconds; // rain from second 100 on, for this long
        bool closes;
    } cases[] = {
        {"a shower shorter than the close delay", 8, false},
        {"rain that lasts", 60, true},
    };
    for (const auto& c : cases) {
        SafetySettings safety;
        safety.closeDelay = 10;
        safety.reopenDelay = 300;
        Observatory o("2022-03-15T22:30:00Z", safety);
        o.devices.durations = {{Motion::OpenRoof, 10}, {Motion::ParkMount, 20}, {Motion::CloseRoof, 10}};
        o.control.runStarted();
        o.step(30);
        ASSERT_TRUE(o.control.ready()) << c.name;
        EXPECT_EQ(o.devices.commanded(), kOpening) << c.name;

        const int rainEnd = 70 + c.unsafeSeconds;
        o.step(1000, [&](int s) { return s < 70 || s >= rainEnd; });
        if (!c.closes) {
            EXPECT_EQ(o.devices.commanded().size(), kOpening.size()) << c.name;
            EXPECT_TRUE(o.control.ready()) << c.name;
            continue;
        }
        // Parked before the roof moves, the camera left cold for the reopening, then opened again
        // once it had been safe for the reopening delay.
        const std::vector<Motion> expected{Motion::OpenRoof,    Motion::UnparkMount, Motion::CoolCamera,
                                           Motion::ParkMount,   Motion::CloseRoof,   Motion::OpenRoof,
                                           Motion::UnparkMount, Motion::CoolCamera};
        EXPECT_EQ(o.devices.commanded(), expected) << c.name;
        const auto when = [&](size_t i) {
            return o.devices.commands[i].second - o.devices.commands[0].second;
        };
        EXPECT_EQ(when(3), 30 + 70 + 10) << "closing starts when the rain has lasted the close delay";
        EXPECT_EQ(when(4), when(3) + 20) << "the roof moves once the mount is parked";
        EXPECT_GE(when(5), 30 + rainEnd - 1 + 300) << "reopening waits for the reopening delay";
        EXPECT_TRUE(o.events.contains(QStringLiteral("Closing: weather unsafe")));
        EXPECT_TRUE(
            o.events.contains(QStringLiteral("Closed: weather unsafe; reopens 5 min after it turns safe")))
            << qPrintable(o.events.join(u'|'));
        EXPECT_TRUE(o.control.ready());
    }
}

TEST(ObservatoryControl, ShutsDownWarmAtDawnAndAtTheEndOfARun)
{
    const struct
    {
        const char* name;
        const char* start;
        bool endRun;
        const char* why;
    } cases[] = {
        {"dawn", "2022-03-16T06:15:00Z", false, "Closing: Sun above -12°"},
        {"end of the run", "2022-03-15T22:30:00Z", true, "Closing: run ended"},
    };
    for (const auto& c : cases) {
        Observatory o("2022-03-15T22:30:00Z");
        o.clock.setUtc(test::utc(c.start));
        o.control.runStarted();
        o.step(5);
        ASSERT_TRUE(o.control.ready()) << c.name;
        o.devices.durations = {{Motion::Calibrate, 30}};
        o.devices.news = {QStringLiteral("Master dark 60 s bin 2")};
        if (c.endRun)
            o.control.runEnded();
        o.step(1200);
        // Calibrated in the dark with the roof shut, before the camera warms.
        const std::vector<Motion> expected{Motion::OpenRoof,  Motion::UnparkMount, Motion::CoolCamera,
                                           Motion::ParkMount, Motion::CloseRoof,   Motion::Calibrate,
                                           Motion::WarmCamera};
        EXPECT_EQ(o.devices.commanded(), expected) << c.name;
        EXPECT_TRUE(o.events.contains(QStringLiteral("Master dark 60 s bin 2"))) << c.name;
        EXPECT_TRUE(o.events.contains(QString::fromUtf8(c.why))) << c.name << qPrintable(o.events.join(u'|'));
        EXPECT_EQ(o.control.state(), ObservatoryState::Closed) << c.name;
        EXPECT_FALSE(o.control.holdsSurvey() && c.endRun) << c.name;
    }
}

// With sky flats the roof opens in evening twilight once the Sun enters their window and stays open
// into the dark; at dawn it stays open past the Sun limit until the Sun reaches the window, and
// the flats come before the mount parks. Nothing due: the twilight passes with the roof shut.
TEST(ObservatoryControl, SkyFlatsTakeTheTwilightOnEitherSideOfTheDark)
{
    const struct
    {
        const char* name;
        const char* start;
        int seconds;
        bool wanted;
        std::vector<Motion> expected;
    } cases[] = {
        // The run starts in daylight: the devices are first brought to the closed state.
        {"dusk",
         "2022-03-15T19:10:00Z",
         4200,
         true,
         {Motion::ParkMount, Motion::CloseRoof, Motion::Calibrate, Motion::WarmCamera, Motion::OpenRoof,
          Motion::UnparkMount, Motion::CoolCamera, Motion::SkyFlats}},
        {"dusk, nothing due",
         "2022-03-15T19:10:00Z",
         4200,
         false,
         {Motion::ParkMount, Motion::CloseRoof, Motion::Calibrate, Motion::WarmCamera, Motion::OpenRoof,
          Motion::UnparkMount, Motion::CoolCamera}},
        {"dawn",
         "2022-03-16T06:00:00Z",
         4200,
         true,
         {Motion::OpenRoof, Motion::UnparkMount, Motion::CoolCamera, Motion::SkyFlats, Motion::ParkMount,
          Motion::CloseRoof, Motion::Calibrate, Motion::WarmCamera}},
        {"dawn, nothing due",
         "2022-03-16T06:00:00Z",
         4200,
         false,
         {Motion::OpenRoof, Motion::UnparkMount, Motion::CoolCamera, Motion::ParkMount, Motion::CloseRoof,
          Motion::Calibrate, Motion::WarmCamera}},
    };
    for (const auto& c : cases) {
        Observatory o;
        o.clock.setUtc(test::utc(c.start));
        o.control.setSkyFlats(SkyFlatWindow{-10, -2});
        o.devices.flatsWanted = c.wanted;
        o.devices.durations = {{Motion::SkyFlats, 600}};
        o.control.runStarted();
        o.step(c.seconds);
        EXPECT_EQ(o.devices.commanded(), c.expected) << c.name << qPrintable(o.events.join(u'|'));
        const auto sunAt = [&](qint64 at) {
            return sunAltitude(QDateTime::fromSecsSinceEpoch(at, QTimeZone::utc()), o.sky.site());
        };
        for (const auto& [motion, at] : o.devices.commands)
            if (motion == Motion::SkyFlats) {
                EXPECT_GE(sunAt(at), -10.01) << c.name;
                EXPECT_LE(sunAt(at), -2) << c.name;
            }
        // Without flats the roof's last move comes at the Sun limit.
        if (!c.wanted) {
            const auto last =
                std::find_if(o.devices.commands.rbegin(), o.devices.commands.rend(), [](auto& m) {
                    return m.first == Motion::OpenRoof || m.first == Motion::CloseRoof;
                });
            ASSERT_NE(last, o.devices.commands.rend()) << c.name;
            EXPECT_NEAR(sunAt(last->second), -12, 0.1) << c.name;
        }
        // At dusk the roof stays open into the dark: the plans wait for the Sun limit only.
        if (QByteArray(c.name).startsWith("dusk")) {
            EXPECT_TRUE(o.control.ready()) << c.name;
        }
    }
}

// In the flats' window with the roof open (no Sun limit), the run's end takes them before the
// mount parks; the observer's close shuts at once.
TEST(ObservatoryControl, TheObserversCloseTakesNoSkyFlats)
{
    for (const bool observer : {false, true}) {
        Observatory o("2022-03-16T06:45:00Z", {}, std::nullopt);
        o.control.setSkyFlats(SkyFlatWindow{-10, -2});
        o.control.runStarted();
        o.step(5);
        ASSERT_TRUE(o.control.ready());
        if (observer)
            o.control.closeNow(QStringLiteral("closed by the observer"));
        else
            o.control.runEnded();
        o.step(5);
        std::vector<Motion> expected = kOpening;
        if (!observer)
            expected.push_back(Motion::SkyFlats);
        for (Motion motion : {Motion::ParkMount, Motion::CloseRoof, Motion::Calibrate, Motion::WarmCamera})
            expected.push_back(motion);
        EXPECT_EQ(o.devices.commanded(), expected) << (observer ? "observer" : "run ended");
    }
}

TEST(ObservatoryControl, AStuckMotionIsWatchedNotResentAndFailsAfterBoundedRetries)
{
    const struct
    {
        Motion stuck;
        int commands; // of the stuck motion
        const char* fault;
        bool roofClosed;
    } cases[] = {
        {Motion::ParkMount, 3, "mount \"M\" did not park within 120 s (3 tries)", false},
        {Motion::CloseRoof, 3, "roof \"R\" did not close within 180 s (3 tries)", false},
    };
    for (const auto& c : cases) {
        Observatory o;
        o.control.runStarted();
        o.step(5);
        o.devices.durations[c.stuck] = -1;
        o.step(600, [](int) { return false; });

        std::vector<qint64> at;
        for (const auto& [motion, second] : o.devices.commands)
            if (motion == c.stuck)
                at.push_back(second);
        ASSERT_EQ(static_cast<int>(at.size()), c.commands) << o.devices.names[c.stuck].toStdString();
        // Commanded once per try: a device still moving is only watched until the limit.
        const double limit = ObservatoryControl::limitOf(c.stuck).seconds;
        for (size_t i = 1; i < at.size(); ++i)
            EXPECT_GE(at[i] - at[i - 1], limit);
        EXPECT_TRUE(o.control.fault().startsWith(QString::fromUtf8(c.fault)))
            << qPrintable(o.control.fault());
        EXPECT_TRUE(std::any_of(o.events.begin(), o.events.end(), [](const QString& e) {
            return e.startsWith(QStringLiteral("Closing failed: "));
        }));
        if (c.stuck == Motion::ParkMount) {
            const std::vector<Motion> commanded = o.devices.commanded();
            const auto closes = std::count(commanded.begin(), commanded.end(), Motion::CloseRoof);
            EXPECT_EQ(closes, 0) << "a roof never closes on a telescope that did not park";
        }
        EXPECT_FALSE(o.control.ready());
        EXPECT_FALSE(o.control.waitReason().isEmpty());
    }
}

TEST(ObservatoryControl, AnObserversCloseStopsThePlanAndHoldsUntilTheNextRun)
{
    const struct
    {
        const char* how;
        const char* why;
    } cases[] = {
        {"the Close Observatory button", "closed by the observer"},
        {"a roof shut by another program", "found shut from outside (roof \"R\" parked)"},
    };
    for (const auto& c : cases) {
        Observatory o;
        o.control.runStarted();
        o.step(5);
        if (QByteArray(c.how).startsWith("the Close"))
            o.control.closeNow(QStringLiteral("closed by the observer"));
        else
            o.devices.outside = QStringLiteral("roof \"R\" parked");
        o.step(600);
        o.devices.outside.clear();
        EXPECT_EQ(o.devices.stops, std::vector<QString>{QString::fromUtf8(c.why)}) << c.how;
        EXPECT_EQ(o.control.state(), ObservatoryState::Closed) << c.how;
        EXPECT_EQ(o.devices.commanded().back(), Motion::WarmCamera) << c.how;
        const size_t commands = o.devices.commands.size();
        o.step(600);
        EXPECT_EQ(o.devices.commands.size(), commands) << c.how << ": nothing opens it again by itself";
        o.control.runStarted();
        o.step(5);
        EXPECT_TRUE(o.control.ready()) << c.how;
    }
}

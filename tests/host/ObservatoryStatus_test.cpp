#include "support/FakeHost.h"
#include "support/TestSite.h"

#include "host/ObservatoryStatus.h"
#include "sky/Astronomy.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace kestrove;

namespace {

// The instant a "dark enough at HH:mm" in the site's zone names, on the day of `around` or after it.
QDateTime darkInstant(const QString& text, const QDateTime& around, const QTimeZone& zone)
{
    const qsizetype at = text.indexOf(QStringLiteral("dark enough at "));
    if (at < 0)
        return {};
    const QTime time = QTime::fromString(text.mid(at + 15, 5), QStringLiteral("HH:mm"));
    QDateTime local(around.toTimeZone(zone).date(), time, zone);
    if (local < around)
        local = local.addDays(1);
    return local.toUTC();
}

} // namespace

TEST(ObservatoryStatus, SaysWhichObservatoryWhereAndWhenByTheHostsClock)
{
    QTemporaryDir folder;
    sim::SimObservatory host(folder.path(), test::fixedSite(folder.path(), "2022-03-15T22:30:00Z"));
    ObservatoryStatus status(host);
    const QStringList lines = status.text().split(u'\n');
    ASSERT_EQ(lines.size(), 3) << status.text().toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Simulated observatory, site 28.7606\u00b0 N, 17.8816\u00b0 W, "
                                       "local time 2022-03-15 22:30:00"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("No weather source, Sun -"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(", dark enough"))) << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("Roof and devices: Closed"));

    // The clock moves, and so does the time shown (summer time in July).
    host.simClock().setUtc(test::utc("2022-07-01T22:30:05Z"));
    EXPECT_TRUE(status.text().contains(QStringLiteral("local time 2022-07-01 23:30:05")));
}

TEST(ObservatoryStatus, ShowsTheWeatherSourcesVerdict)
{
    struct Case
    {
        const char* name;
        bool connected;
        const char* utc;
        const char* expected;
    };
    const Case cases[] = {
        {"no source", false, "2022-03-15T23:30:00Z", "No weather source"},
        {"safe", true, "2022-03-15T22:30:00Z", "Weather safe"},
        {"unsafe", true, "2022-03-15T23:30:00Z", "Weather unsafe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir folder;
        ObservatorySettings settings = test::fixedSite(folder.path(), QString::fromLatin1(c.utc));
        settings.weatherConnected = c.connected;
        settings.unsafe = {{test::utc("2022-03-15T23:00:00Z"), test::utc("2022-03-16T00:00:00Z")}};
        sim::SimObservatory host(folder.path(), settings);
        ObservatoryStatus status(host);
        EXPECT_TRUE(status.text().split(u'\n').value(1).startsWith(QString::fromLatin1(c.expected)))
            << status.text().toStdString();
    }
}

// In daylight the next dark instant is named; it is the instant the Sun goes below the limit, and
// it follows the clock to another day.
TEST(ObservatoryStatus, InDaylightSaysWhenItIsNextDarkEnough)
{
    QTemporaryDir folder;
    const ObservatorySettings settings = test::fixedSite(folder.path(), "2022-03-15T12:00:00Z");
    sim::SimObservatory host(folder.path(), settings);
    const Site site{settings.latitude, settings.longitude, settings.elevation};
    const QTimeZone zone(settings.timeZone.toUtf8());
    ObservatoryStatus status(host);

    for (const char* noon : {"2022-03-15T12:00:00Z", "2022-06-21T13:00:00Z", "2022-03-15T16:00:00Z"}) {
        SCOPED_TRACE(noon);
        host.simClock().setUtc(test::utc(noon));
        const QString line = status.text().split(u'\n').value(1);
        EXPECT_TRUE(line.contains(QStringLiteral("above the limit of -12\u00b0"))) << line.toStdString();
        const QDateTime dark = darkInstant(line, test::utc(noon), zone);
        ASSERT_TRUE(dark.isValid()) << line.toStdString();
        // The minute shown holds the crossing.
        EXPECT_GT(sunAltitude(dark, site), -12.0);
        EXPECT_LT(sunAltitude(dark.addSecs(60), site), -12.0);
    }

    // Past that instant it is dark enough, and nothing is named.
    host.simClock().setUtc(test::utc("2022-03-15T23:00:00Z"));
    EXPECT_FALSE(status.text().contains(QStringLiteral("dark enough at")));
}

TEST(ObservatoryStatus, AHostWithoutSettingsShowsItsClockAlone)
{
    test::FakeHost host;
    ObservatoryStatus status(host);
    EXPECT_EQ(status.text(), QStringLiteral("Observatory, local time ") +
                                 host.clock().localNow().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                                 QStringLiteral("\nNo weather source"));
}

TEST(ObservatoryStatus, SiteTextNamesTheHemispheres)
{
    EXPECT_EQ(siteText(-33.5, 151.25), QStringLiteral("33.5000\u00b0 S, 151.2500\u00b0 E"));
    EXPECT_EQ(siteText(0, -0.1), QStringLiteral("0.0000\u00b0 N, 0.1000\u00b0 W"));
}

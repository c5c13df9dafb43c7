#include "support/TestSite.h"

#include "text/ValueText.h"

#include <gtest/gtest.h>

using namespace kestrove;

TEST(ConfigValues, HorizonIsPiecewiseLinearAndWrapsAtNorth)
{
    const auto horizon = parseHorizon(QStringLiteral("90:20 0:10  180:0 270:30"));
    ASSERT_TRUE(horizon);
    const struct
    {
        double azimuth;
        double elevation;
    } cases[] = {
        {0, 10},   {45, 15},  {90, 20},
        {135, 10}, {180, 0},  {225, 15},
        {270, 30}, {315, 20}, {359, 10 + 20.0 / 90},
        {360, 10}, {-45, 20}, {405, 15},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(horizonElevation(*horizon, c.azimuth), c.elevation, 1e-9) << c.azimuth;

    // Points that do not include north: the segment from the last point crosses 360.
    const auto offset = parseHorizon(QStringLiteral("30:10 300:40"));
    ASSERT_TRUE(offset);
    EXPECT_NEAR(horizonElevation(*offset, 300), 40, 1e-9);
    EXPECT_NEAR(horizonElevation(*offset, 345), 25, 1e-9);
    EXPECT_NEAR(horizonElevation(*offset, 0), 20, 1e-9);
    EXPECT_NEAR(horizonElevation(*offset, 30), 10, 1e-9);
    EXPECT_NEAR(horizonElevation(*offset, 165), 25, 1e-9);
}

TEST(ConfigValues, HorizonDefaultsAndErrors)
{
    EXPECT_EQ(horizonElevation({}, 123), 0);
    const auto empty = parseHorizon(QStringLiteral("  "));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->isEmpty());
    const auto single = parseHorizon(QStringLiteral("100:12.5"));
    ASSERT_TRUE(single);
    EXPECT_EQ(horizonElevation(*single, 300), 12.5);
    for (const char* bad : {"10", "10:", ":5", "10:5:3", "a:b", "10:95"})
        EXPECT_FALSE(parseHorizon(QString::fromLatin1(bad))) << bad;
    const auto back = parseHorizon(horizonText(*parseHorizon(QStringLiteral("270:30 0:10 90:20.5"))));
    ASSERT_TRUE(back);
    EXPECT_EQ(horizonText(*back), QStringLiteral("0:10 90:20.5 270:30"));
}

TEST(ConfigValues, UnsafeIntervals)
{
    const auto intervals = parseIntervals(
        QStringLiteral("2026-12-07T22:00:00Z/2026-12-08T01:00:00Z; 2026-12-09T03:00:00Z/2026-12-09T04:00:00Z,"
                       "2026-12-10T00:00:00/2026-12-10T00:30:00"));
    ASSERT_TRUE(intervals);
    ASSERT_EQ(intervals->size(), 3);
    EXPECT_FALSE(inAnyInterval(*intervals, test::utc("2026-12-07T21:59:59Z")));
    EXPECT_TRUE(inAnyInterval(*intervals, test::utc("2026-12-07T22:00:00Z")));
    EXPECT_TRUE(inAnyInterval(*intervals, test::utc("2026-12-08T00:59:59Z")));
    EXPECT_FALSE(inAnyInterval(*intervals, test::utc("2026-12-08T01:00:00Z")));
    EXPECT_TRUE(inAnyInterval(*intervals, test::utc("2026-12-10T00:10:00Z"))); // no zone: UTC

    EXPECT_EQ(*firstInstantIn(*intervals, test::utc("2026-12-07T12:00:00Z")),
              test::utc("2026-12-07T22:00:00Z"));
    EXPECT_EQ(*firstInstantIn(*intervals, test::utc("2026-12-07T23:00:00Z")),
              test::utc("2026-12-07T23:00:00Z"));
    EXPECT_EQ(*firstInstantIn(*intervals, test::utc("2026-12-08T01:00:00Z")),
              test::utc("2026-12-09T03:00:00Z"));
    EXPECT_FALSE(firstInstantIn(*intervals, test::utc("2026-12-11T00:00:00Z")));

    const auto back = parseIntervals(intervalsText(*intervals));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, *intervals);

    for (const char* bad : {"2026-12-07T22:00:00Z", "x/y", "2026-12-08T01:00:00Z/2026-12-07T22:00:00Z",
                            "2026-12-07T22:00:00Z/2026-12-08T01:00:00Z/2026-12-09T01:00:00Z"})
        EXPECT_FALSE(parseIntervals(QString::fromLatin1(bad))) << bad;
    EXPECT_TRUE(parseIntervals(QString())->isEmpty());
}

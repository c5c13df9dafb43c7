#include "SelectionFixture.h"

#include <cmath>

namespace kestrove::test {
namespace {

class SelectSNeTest : public SelectionTest
{
protected:
    SelectSNeTest() { core.firstPass = true; }

    bool select() { return core.selectSNe(bestScore, bestTarget); }
    void writeTargets(const QStringList& lines) { writeProgramFile(QStringLiteral("SNeTargets.txt"), lines); }
};

TEST_F(SelectSNeTest, EmptyFileOrNoEntriesChoosesNothing)
{
    for (const QStringList& lines :
         {QStringList{}, QStringList{targetLine("A", 1, 2), targetLine("B", 3, 4)}}) {
        writeTargets(lines);
        bestScore = 5;
        EXPECT_FALSE(select());
        EXPECT_EQ(bestScore, -10000);
        EXPECT_EQ(bestTarget, QStringLiteral("untouched"));
    }
    EXPECT_EQ(view.status(), QStringLiteral("Selecting SNe target"));
    EXPECT_EQ(logBytes(), QByteArray());
}

TEST_F(SelectSNeTest, ScoresByElevationAndLogsEveryObservableTarget)
{
    sky.now[1.5] = {45, 180};
    sky.now[2.25] = {63, 100};
    writeTargets({QStringLiteral("Header line"), targetLine("SN 2024a", 1.5, 20), QStringLiteral("**** "),
                  targetLine("SN 2024b", 2.25, -10.5), QStringLiteral("****")});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestScore, 70);
    EXPECT_EQ(bestTarget, QStringLiteral("SN 2024b\t2.25\t-10.5"));
    EXPECT_EQ(logText(), crlfText({"SNe Target: SN 2024a RA=1.5, DEC=20", "  Score=50 Elev=45 slewTime=0",
                                   "  >>> New bestscore = 50", "SNe Target: SN 2024b RA=2.25, DEC=-10.5",
                                   "  Score=70 Elev=63 slewTime=0", "  >>> New bestscore = 70"}));
}

TEST_F(SelectSNeTest, LogNumbersUseSevenAndFifteenDigits)
{
    sky.now[1.2345678] = {30.123456789012345, 180};
    writeTargets({targetLine("X", 1.2345678, -33.33333333), QStringLiteral("****")});
    EXPECT_TRUE(select());
    // The score is 30.12345... × 100 / 90 in 32-bit steps.
    EXPECT_EQ(logText(), crlfText({"SNe Target: X RA=1.234568, DEC=-33.33333",
                                   "  Score=33.47051 Elev=30.1234567890123 slewTime=0",
                                   "  >>> New bestscore = 33.47051"}));
}

TEST_F(SelectSNeTest, TwelveHourBoundary)
{
    // Midnight: the Julian date ends in .5, so half a day before it is exact.
    const double now = nowJD();
    ASSERT_EQ(now - (now - 0.5), 0.5);
    sky.now[1] = {45, 180};
    sky.now[2] = {45, 180};
    writeTargets({targetLine("Recent", 1, 0), QStringLiteral("**** lastImageJD=") + doubleText(now - 0.5),
                  targetLine("Older", 2, 0),
                  QStringLiteral("**** lastImageJD=") + doubleText(now - 0.50001)});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("Older", 2, 0));
    EXPECT_EQ(sky.hereAndNowTransforms, 1); // none for the skipped target
    EXPECT_EQ(logText(),
              crlfText({"SNe Target: Recent RA=1, DEC=0", "  Skipping - imaged within last 12 hours",
                        "SNe Target: Older RA=2, DEC=0", "  Score=50 Elev=45 slewTime=0",
                        "  >>> New bestscore = 50"}));
}

TEST_F(SelectSNeTest, ClockIsReadForEveryEntry)
{
    const double now = nowJD();
    writeTargets({targetLine("A", 1, 0), QStringLiteral("****"), targetLine("B", 2, 0),
                  QStringLiteral("**** lastImageJD=") + doubleText(now - 0.25)});
    // Six hours pass while the first entry's lines are read.
    view.onProcessEvents = [&] {
        if (view.eventDispatches == 3)
            sky.localNow = sky.localNow.addSecs(6 * 3600 + 1);
    };
    EXPECT_TRUE(select());
    EXPECT_EQ(sky.hereAndNowTransforms, 2);
}

TEST_F(SelectSNeTest, EntryWithoutLastImageIsAlwaysScored)
{
    writeTargets({targetLine("A", 1, 0), QStringLiteral("**** reshoot=false")});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestScore, 50);
}

TEST_F(SelectSNeTest, TargetLineWithoutConfigLineIsNeverScored)
{
    writeTargets(
        {targetLine("A", 1, 0), targetLine("B", 2, 0), QStringLiteral("****"), targetLine("C", 3, 0)});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("B", 2, 0));
    EXPECT_EQ(sky.hereAndNowTransforms, 1);
}

struct LimitCase
{
    const char* what;
    int alignmentMode;
    double dec;
    Place place;
    bool accepted;
};

class ObservabilityTest : public SelectSNeTest, public ::testing::WithParamInterface<LimitCase>
{
};

TEST_P(ObservabilityTest, LimitsAndBounds)
{
    const LimitCase c = GetParam();
    sky.alignmentMode = c.alignmentMode;
    sky.tiltUpLimit = 60;
    sky.minimumElevation = 10;
    sky.horizon = 20;
    core.settings.maxElevation = 70;
    core.settings.minAzimuth = 90;
    core.settings.maxAzimuth = 270;
    sky.now[1] = c.place;
    writeTargets({targetLine("T", 1, c.dec), QStringLiteral("****")});
    EXPECT_EQ(select(), c.accepted) << c.what;
    // A rejected target leaves no trace in the log.
    EXPECT_EQ(logBytes().isEmpty(), !c.accepted) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    SNe, ObservabilityTest,
    ::testing::Values(LimitCase{"inside everything", 1, 0, {40, 180}, true},
                      LimitCase{"elevation at the horizon limit + 5", 1, 0, {25, 180}, false},
                      LimitCase{"elevation just above the horizon limit + 5", 1, 0, {25.001, 180}, true},
                      LimitCase{"elevation at maxElevation is inside", 1, 0, {70, 180}, true},
                      LimitCase{"elevation above maxElevation", 1, 0, {70.001, 180}, false},
                      LimitCase{"azimuth at minAzimuth is inside", 1, 0, {40, 90}, true},
                      LimitCase{"azimuth at maxAzimuth is inside", 1, 0, {40, 270}, true},
                      LimitCase{"azimuth below minAzimuth", 1, 0, {40, 89.999}, false},
                      LimitCase{"azimuth above maxAzimuth", 1, 0, {40, 270.001}, false},
                      LimitCase{"declination above tilt-up on an equatorial mount", 1, 61, {40, 180}, false},
                      LimitCase{"declination above tilt-up on a German mount", 2, 61, {40, 180}, false},
                      LimitCase{"declination at tilt-up", 2, 60, {40, 180}, true},
                      LimitCase{"declination above tilt-up on an alt-az mount", 0, 61, {40, 180}, true},
                      LimitCase{"elevation above tilt-up on an alt-az mount", 0, 0, {60.001, 180}, false},
                      LimitCase{"elevation at tilt-up on an alt-az mount", 0, 0, {60, 180}, true},
                      LimitCase{"no elevation", 1, 0, {std::nan(""), 180}, false},
                      LimitCase{"no azimuth", 1, 0, {40, std::nan("")}, false}));

TEST_F(SelectSNeTest, MinimumElevationIsTestedBeforeTheHorizon)
{
    sky.minimumElevation = 30;
    sky.horizon = 0;
    sky.now[1] = {31, 123}; // exactly MinimumElevation + 1
    sky.now[2] = {31.001, 234};
    writeTargets(
        {targetLine("A", 1, 0), QStringLiteral("****"), targetLine("B", 2, 0), QStringLiteral("****")});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("B", 2, 0));
    // The horizon is asked only for the target that passed the minimum elevation, at its azimuth.
    EXPECT_EQ(sky.horizonAsked, std::vector<double>{234});
}

TEST_F(SelectSNeTest, AzimuthWindowDoesNotWrapThroughNorth)
{
    core.settings.minAzimuth = 270;
    core.settings.maxAzimuth = 90;
    sky.now[1] = {40, 0};
    sky.now[2] = {40, 300};
    sky.now[3] = {40, 45};
    writeTargets(
        {targetLine("A", 1, 0), "****", targetLine("B", 2, 0), "****", targetLine("C", 3, 0), "****"});
    EXPECT_FALSE(select());
    EXPECT_EQ(bestScore, -10000);
}

TEST_F(SelectSNeTest, FirstOfEqualScoresStaysBest)
{
    writeTargets({targetLine("A", 1, 0), "****", targetLine("B", 2, 0), "****"});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("A", 1, 0));
    EXPECT_EQ(logBytes().count(">>> New bestscore"), 1);
}

TEST_F(SelectSNeTest, ReshootScalesBonusAfterPointing)
{
    sky.alignmentMode = 2;
    sky.west = [](double) { return true; };
    sky.now[1] = {54, 180}; // elevation score 60
    writeTargets({targetLine("A", 1, 0), "**** reshoot=true"});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestScore, 135);
}

TEST_F(SelectSNeTest, ReshootScalesSlewPenaltyToo)
{
    core.firstPass = false;
    sky.mountRA = 6;
    sky.mountDec = 0;
    sky.now[0] = {45, 180};
    writeTargets({targetLine("A", 0, 0), "**** reshoot=1"});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestScore, (50 - 23) * 1.5f);
    EXPECT_EQ(logText(), crlfText({"SNe Target: A RA=0, DEC=0", "  Score=40.5 Elev=45 slewTime=46",
                                   "  >>> New bestscore = 40.5"}));
}

TEST_F(SelectSNeTest, FirstPassChargesNoSlew)
{
    sky.now[0] = {45, 180};
    writeTargets({targetLine("A", 0, 0), "****"});
    sky.mountRA = 6;
    EXPECT_TRUE(select());
    EXPECT_EQ(bestScore, 50);
    EXPECT_EQ(sky.mountPositionReads, 0);
}

TEST_F(SelectSNeTest, StopEndsTheScanBeforeTheNextLine)
{
    writeTargets(
        {targetLine("A", 1, 0), "****", targetLine("B", 2, 0), "****", targetLine("C", 3, 0), "****"});
    sky.now[2] = {80, 180};
    sky.now[3] = {80, 180};
    // The third dispatch comes before the third line (B's target line) is read.
    view.onProcessEvents = [&] {
        if (view.eventDispatches == 3)
            core.stopRequested = true;
    };
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("A", 1, 0));
    const auto uses = usesOf(QStringLiteral("SNeTargets.txt"));
    ASSERT_EQ(uses.size(), 1u);
    EXPECT_EQ(uses[0].linesRead, 2);
    EXPECT_TRUE(uses[0].closed);
}

TEST_F(SelectSNeTest, StopBeforeAnyEntryChoosesNothing)
{
    writeTargets({targetLine("A", 1, 0), "****"});
    view.onProcessEvents = [&] { core.stopRequested = true; };
    EXPECT_FALSE(select());
    EXPECT_EQ(bestScore, -10000);
    EXPECT_EQ(bestTarget, QStringLiteral("untouched"));
    const auto uses = usesOf(QStringLiteral("SNeTargets.txt"));
    ASSERT_EQ(uses.size(), 1u);
    EXPECT_EQ(uses[0].linesRead, 0);
    EXPECT_TRUE(uses[0].closed);
}

TEST_F(SelectSNeTest, CoordTransformHoldsTheLastTargetEvaluated)
{
    sky.now[2] = {1, 180}; // rejected, but its transform was made last
    writeTargets({targetLine("A", 1, 0), "****", targetLine("B", 2, 5), "****"});
    EXPECT_TRUE(select());
    ASSERT_TRUE(core.coordTransform);
    EXPECT_EQ(core.coordTransform->RightAscension(), 2);
    EXPECT_EQ(core.coordTransform->Declination(), 5);
}

TEST_F(SelectSNeTest, UnreadableTargetLineIsSkippedNotScoredWithThePreviousPosition)
{
    sky.now[1] = {45, 180};
    writeTargets({targetLine("A", 1, 0), "****", QStringLiteral("no tabs here"), "****",
                  QStringLiteral("B\t3"), "****", QStringLiteral("C\t25\t+95"), "****"});
    EXPECT_TRUE(select());
    EXPECT_EQ(
        view.messages,
        QStringList({"SNeTargets.txt line 3: Parse error - First tab missing: \"no tabs here\"",
                     "SNeTargets.txt line 5: Parse error - Second tab missing: \"B\\t3\"",
                     "SNeTargets.txt line 7: Invalid right ascension - \"25\" is outside 0 to 24 hours; "
                     "Invalid declination - \"+95\" is outside -90 to 90 degrees: \"C\\t25\\t+95\""}));
    EXPECT_EQ(sky.hereAndNowTransforms, 1);
    EXPECT_EQ(logText(), crlfText({"SNe Target: A RA=1, DEC=0", "  Score=50 Elev=45 slewTime=0",
                                   "  >>> New bestscore = 50"}));
}

TEST_F(SelectSNeTest, TargetOnlyJustAboveTheFloorCanBeChosen)
{
    core.firstPass = false;
    sky.settleTime = 20000; // the slew penalty drives the score to -9953
    sky.now[1] = {45, 180};
    writeTargets({targetLine("A", 1, 0), "****"});
    EXPECT_TRUE(select());
    EXPECT_GT(bestScore, -10000);
    sky.settleTime = 20200; // and now to below the floor
    EXPECT_FALSE(select());
    EXPECT_EQ(bestScore, -10000);
}

} // namespace
} // namespace kestrove::test

#include "SelectionFixture.h"

#include <cmath>

namespace kestrove::test {
namespace {

const double minuteDays = 0.0006944444;

class SelectSLCTest : public SelectionTest
{
protected:
    SelectSLCTest()
    {
        core.firstPass = true;
        sky.latitude = 40;
    }

    bool select() { return core.selectSLC(bestScore, bestTarget); }
    void writeTargets(const QStringList& lines) { writeProgramFile(QStringLiteral("SLCTargets.txt"), lines); }
    QString lastImage(double daysAgo) const
    {
        return QStringLiteral(" lastImageJD=") + doubleText(nowJD() - daysAgo);
    }
};

struct TransitCase
{
    double dec;
    double elevation; // half the transit elevation
};

class TransitTest : public SelectSLCTest, public ::testing::WithParamInterface<TransitCase>
{
};

TEST_P(TransitTest, DueTargetAtHalfItsTransitElevationScores500)
{
    const TransitCase c = GetParam();
    sky.now[1] = {c.elevation, 180};
    writeTargets({targetLine("S", 1, c.dec), "****"});
    EXPECT_TRUE(select());
    // Due (no lastImageJD): cadence 1 × priority 100 × elevation ratio 0.5 × 10.
    EXPECT_EQ(bestScore, 500) << c.dec;
}

INSTANTIATE_TEST_SUITE_P(SLC, TransitTest,
                         ::testing::Values(TransitCase{20, 35},   // T = 70
                                           TransitCase{60, 35},   // 110 folded to 70
                                           TransitCase{-30, 10},  // T = 20
                                           TransitCase{50, 40})); // T = 100 folded to 80

TEST_F(SelectSLCTest, MinimumFractionOfTransitElevation)
{
    core.settings.minElevationSLC = 0.5f;
    sky.now[1] = {34.9, 180};
    sky.now[2] = {35, 180};
    writeTargets({targetLine("Low", 1, 20), "****", targetLine("High", 2, 20), "****"});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("High", 2, 20));
    EXPECT_EQ(logText(),
              crlfText({"SLC Target: High RA=2, DEC=20", "  Score=500 Elev=35 slewTime=0 minsSinceLast=60",
                        "  >>> New bestscore = 500"}));
}

struct CadenceCase
{
    const char* what;
    QString items;
    double daysAgo; // < 0: no lastImageJD item
    double score;   // at half the transit elevation, before pointing
    double tolerance;
};

class CadenceTest : public SelectSLCTest, public ::testing::WithParamInterface<CadenceCase>
{
};

TEST_P(CadenceTest, Triangle)
{
    const CadenceCase c = GetParam();
    sky.now[1] = {35, 180};
    writeTargets(
        {targetLine("S", 1, 20), "****" + c.items + (c.daysAgo < 0 ? QString() : lastImage(c.daysAgo))});
    EXPECT_TRUE(select()) << c.what; // every score above the floor can be chosen
    EXPECT_NEAR(bestScore, c.score, c.tolerance) << c.what;
    EXPECT_FALSE(std::isnan(bestScore)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    SLC, CadenceTest,
    ::testing::Values(
        CadenceCase{"half an interval", "", 30 * minuteDays, 25, 1e-3},
        CadenceCase{"one interval", "", 60.001 * minuteDays, 500, 1e-2},
        CadenceCase{"three intervals", "", 3 / 24.0, -500, 1e-2},
        CadenceCase{"13 hours", "", 13 / 24.0, 500, 0}, CadenceCase{"never imaged", "", -1, 500, 0},
        CadenceCase{"own priority and cadence", " priority=40 interval=120", 60 * minuteDays, 10, 1e-3},
        CadenceCase{"interval 0, imaged 10 minutes ago", " interval=0", 10 * minuteDays, 500, 0},
        CadenceCase{"interval 0, imaged just now", " interval=0", 0, 500, 0},
        CadenceCase{"interval 0, never imaged", " interval=0", -1, 500, 0}));

TEST_F(SelectSLCTest, IntervalZeroLogsNoNaN)
{
    sky.now[1] = {35, 180};
    writeTargets({targetLine("S", 1, 20), "**** interval=0" + lastImage(0)});
    EXPECT_TRUE(select());
    EXPECT_EQ(logText(),
              crlfText({"SLC Target: S RA=1, DEC=20", "  Score=500 Elev=35 slewTime=0 minsSinceLast=0",
                        "  >>> New bestscore = 500"}));
}

TEST_F(SelectSLCTest, DueTargetOutranksOneNotYetDue)
{
    sky.now[1] = {35, 180};
    sky.now[2] = {35, 180};
    writeTargets({targetLine("Soon", 1, 20), "****" + lastImage(50 * minuteDays), targetLine("Late", 2, 20),
                  "****" + lastImage(110 * minuteDays)});
    EXPECT_TRUE(select());
    EXPECT_EQ(bestTarget, targetLine("Late", 2, 20));
}

TEST_F(SelectSLCTest, StarCulminatingOnTheHorizonIsRejectedNotScoredInfinite)
{
    sky.minimumElevation = -90;
    sky.horizon = -90;
    sky.now[1] = {30, 180}; // scripted: impossible for dec −50 at latitude 40, where T is 0
    writeTargets({targetLine("S", 1, -50), "****"});
    EXPECT_FALSE(select());
    EXPECT_EQ(bestScore, -10000);
    EXPECT_EQ(logText(), "");
}

TEST_F(SelectSLCTest, ObservabilityAndPointingApply)
{
    core.firstPass = false;
    sky.alignmentMode = 2;
    sky.west = [](double) { return true; };
    sky.mountRA = 1;
    sky.mountDec = 20;
    sky.now[1] = {35, 180};
    sky.now[2] = {3, 180};
    writeTargets({targetLine("S", 1, 20), "****", targetLine("Down", 2, 20), "****"});
    EXPECT_TRUE(select());
    // 500 + 30, less half the settling time for a slew of no distance.
    EXPECT_EQ(bestScore, 525);
    EXPECT_EQ(bestTarget, targetLine("S", 1, 20));
}

TEST_F(SelectSLCTest, StatusAndEmptyFile)
{
    writeTargets({});
    EXPECT_FALSE(select());
    EXPECT_EQ(bestScore, -10000);
    EXPECT_EQ(bestTarget, QStringLiteral("untouched"));
    EXPECT_EQ(view.status(), QStringLiteral("Selecting SLC target"));
}

TEST_F(SelectSLCTest, MPFNeverOffersATargetAndTouchesNothing)
{
    bestScore = 42;
    EXPECT_FALSE(core.selectMPF(bestScore, bestTarget));
    EXPECT_EQ(bestScore, 42);
    EXPECT_EQ(bestTarget, QStringLiteral("untouched"));
    EXPECT_TRUE(view.statuses.isEmpty());
    EXPECT_EQ(view.eventDispatches, 0);
    EXPECT_EQ(logText(), "");
}

} // namespace
} // namespace kestrove::test

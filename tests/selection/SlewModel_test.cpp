#include "SelectionFixture.h"

#include <cmath>

namespace kestrove::test {
namespace {

const double pi = 4 * std::atan(1.0);

TEST(ArccosTest, EndsAndInsideOfTheRange)
{
    EXPECT_EQ(SurveyCore::Arccos(1), 0);
    EXPECT_EQ(SurveyCore::Arccos(-1), pi);
    EXPECT_DOUBLE_EQ(SurveyCore::Arccos(0), pi / 2);
    EXPECT_NEAR(SurveyCore::Arccos(0.5), pi / 3, 1e-15);
    EXPECT_NEAR(SurveyCore::Arccos(-0.5), 2 * pi / 3, 1e-15);
}

TEST(ArccosTest, JustOutsideTheRangeIsClamped)
{
    EXPECT_EQ(SurveyCore::Arccos(std::nextafter(1.0, 2.0)), 0);
    EXPECT_EQ(SurveyCore::Arccos(std::nextafter(-1.0, -2.0)), pi);
}

struct DistanceCase
{
    double targetRA, targetDec, scopeRA, scopeDec, degrees;
};

class SlewDistanceTest : public ::testing::TestWithParam<DistanceCase>
{
};

TEST_P(SlewDistanceTest, GreatCircleDegrees)
{
    const DistanceCase c = GetParam();
    EXPECT_NEAR(SurveyCore::SlewDistance(c.targetRA, c.targetDec, c.scopeRA, c.scopeDec), c.degrees, 1e-9);
    // The chord between the two directions, as a pass measures it.
    EXPECT_NEAR(SurveyCore::slewDistance(SurveyCore::slewDirection(c.targetRA, c.targetDec),
                                         SurveyCore::slewDirection(c.scopeRA, c.scopeDec)),
                c.degrees, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Positions, SlewDistanceTest,
                         ::testing::Values(DistanceCase{0, 0, 90, 0, 90},      // the worked example
                                           DistanceCase{1.5, 0, 358.5, 0, 3},  // RA 0.1 h against 23.9 h
                                           DistanceCase{0, 90, 123, 90, 0},    // both at the pole
                                           DistanceCase{0, 0, 180, 0, 180},    // opposite on the equator
                                           DistanceCase{10, 30, 10, -30, 60},  // along a meridian
                                           DistanceCase{45, 89, 225, 89, 2})); // across the pole

TEST(SlewDistanceEdgeTest, IdenticalAndOppositePositionsNeverGiveNaN)
{
    // Rounding carries the cosine past ±1 for some of these; every one must still be a distance.
    int outside = 0;
    for (double dec = -89.5; dec <= 89.5; dec += 0.37) {
        for (double ra = 0; ra < 360; ra += 17.3) {
            const double p = (90 - dec) * pi / 180;
            if (std::sin(p) * std::sin(p) + std::cos(p) * std::cos(p) > 1)
                ++outside;
            const double same = SurveyCore::SlewDistance(ra, dec, ra, dec);
            ASSERT_FALSE(std::isnan(same)) << ra << " " << dec;
            EXPECT_NEAR(same, 0, 1e-5);
            const double opposite = SurveyCore::SlewDistance(ra, dec, ra + 180, -dec);
            ASSERT_FALSE(std::isnan(opposite)) << ra << " " << dec;
            EXPECT_NEAR(opposite, 180, 1e-5);
            // The chord has no such rounding: a mount already on the target is charged nothing.
            const SlewDirection here = SurveyCore::slewDirection(ra, dec);
            EXPECT_EQ(SurveyCore::slewDistance(here, here), 0);
            EXPECT_NEAR(SurveyCore::slewDistance(here, SurveyCore::slewDirection(ra + 180, -dec)), 180, 1e-5);
        }
    }
    EXPECT_GT(outside, 0); // the sweep does reach the rounding case
}

class PointingTest : public SelectionTest
{
protected:
    PointingTest()
    {
        core.settings.slewRate = 2.5f;
        core.settings.flipTime = 90;
        sky.settleTime = 10;
        sky.mountRA = 6;
        sky.mountDec = 0;
    }
};

TEST_F(PointingTest, WorkedExampleWithoutPierChange)
{
    sky.alignmentMode = 1;
    SurveyCore::SlewState state;
    EXPECT_EQ(core.adjustForPointing(0, 0, 100, state), 77);
    EXPECT_EQ(state.slewTime, 46);
    EXPECT_FALSE(state.flip);
}

TEST_F(PointingTest, WorkedExampleWithPierChangeOnAGermanMount)
{
    sky.alignmentMode = 2;
    sky.west = [](double ra) { return ra < 3; }; // target at 0 h west, mount at 6 h east
    SurveyCore::SlewState state;
    // 100 + 30 for the west side, − 136 / 2 for the slew and the flip.
    EXPECT_EQ(core.adjustForPointing(0, 0, 100, state), 62);
    EXPECT_EQ(state.slewTime, 136);
    EXPECT_TRUE(state.flip);
    EXPECT_EQ(sky.westAsked.front(), 0);
    EXPECT_NE(std::find(sky.westAsked.begin(), sky.westAsked.end(), 6.0), sky.westAsked.end());
}

TEST_F(PointingTest, EastTargetOnAGermanMountGetsNoBonus)
{
    sky.alignmentMode = 2;
    SurveyCore::SlewState state;
    EXPECT_EQ(core.adjustForPointing(0, 0, 100, state), 77);
    EXPECT_FALSE(state.flip);
}

TEST_F(PointingTest, OtherMountsNeverGetTheBonusNorPayTheFlip)
{
    sky.west = [](double) { return true; };
    for (int mode : {0, 1}) {
        sky.alignmentMode = mode;
        sky.westAsked.clear();
        SurveyCore::SlewState state;
        EXPECT_EQ(core.adjustForPointing(0, 0, 100, state), 77) << mode;
        EXPECT_EQ(state.slewTime, 46) << mode;
        EXPECT_FALSE(state.flip) << mode;
        EXPECT_TRUE(sky.westAsked.empty()) << mode;
    }
}

TEST_F(PointingTest, FirstPassKeepsSlewTimeAndReadsNoPositionButGivesTheBonus)
{
    core.firstPass = true;
    sky.alignmentMode = 2;
    sky.west = [](double ra) { return ra < 3; };
    SurveyCore::SlewState state;
    state.slewTime = 12;
    EXPECT_EQ(core.adjustForPointing(0, 0, 100, state), 130);
    EXPECT_EQ(state.slewTime, 12);
    EXPECT_TRUE(state.flip);
    // Only the pier-side test asked where the mount points, not the slew.
    EXPECT_EQ(sky.mountPositionReads, 1);

    sky.alignmentMode = 1;
    sky.mountPositionReads = 0;
    EXPECT_EQ(core.adjustForPointing(0, 0, 100, state), 100);
    EXPECT_EQ(sky.mountPositionReads, 0);
}

TEST_F(PointingTest, SlewTimeCarriesOverToTheNextTarget)
{
    sky.alignmentMode = 1;
    SurveyCore::SlewState state;
    core.adjustForPointing(0, 0, 100, state);
    core.firstPass = true;
    EXPECT_EQ(core.adjustForPointing(12, 0, 100, state), 100);
    EXPECT_EQ(state.slewTime, 46);
}

TEST_F(PointingTest, TargetAngleIsFormedInSinglePrecision)
{
    sky.alignmentMode = 1;
    const float ra = 23.9f;
    const float angle = ra * 15.0f;
    ASSERT_GT(std::fabs(static_cast<double>(ra) * 15 - angle), 1e-6); // the two forms differ here
    // The mount stands where the 32-bit angle points; a very slow mount magnifies any difference.
    sky.mountRA = static_cast<double>(angle) / 15;
    core.settings.slewRate = 1e-6f;
    SurveyCore::SlewState state;
    core.adjustForPointing(ra, 0, 100, state);
    EXPECT_EQ(state.slewTime, 10);
}

TEST_F(PointingTest, ScoreAndSlewTimeAreSinglePrecision)
{
    sky.alignmentMode = 1;
    sky.mountRA = 1;
    sky.mountDec = 0;
    sky.settleTime = 0.1; // 0.1 is not a 32-bit value
    core.settings.slewRate = 3;
    SurveyCore::SlewState state;
    const float score = core.adjustForPointing(0, 0, 0.3f, state);
    // 15 / 3 + 0.1 = 5.1, stored as a 32-bit value; the score drops by half of that.
    EXPECT_EQ(state.slewTime, 5.1f);
    EXPECT_EQ(score, 0.3f - 5.1f / 2);
}

TEST_F(PointingTest, NonPositiveSlewRateChargesNothing)
{
    sky.alignmentMode = 1;
    for (float rate : {0.0f, -2.5f}) {
        core.settings.slewRate = rate;
        SurveyCore::SlewState state;
        state.slewTime = 46;
        const float score = core.adjustForPointing(0, 0, 100, state);
        EXPECT_EQ(score, 100) << rate;
        EXPECT_EQ(state.slewTime, 0) << rate;
    }
}

TEST_F(PointingTest, MountWithoutPositionChargesNothing)
{
    sky.alignmentMode = 1;
    sky.mountRA = std::nan("");
    SurveyCore::SlewState state;
    EXPECT_EQ(core.adjustForPointing(0, 0, 100, state), 100);
    EXPECT_EQ(state.slewTime, 0);
}

} // namespace
} // namespace kestrove::test

#include "core/KindBalance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kestrove {
namespace {

constexpr SurveyKind SNe = SurveyKind::SNe;
constexpr SurveyKind MPS = SurveyKind::MPS;
constexpr SurveyKind SLC = SurveyKind::SLC;

unsigned bits(std::initializer_list<SurveyKind> kinds)
{
    unsigned mask = 0;
    for (const SurveyKind kind : kinds)
        mask |= 1u << slotOf(kind);
    return mask;
}

TEST(KindBalance, EachKindsScoresAreBroughtToOneScale)
{
    // Lightcurve scores run some fifteen times the supernova ones; on the common scale a pass's
    // best of either kind is worth as much as the other's when it stands as high among its own.
    KindBalance balance;
    const double factors[] = {1.0, 1.2, 0.8, 1.1, 0.9, 1.05, 0.95};
    double sne = 0, slc = 0;
    for (const double f : factors) {
        sne = normalisedScore(balance, SNe, static_cast<float>(10324 * f));
        slc = normalisedScore(balance, SLC, static_cast<float>(151589 * f));
    }
    EXPECT_NEAR(sne, slc, 1e-6);
    EXPECT_NEAR(sne, 0.95, 1e-6); // the median of the seven is 1

    const struct
    {
        const char* what;
        std::vector<float> earlier;
        float raw;
        double normalised;
    } cases[] = {
        {"a kind's first best", {}, 250, 1},
        {"median of an even count", {10, 30, 40}, 20, 20.0 / 25},
        {"twice the typical", {5, 5, 5, 5}, 10, 2},
        {"nothing above zero yet", {0, 0}, 0, 0},
        {"a score above zero among zeros", {0, 0, 0}, 3, 1},
    };
    for (const auto& c : cases) {
        KindBalance one;
        for (const float raw : c.earlier)
            normalisedScore(one, MPS, raw);
        EXPECT_NEAR(normalisedScore(one, MPS, c.raw), c.normalised, 1e-9) << c.what;
    }

    // Only the recent bests count: the scale follows a kind whose scores fall through the night.
    KindBalance falling;
    for (size_t i = 0; i < recentBestCount; ++i)
        normalisedScore(falling, SNe, 100);
    for (size_t i = 0; i + 1 < recentBestCount; ++i)
        normalisedScore(falling, SNe, 10);
    EXPECT_NEAR(normalisedScore(falling, SNe, 10), 1, 1e-9);
    EXPECT_EQ(falling.recentBest[slotOf(SNe)].size(), recentBestCount);
}

TEST(KindBalance, ThePassTakesTheBestWeightedOfferWithinItsShare)
{
    const KindShares none{};
    KindShares shares{};
    shares[slotOf(SNe)] = 50;
    shares[slotOf(SLC)] = 30;
    shares[slotOf(MPS)] = 20;
    // Seconds taken and entitled to so far, by kind: SNe within its share, SLC over it, MPS at it.
    KindBalance balance;
    balance.times.seconds[slotOf(SNe)] = 100;
    balance.times.entitled[slotOf(SNe)] = 200;
    balance.times.seconds[slotOf(SLC)] = 300;
    balance.times.entitled[slotOf(SLC)] = 150;
    balance.times.seconds[slotOf(MPS)] = 50;
    balance.times.entitled[slotOf(MPS)] = 50;

    const struct
    {
        const char* what;
        KindShares shares;
        QList<KindOffer> offers;
        int chosen;
        QList<SurveyKind> held;
    } cases[] = {
        {"no shares: the highest", none, {{SNe, 0.8f}, {SLC, 1.3f}, {MPS, 1.1f}}, 1, {}},
        {"a tie keeps the earlier", none, {{SNe, 1.0f}, {SLC, 1.0f}}, 0, {}},
        {"a negative score never runs", none, {{SNe, -0.5f}, {SLC, -2.0f}}, -1, {}},
        {"a kind of no weight still runs", none, {{SNe, -0.5f}, {SLC, 0.0f}}, 1, {}},
        {"over its share: held back", shares, {{SNe, 0.8f}, {SLC, 1.3f}, {MPS, 1.1f}}, 2, {SLC}},
        {"over its share, and alone", shares, {{SLC, 1.3f}}, 0, {}},
        {"over its share, the others negative", shares, {{SNe, -1.0f}, {SLC, 1.3f}}, 1, {}},
        {"a kind without a share waits for those with one",
         [] {
             KindShares s{};
             s[slotOf(SNe)] = 100;
             return s;
         }(),
         {{SNe, 0.5f}, {MPS, 2.0f}},
         0,
         {MPS}},
    };
    for (const auto& c : cases) {
        QList<SurveyKind> held{SurveyKind::MPF};
        EXPECT_EQ(chooseOffer(balance, c.shares, c.offers, held), c.chosen) << c.what;
        // As vectors: Qt's own comparison hands memcmp a null pointer for an empty list.
        EXPECT_EQ(std::vector(held.begin(), held.end()), std::vector(c.held.begin(), c.held.end())) << c.what;
    }
}

TEST(KindBalance, APlansTimeIsSharedAmongTheKindsThatHadATarget)
{
    KindShares shares{};
    shares[slotOf(SNe)] = 50;
    shares[slotOf(SLC)] = 30;
    shares[slotOf(MPS)] = 20;
    KindTimes times;
    bookPlan(times, shares, SNe, bits({SNe, SLC, MPS}), 100); // entitled 50, 30, 20
    bookPlan(times, shares, SLC, bits({SLC, MPS}), 100);      // 60, 40 between SLC and MPS
    bookPlan(times, shares, MPS, bits({}), 10);               // its own kind had a target
    EXPECT_EQ(times.seconds[slotOf(SNe)], 100);
    EXPECT_EQ(times.seconds[slotOf(SLC)], 100);
    EXPECT_EQ(times.seconds[slotOf(MPS)], 10);
    EXPECT_EQ(times.available[slotOf(SNe)], 100);
    EXPECT_EQ(times.available[slotOf(SLC)], 200);
    EXPECT_EQ(times.available[slotOf(MPS)], 210);
    EXPECT_DOUBLE_EQ(times.entitled[slotOf(SNe)], 50);
    EXPECT_DOUBLE_EQ(times.entitled[slotOf(SLC)], 90);
    EXPECT_DOUBLE_EQ(times.entitled[slotOf(MPS)], 70);

    // Without shares only the time is counted.
    KindTimes plain;
    bookPlan(plain, KindShares{}, SNe, bits({SNe, SLC}), 60);
    EXPECT_EQ(plain.available[slotOf(SLC)], 60);
    EXPECT_EQ(plain.entitled[slotOf(SNe)], 0);

    // Named shares by code.
    const KindShares named = kindShares({{"SLC", 30}, {"SNe", 50}});
    EXPECT_EQ(named[slotOf(SNe)], 50);
    EXPECT_EQ(named[slotOf(SLC)], 30);
    EXPECT_EQ(named[slotOf(MPS)], 0);
}

} // namespace
} // namespace kestrove

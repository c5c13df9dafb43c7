#include "imaging/FlatExposure.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace kestrove::imaging;

namespace {

constexpr double kOffset = 1000; // the camera's bias level, ADU
constexpr double kSaturation = 65535;
constexpr double kDownload = 5; // seconds between one exposure's end and the next's start

// A sequence of flats under a light of `rate` ADU/s per pixel at time t (seconds): each frame reads
// the mean rate over its exposure. The limit the sky moves away from is waited out (`waitOn`: too
// bright in the evening, too faint in the morning); the sequence ends at the other limit or after
// `frames`.
struct FlatRun
{
    int kept = 0;
    int taken = 0;
    FlatExposure::Verdict last = FlatExposure::Verdict::Retry;
    double worstKept = 0; // the largest miss of a kept flat, as a fraction of the target
};

FlatRun run(const std::function<double(double)>& rate, double target, double minSeconds, double maxSeconds,
            bool followTrend, FlatExposure::Verdict waitOn, int frames)
{
    FlatExposure exposure(target, minSeconds, maxSeconds, kOffset, 0.1, followTrend);
    FlatRun r;
    double t = 0;
    while (r.taken < frames) {
        const double s = exposure.seconds();
        const double mid = rate(t + s / 2);
        const double level = std::min(kOffset + mid * s, kSaturation);
        t += s + kDownload;
        ++r.taken;
        r.last = exposure.took(level);
        if (r.last == FlatExposure::Verdict::Accepted) {
            ++r.kept;
            r.worstKept = std::max(r.worstKept, std::abs(level - target) / target);
        } else if ((r.last == FlatExposure::Verdict::TooBright ||
                    r.last == FlatExposure::Verdict::TooFaint) &&
                   r.last != waitOn) {
            break;
        }
    }
    return r;
}

} // namespace

TEST(FlatExposure, ExposuresConvergeOnTheLevelOrStopAtALimit)
{
    using V = FlatExposure::Verdict;
    const auto steady = [](double adu) { return [adu](double) { return adu; }; };
    // The evening sky fades by half every two minutes; the morning's brightens as fast.
    const auto evening = [](double t) { return 40000 * std::exp2(-t / 120); };
    const auto morning = [](double t) { return 20 * std::exp2(t / 120); };
    const struct
    {
        const char* what;
        std::function<double(double)> rate;
        bool followTrend;
        V waitOn;
        int frames;
        int minKept;
        V last;
    } cases[] = {
        {"a panel: kept from the third frame", steady(2500), false, V::Retry, 12, 10, V::Accepted},
        {"a panel too bright for the shortest exposure", steady(1e6), false, V::Retry, 12, 0, V::TooBright},
        {"a panel too faint for the longest", steady(50), false, V::Retry, 12, 0, V::TooFaint},
        {"the evening sky, waited on until it is faint enough, then followed down to the longest exposure",
         evening, true, V::TooBright, 200, 12, V::TooFaint},
        {"the morning sky, waited on until it is bright enough, then followed up to the shortest exposure",
         morning, true, V::TooFaint, 200, 12, V::TooBright},
    };
    for (const auto& c : cases) {
        const FlatRun r = run(c.rate, 30000, 0.1, 30, c.followTrend, c.waitOn, c.frames);
        EXPECT_GE(r.kept, c.minKept) << c.what << ": " << r.kept << " of " << r.taken;
        EXPECT_EQ(r.last, c.last) << c.what;
        EXPECT_LE(r.worstKept, 0.1) << c.what;
    }
}

// Under a fading sky the exposure that met the last frame's level misses the next one's; the trend
// carried on keeps most of them.
TEST(FlatExposure, AChangingSkyKeepsMoreFlatsWhenItsTrendIsFollowed)
{
    const auto evening = [](double t) { return 40000 * std::exp2(-t / 60); };
    const FlatRun followed = run(evening, 30000, 0.1, 30, true, FlatExposure::Verdict::TooBright, 200);
    const FlatRun naive = run(evening, 30000, 0.1, 30, false, FlatExposure::Verdict::TooBright, 200);
    EXPECT_GT(followed.kept, naive.kept + 3) << followed.kept << " against " << naive.kept;
}

TEST(FlatExposure, TheMasterFlatIsEachFrameLessTheOffsetScaledToOne)
{
    // A vignetted field at two levels: the master is the pattern, whatever each frame's level.
    const auto frame = [](float level) {
        FitsImage f{4, 1, {}, std::nullopt};
        for (float v : {1.0f, 0.8f, 0.8f, 0.6f})
            f.pixels.push_back(static_cast<float>(kOffset) + level * v);
        return f;
    };
    const FitsImage master = masterFlat({frame(20000), frame(30000), frame(25000)}, kOffset);
    const std::vector<float> expected{1.25f, 1.0f, 1.0f, 0.75f};
    ASSERT_EQ(master.pixels.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(master.pixels[i], expected[i], 1e-5);
}

#include "host/indi/CloudWatch.h"

#include <gtest/gtest.h>

#include <vector>

using kestrove::imaging::GradeReason;
using kestrove::indi::CloudWatch;

namespace {

// One look at the sky: a plan's frame, or the test frame at the end of a pause (plan 0).
struct Look
{
    qint64 plan;
    GradeReason reason;
    CloudWatch::Change change; // what the look changed
};

constexpr auto cloud = GradeReason::TooFewStars;
constexpr auto clear = GradeReason::None;
constexpr auto none = CloudWatch::Change::None;
constexpr auto paused = CloudWatch::Change::Paused;
constexpr auto resumed = CloudWatch::Change::Resumed;

} // namespace

// Three plans in a row whose frames show no stars pause imaging; a plan counts once, and a frame
// with stars, whatever its grade, breaks the run. The test frame ends the pause or begins another.
TEST(CloudWatch, StarlessPlansInARowPauseAndATestFrameDecides)
{
    const struct
    {
        const char* what;
        std::vector<Look> looks;
        int starless; // at the end
    } cases[] = {
        {"three plans", {{1, cloud, none}, {2, cloud, none}, {3, cloud, paused}}, 3},
        {"one plan of many frames counts once", {{1, cloud, none}, {1, cloud, none}, {1, cloud, none}}, 1},
        {"the same target chosen again is another plan",
         {{1, cloud, none}, {1, cloud, none}, {2, cloud, none}, {3, cloud, paused}},
         3},
        {"an accepted frame breaks the run",
         {{1, cloud, none}, {2, cloud, none}, {3, clear, none}, {4, cloud, none}},
         1},
        {"a frame with stars but too soft breaks it too",
         {{1, cloud, none}, {2, GradeReason::HfrHigh, none}, {3, cloud, none}, {4, cloud, none}},
         2},
        {"so does a bright sky with stars",
         {{1, cloud, none}, {2, cloud, none}, {2, GradeReason::BackgroundHigh, none}, {3, cloud, none}},
         1},
        {"a starless test frame pauses again",
         {{1, cloud, none}, {2, cloud, none}, {3, cloud, paused}, {0, cloud, paused}},
         4},
        {"a test frame with stars resumes",
         {{1, cloud, none}, {2, cloud, none}, {3, cloud, paused}, {0, clear, resumed}, {4, cloud, none}},
         1},
        {"a late frame of the last plan with stars resumes",
         {{1, cloud, none}, {2, cloud, none}, {3, cloud, paused}, {3, clear, resumed}},
         0},
        {"a late starless frame of the last plan changes nothing",
         {{1, cloud, none}, {2, cloud, none}, {3, cloud, paused}, {3, cloud, none}},
         3},
    };
    for (const auto& c : cases) {
        CloudWatch watch(3, 600);
        QDateTime utc = QDateTime::fromSecsSinceEpoch(1713128400, Qt::UTC);
        for (size_t i = 0; i < c.looks.size(); ++i) {
            const Look& look = c.looks[i];
            utc = utc.addSecs(60);
            const auto change = look.plan == 0 ? watch.looked(look.reason == clear, utc)
                                               : watch.graded(look.plan, look.reason, utc);
            EXPECT_EQ(change, look.change) << c.what << ", look " << i + 1;
            if (change == paused) {
                EXPECT_EQ(watch.nextLook(), utc.addSecs(600)) << c.what;
            }
            EXPECT_EQ(watch.paused(), watch.nextLook().isValid()) << c.what;
        }
        EXPECT_EQ(watch.starless(), c.starless) << c.what;
    }
}

#include "imaging/FrameGrade.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

using namespace kestrove::imaging;

namespace {

FrameMeasurement frame(int stars, double hfr, double background, double noise = 20)
{
    return {stars, hfr, background, noise, std::nullopt};
}

std::vector<FrameMeasurement> repeated(const FrameMeasurement& m, int count)
{
    return std::vector<FrameMeasurement>(static_cast<size_t>(count), m);
}

std::vector<FrameMeasurement> operator+(std::vector<FrameMeasurement> a,
                                        const std::vector<FrameMeasurement>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const FrameMeasurement usual = frame(80, 2.3, 800);

struct GradeCase
{
    const char* name;
    FrameMeasurement frame;
    std::vector<FrameMeasurement> history;
    GradeReason reason;
    const char* text;
    GradeThresholds thresholds = {};
};

} // namespace

TEST(FrameGrade, AgainstTheFloorAndTheTargetsRecentFrames)
{
    GradeThresholds wide;
    wide.window = 30;
    const std::vector<GradeCase> cases = {
        {"first frame of a target", frame(80, 2.3, 800), {}, GradeReason::None, ""},
        {"first frame under the floor",
         frame(3, 2.3, 800),
         {},
         GradeReason::TooFewStars,
         "3 stars where 5 expected"},
        {"first frame: HFR has nothing to compare with", frame(40, 12, 800), {}, GradeReason::None, ""},
        {"first frame: nor has the sky", frame(40, 2.3, 90000), {}, GradeReason::None, ""},
        {"clouds", frame(3, 2.1, 820), repeated(usual, 5), GradeReason::TooFewStars,
         "3 stars where 80 expected"},
        {"a closed roof", frame(0, 0, 300), repeated(usual, 5), GradeReason::TooFewStars,
         "0 stars where 80 expected"},
        {"stars at the fraction", frame(32, 2.3, 800), repeated(usual, 5), GradeReason::None, ""},
        {"stars under the fraction", frame(31, 2.3, 800), repeated(usual, 5), GradeReason::TooFewStars,
         "31 stars where 80 expected"},
        {"the floor over a sparse field's fraction", frame(4, 2.3, 800), repeated(frame(8, 2.3, 800), 3),
         GradeReason::TooFewStars, "4 stars where 8 expected"},
        {"focus lost", frame(60, 6.1, 800), repeated(usual, 5), GradeReason::HfrHigh,
         "HFR 6.1 px where 2.3 expected"},
        {"HFR under the factor", frame(60, 3.4, 800), repeated(usual, 5), GradeReason::None, ""},
        {"defocus also loses stars: focus it is", frame(20, 6.0, 800), repeated(usual, 5),
         GradeReason::HfrHigh, "HFR 6.0 px where 2.3 expected"},
        {"a few blurred blobs in cloud: cloud it is", frame(3, 9.0, 800), repeated(usual, 5),
         GradeReason::TooFewStars, "3 stars where 80 expected"},
        {"twilight", frame(70, 2.4, 2400), repeated(usual, 5), GradeReason::BackgroundHigh,
         "background 2400 ADU where 800 expected, sky 3.0 times as bright"},
        {"the offset dilutes the level, the noise tells", frame(70, 2.4, 1300, 36), repeated(usual, 5),
         GradeReason::BackgroundHigh, "background 1300 ADU where 800 expected, sky 3.2 times as bright"},
        {"a fixed noise leaves the level to tell", frame(70, 2.4, 1700, 20), repeated(usual, 5),
         GradeReason::BackgroundHigh, "background 1700 ADU where 800 expected, sky 2.1 times as bright"},
        {"sky under the factor", frame(70, 2.4, 1590, 28), repeated(usual, 5), GradeReason::None, ""},
        {"a calibrated sky in small units", frame(70, 2.4, 30.25), repeated(frame(80, 2.3, 12.4), 3),
         GradeReason::BackgroundHigh, "background 30.3 ADU where 12.4 expected, sky 2.4 times as bright"},
        {"a reference sky at zero tests no ratio", frame(70, 2.4, 50), repeated(frame(80, 2.3, 0), 3),
         GradeReason::None, ""},
        {"one odd frame does not move the median", frame(3, 2.3, 800),
         repeated(usual, 2) + std::vector{frame(5, 9, 5000)} + repeated(usual, 2), GradeReason::TooFewStars,
         "3 stars where 80 expected"},
        {"an even window takes the middle two",
         frame(3, 2.3, 800),
         {frame(70, 2, 700), frame(90, 2.6, 900)},
         GradeReason::TooFewStars,
         "3 stars where 80 expected"},
        {"only the newest window counts", frame(60, 2.3, 800),
         repeated(frame(200, 2.3, 800), 10) + repeated(frame(20, 2.3, 800), 20), GradeReason::TooFewStars,
         "60 stars where 200 expected"},
        {"a wider window reaches the older frames", frame(60, 2.3, 800),
         repeated(frame(200, 2.3, 800), 10) + repeated(frame(20, 2.3, 800), 20), GradeReason::None, "", wide},
    };
    for (const GradeCase& c : cases) {
        const FrameGrade g = grade(c.frame, c.history, c.thresholds);
        EXPECT_EQ(g.reason, c.reason) << c.name;
        EXPECT_EQ(g.accepted(), c.reason == GradeReason::None) << c.name;
        EXPECT_EQ(g.text, QString::fromUtf8(c.text)) << c.name;
    }
}

TEST(FrameGrade, MeasurementCarriesTheFieldAndASolvedCentre)
{
    StarField field;
    field.stars = {{10, 10, 5000, 2.0}, {50, 60, 3000, 2.4}, {90, 20, 1000, 2.2}};
    field.medianHfr = 2.2;
    field.background = 812;
    field.noise = 17;

    const FrameMeasurement plain = measureFrame(field);
    EXPECT_EQ(plain.stars, 3);
    EXPECT_EQ(plain.medianHfr, 2.2);
    EXPECT_EQ(plain.background, 812);
    EXPECT_EQ(plain.noise, 17);
    EXPECT_FALSE(plain.solved);

    SolveResult solve;
    solve.rightAscension = 150;
    solve.declination = 20.01;
    EXPECT_FALSE(measureFrame(field, solve, 150, 20).solved) << "a frame that did not solve has no centre";
    solve.solved = true;
    const FrameMeasurement solved = measureFrame(field, solve, 150, 20);
    ASSERT_TRUE(solved.solved);
    EXPECT_EQ(solved.solved->rightAscension, 150);
    EXPECT_EQ(solved.solved->declination, 20.01);
    EXPECT_NEAR(solved.solved->pointingError, 36, 1e-6);
    EXPECT_EQ(solved.stars, 3);
}

namespace {

// One target's sky: fixed stars whose numbers grow toward the faint end, as a field's do.
struct Field
{
    std::vector<std::array<double, 3>> stars; // x, y, flux
};

Field makeField(unsigned seed)
{
    Field field;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1);
    for (int i = 0; i < 160; ++i) {
        // Magnitudes 0..5 below the brightest, three times as many per magnitude fainter.
        const double mag = std::log10(1 + u(random) * (std::pow(10, 2.5) - 1)) / 0.5;
        field.stars.push_back(
            {15 + u(random) * 370, 15 + u(random) * 270, 120000 * std::pow(10, -0.4 * mag)});
    }
    return field;
}

// A 400 × 300 frame: camera offset 500, sky `sky` with its photon noise, stars of Gaussian `sigma`
// dimmed by `transparency`.
FitsImage render(const Field& field, double sky, double sigma, double transparency, unsigned seed)
{
    FitsImage image;
    image.width = 400;
    image.height = 300;
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    std::mt19937 random(seed);
    std::normal_distribution<float> gauss(0, static_cast<float>(std::sqrt(sky + 25)));
    for (float& p : image.pixels)
        p = static_cast<float>(500 + sky) + gauss(random);
    for (const auto& [x, y, flux] : field.stars) {
        const int r = static_cast<int>(std::ceil(sigma * 5));
        for (int j = std::max(0, static_cast<int>(y) - r);
             j <= std::min(image.height - 1, static_cast<int>(y) + r); ++j)
            for (int i = std::max(0, static_cast<int>(x) - r);
                 i <= std::min(image.width - 1, static_cast<int>(x) + r); ++i) {
                const double d2 = (i - x) * (i - x) + (j - y) * (j - y);
                image.pixels[static_cast<size_t>(j) * image.width + i] += static_cast<float>(
                    transparency * flux / (2 * M_PI * sigma * sigma) * std::exp(-d2 / (2 * sigma * sigma)));
            }
    }
    return image;
}

} // namespace

TEST(FrameGrade, AClearNightIsAllAcceptedAndBadSkiesAreNot)
{
    // Seeing, sky and transparency wander as on a clear night; each frame is graded against the
    // accepted ones before it.
    const Field field = makeField(11);
    std::mt19937 random(5);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<FrameMeasurement> accepted; // newest first
    for (int n = 0; n < 50; ++n) {
        const double sigma = 1.45 + 0.15 * u(random);
        const double sky = 300 * (1 + 0.3 * n / 50.0) * (1 + 0.05 * u(random));
        const double transparency = 0.95 + 0.05 * u(random);
        const FrameMeasurement m =
            measureFrame(detectStars(render(field, sky, sigma, transparency, 100 + n)));
        const FrameGrade g = grade(m, accepted);
        if (!g.accepted()) {
            ADD_FAILURE() << "frame " << n << " rejected: " << g.text.toStdString();
            continue;
        }
        accepted.insert(accepted.begin(), m);
    }

    const struct
    {
        const char* name;
        double sky, sigma, transparency;
        GradeReason reason;
    } bad[] = {
        {"two magnitudes of cloud", 320, 1.45, 0.16, GradeReason::TooFewStars},
        {"a closed roof", 0, 1.45, 0, GradeReason::TooFewStars},
        {"out of focus", 320, 3.4, 0.97, GradeReason::HfrHigh},
        {"moonlight", 1000, 1.45, 0.97, GradeReason::BackgroundHigh},
    };
    for (const auto& b : bad) {
        const FrameMeasurement m =
            measureFrame(detectStars(render(field, b.sky, b.sigma, b.transparency, 999)));
        const FrameGrade g = grade(m, accepted);
        EXPECT_EQ(g.reason, b.reason)
            << b.name << ": " << g.text.toStdString() << " (" << m.stars << " stars, HFR " << m.medianHfr
            << ", background " << m.background << ")";
    }
}

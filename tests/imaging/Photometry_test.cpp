#include "imaging/Ensemble.h"
#include "imaging/LightcurveFrame.h"
#include "imaging/Photometry.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

using namespace kestrove::imaging;

namespace {

// A star put on a frame, by 0-based pixel and magnitude (0 is 10^6 ADU).
struct Injected
{
    double x = 0;
    double y = 0;
    double mag = 0;
};

// A camera of gain 2 e-/ADU, read noise 8 e-, offset 500 ADU under a sky of 300 ADU, photon noise
// drawn for sky and stars alike.
constexpr double kGain = 2;
constexpr double kReadNoise = 8;
constexpr double kOffset = 500;
constexpr double kSky = 300;

double fluxOf(double mag)
{
    return 1e6 * std::pow(10, -0.4 * mag);
}

FitsImage render(const std::vector<Injected>& stars, int width, int height, double sigma, unsigned seed,
                 double saturation = 0)
{
    std::vector<double> light(static_cast<size_t>(width) * height, kSky);
    const int reach = static_cast<int>(std::ceil(sigma * 6));
    for (const Injected& s : stars) {
        const double flux = fluxOf(s.mag);
        for (int j = std::max(0, static_cast<int>(s.y) - reach);
             j <= std::min(height - 1, static_cast<int>(s.y) + reach); ++j)
            for (int i = std::max(0, static_cast<int>(s.x) - reach);
                 i <= std::min(width - 1, static_cast<int>(s.x) + reach); ++i) {
                const double d2 = (i - s.x) * (i - s.x) + (j - s.y) * (j - s.y);
                light[static_cast<size_t>(j) * width + i] +=
                    flux / (2 * M_PI * sigma * sigma) * std::exp(-d2 / (2 * sigma * sigma));
            }
    }
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0, 1);
    FitsImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(light.size());
    for (size_t k = 0; k < light.size(); ++k) {
        const double electrons = light[k] * kGain;
        double adu =
            kOffset + (electrons + gauss(random) * std::sqrt(electrons + kReadNoise * kReadNoise)) / kGain;
        if (saturation > 0)
            adu = std::min(adu, saturation);
        image.pixels[k] = static_cast<float>(adu);
    }
    return image;
}

Wcs wcsFor(int width, int height)
{
    Wcs w;
    w.crpix1 = (width + 1) / 2.0;
    w.crpix2 = (height + 1) / 2.0;
    w.crval1 = 150.0;
    w.crval2 = 30.0;
    const double s = 1.5 / 3600;
    w.cd11 = -s;
    w.cd22 = s;
    return w;
}

CatalogueStar catalogued(const Wcs& wcs, const Injected& s, const QString& name,
                         std::optional<double> mag = {})
{
    CatalogueStar c;
    c.name = name;
    wcs.pixelToSky(s.x + 1, s.y + 1, c.rightAscension, c.declination);
    c.magnitude = mag;
    return c;
}

// A field of 256 x 256: the target in the middle and eight comparison-like stars around it.
std::vector<Injected> field(double targetMag)
{
    std::vector<Injected> stars{{128.3, 127.6, targetMag}};
    const double mags[] = {2.6, 3.1, 3.4, 2.9, 3.8, 2.2, 3.3, 4.0};
    for (int k = 0; k < 8; ++k) {
        const double angle = k * M_PI / 4 + 0.2;
        stars.push_back(
            {128 + 80 * std::cos(angle) + 0.37 * k, 128 + 80 * std::sin(angle) - 0.21 * k, mags[k]});
    }
    return stars;
}

double rms(const std::vector<double>& v)
{
    const double mean = std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
    double sum = 0;
    for (double x : v)
        sum += (x - mean) * (x - mean);
    return std::sqrt(sum / static_cast<double>(v.size() - 1));
}

} // namespace

TEST(Photometry, AperturesFollowTheSeeingAboveAFloor)
{
    const Apertures wide = aperturesFor(2.0);
    EXPECT_DOUBLE_EQ(wide.radius, 5);
    EXPECT_DOUBLE_EQ(wide.skyInner, 10);
    EXPECT_DOUBLE_EQ(wide.skyOuter, 16);
    // An undersampled star keeps the floor's radius and rings in proportion to it.
    const Apertures tight = aperturesFor(0.4);
    EXPECT_DOUBLE_EQ(tight.radius, 2);
    EXPECT_DOUBLE_EQ(tight.skyInner, 4);
    EXPECT_DOUBLE_EQ(tight.skyOuter, 6.4);
}

TEST(Photometry, InjectedMagnitudesAreRecoveredAgainstACatalogueEnsemble)
{
    // Seeing, the target's magnitude, how far the solve puts the stars from where they are.
    struct Case
    {
        double sigma;
        double targetMag;
        double wcsError;
    };
    for (const Case c :
         {Case{1.0, 3.0, 0.0}, Case{1.5, 2.5, 1.2}, Case{2.5, 4.5, 0.8}, Case{1.5, 5.5, 0.0}}) {
        const std::vector<Injected> stars = field(c.targetMag);
        const FitsImage image = render(stars, 256, 256, c.sigma, 11);
        const Wcs truth = wcsFor(256, 256);
        Wcs solved = truth;
        solved.crpix1 += c.wcsError;
        solved.crpix2 -= c.wcsError / 2;
        LightcurveStars named;
        named.target = catalogued(truth, stars[0], QStringLiteral("V1"));
        for (size_t k = 1; k < 6; ++k)
            named.comparisons.push_back(catalogued(truth, stars[k], QString::number(k), stars[k].mag));
        named.check = catalogued(truth, stars[7], QStringLiteral("K"));
        named.standard = true;

        const PhotometryFrame frame(image, {kGain, 0});
        const LightcurveFrame measured = measureStars(frame, solved, named, aperturesFor(c.sigma * 1.1774));
        ASSERT_TRUE(measured.magnitude) << c.sigma;
        EXPECT_NEAR(measured.magnitude->value, c.targetMag, 4 * measured.magnitude->error + 0.003)
            << "seeing " << c.sigma << ", target " << c.targetMag;
        EXPECT_LT(measured.magnitude->error, 0.03) << c.targetMag;
        ASSERT_TRUE(measured.checkMagnitude);
        EXPECT_NEAR(measured.checkMagnitude->value, stars[7].mag, 4 * measured.checkMagnitude->error + 0.003);
        // Centred on the light, whatever the solve's offset.
        EXPECT_NEAR(measured.target.x, stars[0].x, 0.1);
        EXPECT_NEAR(measured.target.y, stars[0].y, 0.1);
    }
}

TEST(Photometry, TheErrorGivenIsTheScatterSeenOverNoiseDraws)
{
    // From a star well above the sky (its own photon noise rules) to one near the sky's noise.
    for (const double targetMag : {2.0, 4.0, 6.0}) {
        const std::vector<Injected> stars = field(targetMag);
        const Wcs wcs = wcsFor(256, 256);
        LightcurveStars named;
        named.target = catalogued(wcs, stars[0], QStringLiteral("V1"));
        for (size_t k = 1; k < 9; ++k)
            named.comparisons.push_back(catalogued(wcs, stars[k], QString::number(k), stars[k].mag));
        named.standard = true;
        std::vector<double> values, errors;
        for (unsigned draw = 0; draw < 100; ++draw) {
            const PhotometryFrame frame(render(stars, 256, 256, 1.6, 1000 + draw), {kGain, 0});
            const LightcurveFrame m = measureStars(frame, wcs, named, aperturesFor(1.6 * 1.1774));
            ASSERT_TRUE(m.magnitude) << targetMag << " draw " << draw;
            values.push_back(m.magnitude->value);
            errors.push_back(m.magnitude->error);
        }
        const double scatter = rms(values);
        const double meanError =
            std::accumulate(errors.begin(), errors.end(), 0.0) / static_cast<double>(errors.size());
        // 100 draws know a scatter to about 7 %.
        EXPECT_NEAR(meanError / scatter, 1.0, 0.2)
            << "target " << targetMag << ": error " << meanError << ", scatter " << scatter;
        const double mean =
            std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
        EXPECT_NEAR(mean, targetMag, 3 * scatter / std::sqrt(100.0) + 0.005) << targetMag;
    }
}

TEST(Photometry, TheEnsembleTakesFitStarsNearTheTargetsBrightness)
{
    const int size = 320;
    // The target, then stars each unfit for one reason, then fit stars of several brightnesses.
    std::vector<Injected> stars{{160, 160, 3.0}, {60, 60, 0.2}, // saturated
                                {8, 200, 3.0},                  // its ring runs off the frame
                                {250, 90, 3.0},                 // a close pair
                                {256, 93, 3.5},                 //
                                {175, 168, 3.0},                // in the target's ring
                                {60, 250, 3.1},                 // fit, near the target's brightness
                                {250, 250, 2.7},                //
                                {110, 60, 3.6},                 //
                                {200, 60, 7.5},                 // fit but far fainter
                                {270, 170, 2.3}};               //
    const FitsImage image = render(stars, size, size, 1.5, 5, 30000);
    const PhotometryFrame frame(image, {kGain, 0});
    EXPECT_DOUBLE_EQ(frame.saturation(), 30000);
    const Apertures apertures = aperturesFor(1.5 * 1.1774);
    const StarFlux target = frame.measure(160, 160, apertures);
    ASSERT_TRUE(target.usable());
    const ComparisonChoice choice = chooseComparisons(frame, 160, 160, target.flux, apertures, {3, 2.0, 1.0});
    const auto injectedAt = [&](size_t source) {
        const Source& s = frame.sources()[source];
        for (size_t k = 0; k < stars.size(); ++k)
            if (std::hypot(stars[k].x - s.x, stars[k].y - s.y) < 1)
                return static_cast<int>(k);
        return -1;
    };
    std::vector<int> ensemble;
    for (size_t i : choice.ensemble)
        ensemble.push_back(injectedAt(i));
    // Nearest the target's brightness first; the faint one is out of range.
    EXPECT_EQ(ensemble, (std::vector<int>{6, 7, 8}));
    ASSERT_TRUE(choice.check);
    EXPECT_EQ(injectedAt(*choice.check), 10);
    // The saturated star is known for it, measured or chosen.
    EXPECT_TRUE(frame.measure(60, 60, apertures).flags & Saturated);
    EXPECT_TRUE(frame.measure(3, 200, apertures).flags & OffChip);
}

TEST(Photometry, AStarChosenFromTheFrameNamesItselfByItsPlace)
{
    struct Case
    {
        double ra;
        double dec;
        const char* name;
    };
    for (const Case c :
         {Case{155.6380, 20.18472, "J102233.12+201105.0"}, Case{0.0, -0.00001, "J000000.00+000000.0"},
          Case{0.0, -0.0001, "J000000.00-000000.4"}, Case{359.99999999, -89.5, "J000000.00-893000.0"},
          Case{15.0, 0.000001, "J010000.00+000000.0"}})
        EXPECT_EQ(positionName(c.ra, c.dec), QLatin1String(c.name)) << c.name;
}

TEST(Photometry, ChosenStarsCarryTheTargetThroughLaterFrames)
{
    const std::vector<Injected> stars = field(3.0);
    const Wcs wcs = wcsFor(256, 256);
    const Apertures apertures = aperturesFor(1.5 * 1.1774);
    const PhotometryFrame first(render(stars, 256, 256, 1.5, 21), {kGain, 0});
    const LightcurveStars chosen =
        chooseStars(first, wcs, catalogued(wcs, stars[0], QStringLiteral("V1")), apertures, {4, 2.0, 1.0});
    ASSERT_EQ(chosen.comparisons.size(), 4u);
    ASSERT_TRUE(chosen.check);
    double meanReference = 0;
    for (const CatalogueStar& c : chosen.comparisons) {
        ASSERT_TRUE(c.magnitude);
        meanReference += *c.magnitude / 4;
    }
    EXPECT_NEAR(meanReference, 0, 1e-9);
    // A later frame where the target is 0.3 magnitudes fainter and one comparison has left the
    // field: the difference holds.
    std::vector<Injected> later = stars;
    later[0].mag += 0.3;
    const LightcurveFrame a = measureStars(first, wcs, chosen, apertures);
    const auto gone = pixelOf(wcs, chosen.comparisons[1].rightAscension, chosen.comparisons[1].declination);
    ASSERT_TRUE(gone);
    for (Injected& s : later)
        if (std::hypot(gone->first - s.x, gone->second - s.y) < 1)
            s.x = -50;
    const PhotometryFrame second(render(later, 256, 256, 2.0, 22), {kGain, 0});
    const LightcurveFrame b = measureStars(second, wcs, chosen, aperturesFor(2.0 * 1.1774));
    EXPECT_FALSE(b.comparisons[1].usable());
    ASSERT_TRUE(a.magnitude && b.magnitude);
    EXPECT_NEAR(b.magnitude->value - a.magnitude->value, 0.3,
                4 * std::hypot(a.magnitude->error, b.magnitude->error));
}

TEST(Ensemble, ANightDropsTheComparisonThatVariesAndKeepsTheTargetsCurve)
{
    // Six comparisons, the fourth varying by 0.15 magnitude; the target by a sinusoid of 0.5.
    std::mt19937 random(3);
    std::normal_distribution<double> gauss(0, 1);
    const double own[] = {1.0, 1.4, 0.7, 1.2, 0.9, 1.6};
    std::vector<NightFrame> night;
    std::vector<double> truth;
    for (int f = 0; f < 60; ++f) {
        const double phase = 2 * M_PI * f / 40.0;
        const double extinction = 0.3 * std::sin(f / 20.0) + 5; // clouds and airmass, shared by all
        NightFrame frame;
        truth.push_back(1.5 + 0.25 * std::sin(phase));
        frame.target = Magnitude{truth.back() + extinction + 0.01 * gauss(random), 0.01};
        frame.check = Magnitude{1.1 + extinction + 0.01 * gauss(random), 0.01};
        for (int i = 0; i < 6; ++i) {
            const double varies = i == 3 ? 0.15 * std::cos(phase * 1.7) : 0;
            // One frame misses a comparison: the zero point holds without it.
            if (f == 30 && i == 0)
                frame.comparisons.push_back(std::nullopt);
            else
                frame.comparisons.push_back(
                    Magnitude{own[i] + varies + extinction + 0.008 * gauss(random), 0.008});
        }
        night.push_back(frame);
    }
    const NightLightcurve solved = solveNight(night);
    EXPECT_EQ(solved.kept, (std::vector<bool>{true, true, true, false, true, true}));
    EXPECT_GT(solved.scatter[3] / solved.expected[3], 5);
    // Differential: against the kept comparisons' mean magnitude, 1.12.
    std::vector<double> residuals;
    for (size_t f = 0; f < night.size(); ++f) {
        ASSERT_TRUE(solved.target[f]);
        residuals.push_back(solved.target[f]->value - (truth[f] - 1.12));
        EXPECT_NEAR(solved.target[f]->error, std::hypot(0.01, 0.008 / std::sqrt(5.0)), 1e-3);
    }
    EXPECT_NEAR(std::accumulate(residuals.begin(), residuals.end(), 0.0) / 60, 0, 0.005);
    EXPECT_LT(rms(residuals), 0.015);

    // With the comparisons' catalogue magnitudes, on the catalogue's scale.
    std::vector<std::optional<double>> catalogue(own, own + 6);
    const NightLightcurve standard = solveNight(night, catalogue);
    EXPECT_FALSE(standard.kept[3]);
    for (size_t f = 0; f < night.size(); ++f)
        EXPECT_NEAR(standard.target[f]->value, truth[f], 0.05) << f;
    ASSERT_TRUE(standard.check[10]);
    EXPECT_NEAR(standard.check[10]->value, 1.1, 0.05);
}

// A comparison that drifts over the night stands out from the others' scatter and goes; a faint one
// whose scatter its own errors explain, or a star a little noisier than the rest, stays.
TEST(Ensemble, ACompWithATrendIsDroppedAndSteadyOnesKept)
{
    struct Case
    {
        const char* name;
        int trending;  // the comparison that brightens by 0.3 over the night; -1: none
        int faint;     // the comparison with ten times the errors; -1: none
        double excess; // a steady comparison's extra scatter beyond its errors (the last one's)
        bool everyone; // every comparison has that extra scatter (flat-field errors, say)
        std::vector<bool> kept;
    };
    const Case cases[] = {
        {"steady", -1, -1, 0, false, {true, true, true, true, true}},
        {"the first trends", 0, -1, 0, false, {false, true, true, true, true}},
        {"the middle trends", 2, -1, 0, false, {true, true, false, true, true}},
        {"a faint one is no outlier", -1, 1, 0, false, {true, true, true, true, true}},
        {"a trend beside a faint one", 3, 1, 0, false, {true, true, true, false, true}},
        {"a little extra scatter is under the floor", -1, -1, 0.006, false, {true, true, true, true, true}},
        // Beyond their errors alike: none stands out from the others.
        {"all beyond their errors", -1, -1, 0.02, true, {true, true, true, true, true}},
        {"a trend among them", 1, -1, 0.02, true, {true, false, true, true, true}},
    };
    for (const Case& c : cases) {
        std::mt19937 random(11);
        std::normal_distribution<double> gauss(0, 1);
        std::vector<NightFrame> night(50);
        for (size_t f = 0; f < night.size(); ++f) {
            const double zero = 20 + 0.2 * std::sin(f / 7.0);
            night[f].target = Magnitude{zero + 1 + 0.005 * gauss(random), 0.005};
            for (int i = 0; i < 5; ++i) {
                const double error = i == c.faint ? 0.05 : 0.005;
                const double trend = i == c.trending ? -0.3 * f / 49.0 : 0;
                const double extra = i == 4 || c.everyone ? c.excess * gauss(random) : 0;
                night[f].comparisons.push_back(
                    Magnitude{zero + 0.4 * i + trend + extra + error * gauss(random), error});
            }
        }
        const NightLightcurve solved = solveNight(night);
        EXPECT_EQ(solved.kept, c.kept) << c.name;
        // The target is steady against what stays.
        std::vector<double> target;
        for (const auto& m : solved.target)
            target.push_back(m->value);
        EXPECT_LT(rms(target), c.everyone ? 0.02 : 0.012) << c.name;
    }
}

// The gain comes from the frame's EGAIN card, else the settings, else 1 e-/ADU; a GAIN card is a
// driver's setting and is not taken for it. The star's photon noise, its flux over the gain, is
// then in its error.
TEST(Photometry, TheGainComesFromTheFrameOrTheSettings)
{
    struct Case
    {
        const char* name;
        QList<HeaderCard> cards;
        std::optional<double> configured;
        double gain;
        FrameGain::Source source;
    };
    const Case cases[] = {
        {"EGAIN", {{"EGAIN", 1.6, {}}}, 2.5, 1.6, FrameGain::Source::Frame},
        {"the settings", {}, 2.5, 2.5, FrameGain::Source::Settings},
        {"a driver's GAIN setting", {{"GAIN", 120.0, {}}}, 2.5, 2.5, FrameGain::Source::Settings},
        {"a nonsense EGAIN", {{"EGAIN", 0.0, {}}}, std::nullopt, 1, FrameGain::Source::Assumed},
        {"nothing", {}, std::nullopt, 1, FrameGain::Source::Assumed},
    };
    QTemporaryDir dir;
    const FitsImage rendered = render({{64.2, 63.7, 3.0}}, 128, 128, 1.5, 4);
    for (const Case& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".fits"));
        writeFitsImage(path, rendered, c.cards);
        const FitsImage image = readFitsImage(path);
        const FrameGain gain = frameGain(image, c.configured);
        EXPECT_DOUBLE_EQ(gain.electronsPerAdu, c.gain) << c.name;
        EXPECT_EQ(gain.source, c.source) << c.name;

        const Apertures apertures = aperturesFor(1.77);
        const StarFlux without = PhotometryFrame(image).measure(64.2, 63.7, apertures);
        const StarFlux with =
            PhotometryFrame(image, {gain.electronsPerAdu, 0}).measure(64.2, 63.7, apertures);
        EXPECT_NEAR(with.fluxError * with.fluxError - without.fluxError * without.fluxError,
                    with.flux / c.gain, 1e-6 * with.flux)
            << c.name;
    }
}

TEST(Ensemble, AQuietEnsembleIsKeptWhole)
{
    std::mt19937 random(9);
    std::normal_distribution<double> gauss(0, 1);
    std::vector<NightFrame> night(40);
    for (NightFrame& frame : night)
        for (int i = 0; i < 5; ++i)
            frame.comparisons.push_back(Magnitude{i * 0.3 + 0.01 * gauss(random), 0.01});
    const NightLightcurve solved = solveNight(night);
    EXPECT_EQ(std::count(solved.kept.begin(), solved.kept.end(), true), 5);
    for (double s : solved.scatter)
        EXPECT_LT(s, 0.02);
}

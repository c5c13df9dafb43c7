// The photometric scatter against magnitude: a simulated field of stars over seven magnitudes
// imaged again and again through passing thin cloud and changing seeing, every star measured in
// each frame and the night solved as one ensemble. Each star's rms against the others is set
// beside the rms its errors allow and the noise its photons, the sky and the read noise should
// give, in one-magnitude bins; then the photometry's time per frame.
//
// Usage: lightcurve_scatter [FRAMES [STARS_PER_MAGNITUDE]]

#include "imaging/Ensemble.h"
#include "imaging/Photometry.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

using namespace kestrove::imaging;

namespace {

constexpr int kSize = 512;
constexpr double kGain = 2;      // e-/ADU
constexpr double kReadNoise = 8; // e-
constexpr double kOffset = 500;  // ADU
constexpr double kSky = 300;     // ADU a pixel
constexpr double kSaturation = 65535;

struct SkyStar
{
    double x, y, mag;
};

double fluxOf(double mag)
{
    return 1e6 * std::pow(10, -0.4 * mag); // ADU over the frame at transparency 1
}

// Stars evenly over magnitudes 1 to 8, no two within 24 pixels, none near the edge.
std::vector<SkyStar> makeField(int perMagnitude, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<SkyStar> stars;
    const int count = perMagnitude * 7;
    while (static_cast<int>(stars.size()) < count) {
        const SkyStar s{30 + u(random) * (kSize - 60), 30 + u(random) * (kSize - 60),
                        1 + 7.0 * static_cast<double>(stars.size()) / count};
        if (std::none_of(stars.begin(), stars.end(),
                         [&](const SkyStar& o) { return std::hypot(o.x - s.x, o.y - s.y) < 24; }))
            stars.push_back(s);
    }
    return stars;
}

FitsImage render(const std::vector<SkyStar>& field, double sigma, double transparency, unsigned seed)
{
    std::vector<double> light(static_cast<size_t>(kSize) * kSize, kSky);
    const int reach = static_cast<int>(std::ceil(sigma * 6));
    for (const SkyStar& s : field) {
        const double flux = fluxOf(s.mag) * transparency;
        for (int j = std::max(0, static_cast<int>(s.y) - reach);
             j <= std::min(kSize - 1, static_cast<int>(s.y) + reach); ++j)
            for (int i = std::max(0, static_cast<int>(s.x) - reach);
                 i <= std::min(kSize - 1, static_cast<int>(s.x) + reach); ++i) {
                const double d2 = (i - s.x) * (i - s.x) + (j - s.y) * (j - s.y);
                light[static_cast<size_t>(j) * kSize + i] +=
                    flux / (2 * M_PI * sigma * sigma) * std::exp(-d2 / (2 * sigma * sigma));
            }
    }
    std::mt19937 random(seed);
    std::normal_distribution<double> gauss(0, 1);
    FitsImage image;
    image.width = kSize;
    image.height = kSize;
    image.pixels.resize(light.size());
    for (size_t k = 0; k < light.size(); ++k) {
        const double electrons = light[k] * kGain;
        const double adu =
            kOffset + (electrons + gauss(random) * std::sqrt(electrons + kReadNoise * kReadNoise)) / kGain;
        image.pixels[k] = static_cast<float>(std::min(adu, kSaturation));
    }
    return image;
}

// The magnitude error photons, the sky and the read noise give a star of `flux` ADU in the
// apertures, the ring's mean sky over its clear area included.
double expectedError(double flux, const Apertures& a)
{
    const double area = M_PI * a.radius * a.radius;
    const double ring = M_PI * (a.skyOuter * a.skyOuter - a.skyInner * a.skyInner);
    const double pixelVariance = kSky * kGain + kReadNoise * kReadNoise; // e-^2
    const double electrons = flux * kGain;
    const double variance = electrons + area * pixelVariance * (1 + area / ring);
    return 2.5 / std::log(10.0) * std::sqrt(variance) / electrons;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::atoi(argv[1]) : 40;
    const int perMagnitude = argc > 2 ? std::atoi(argv[2]) : 8;
    const std::vector<SkyStar> field = makeField(perMagnitude, 7);
    std::mt19937 random(13);
    std::uniform_real_distribution<double> u(0, 1);

    std::vector<NightFrame> night;
    std::vector<double> expected(field.size(), 0);
    std::vector<double> milliseconds;
    for (int f = 0; f < frames; ++f) {
        const double sigma = 1.3 + 0.4 * u(random);                              // seeing
        const double transparency = 0.75 + 0.25 * std::cos(f / 6.0) * u(random); // thin cloud
        const FitsImage image = render(field, sigma, transparency, 100 + f);
        QElapsedTimer timer;
        timer.start();
        const PhotometryFrame frame(image, {kGain, kSaturation});
        // The half-flux radius of a Gaussian star is 1.177 sigma.
        const Apertures apertures = aperturesFor(1.1774 * sigma);
        NightFrame n;
        for (size_t i = 0; i < field.size(); ++i) {
            const StarFlux s = frame.measureCentred(field[i].x, field[i].y, apertures);
            n.comparisons.push_back(s.usable() ? std::optional(Magnitude{s.magnitude(), s.magnitudeError()})
                                               : std::nullopt);
            const double e = expectedError(fluxOf(field[i].mag) * transparency, apertures);
            expected[i] += e * e / frames;
        }
        milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        night.push_back(n);
    }
    NightRules rules;
    rules.minimumComparisons = static_cast<int>(field.size()); // every star kept, to be seen
    const NightLightcurve solved = solveNight(night, {}, rules);

    std::printf("%d frames of %d x %d, %zu stars; gain %.0f e-/ADU, read noise %.0f e-, sky %.0f ADU\n",
                frames, kSize, kSize, field.size(), kGain, kReadNoise, kSky);
    std::printf("magnitude  peak ADU  stars  rms (mag)  errors' rms  photons+sky+read  rms/expected\n");
    for (int bin = 1; bin < 8; ++bin) {
        std::vector<double> rms, errors, noise;
        for (size_t i = 0; i < field.size(); ++i)
            if (field[i].mag >= bin && field[i].mag < bin + 1 && solved.expected[i] > 0) {
                rms.push_back(solved.scatter[i]);
                errors.push_back(solved.expected[i]);
                noise.push_back(std::sqrt(expected[i]));
            }
        const double peak = fluxOf(bin + 0.5) * 0.875 / (2 * M_PI * 1.5 * 1.5) + kSky + kOffset;
        std::printf("%d-%d      %8.0f  %5zu  %9.4f  %11.4f  %16.4f  %12.2f\n", bin, bin + 1, peak, rms.size(),
                    median(rms), median(errors), median(noise), median(rms) / median(noise));
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("photometry of a frame (%zu stars, background and sources included): median %.1f ms, "
                "slowest %.1f ms\n",
                field.size(), milliseconds[milliseconds.size() / 2], milliseconds.back());
    return 0;
}

#pragma once

// Frames of a synthetic sky for the tests of the image work: stars of known places and magnitudes
// drawn through a known WCS on a noisy background.

#include "imaging/FitsFile.h"
#include "imaging/Wcs.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace kestrove::imaging::test {

struct SkyStar
{
    double ra = 0;
    double dec = 0;
    double mag = 0;
};

// How a frame is taken: its sky, noise, seeing and how many counts a star of magnitude 0 gives.
struct Exposure
{
    double background = 500;
    double noise = 8;
    double sigma = 1.3;       // the stars' Gaussian sigma, pixels
    double zeroPoint = 25;    // a star of this magnitude gives one count
    double transparency = 1;  // the fraction of the light that gets through
    float saturation = 60000; // no pixel above it
    unsigned seed = 1;
};

inline FitsImage noiseFrame(int width, int height, double background, double noise, unsigned seed)
{
    FitsImage image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height);
    std::mt19937 random(seed);
    std::normal_distribution<float> gauss(static_cast<float>(background), static_cast<float>(noise));
    for (float& p : image.pixels)
        p = gauss(random);
    return image;
}

// Adds a circular Gaussian star of total `flux` at 0-based (x, y), each pixel's share integrated
// over the pixel (so that a star keeps its flux however it falls on the pixels).
inline void drawStar(FitsImage& image, double x, double y, double flux, double sigma)
{
    const int r = static_cast<int>(std::ceil(sigma * 6));
    const double s = sigma * std::sqrt(2.0);
    auto cumulative = [&](double a, double b) { return 0.5 * (std::erf(b / s) - std::erf(a / s)); };
    for (int j = std::max(0, static_cast<int>(y) - r);
         j <= std::min(image.height - 1, static_cast<int>(y) + r); ++j)
        for (int i = std::max(0, static_cast<int>(x) - r);
             i <= std::min(image.width - 1, static_cast<int>(x) + r); ++i)
            image.pixels[static_cast<size_t>(j) * image.width + i] += static_cast<float>(
                flux * cumulative(i - 0.5 - x, i + 0.5 - x) * cumulative(j - 0.5 - y, j + 0.5 - y));
}

// A TAN WCS centred on the image, `scale` arcseconds a pixel, east to the left, turned by `rotation`.
inline Wcs skyWcs(double ra, double dec, double scale, int width, int height, double rotation = 0)
{
    Wcs w;
    w.crpix1 = (width + 1) / 2.0;
    w.crpix2 = (height + 1) / 2.0;
    w.crval1 = ra;
    w.crval2 = dec;
    const double s = scale / 3600.0;
    const double t = rotation * M_PI / 180;
    w.cd11 = -s * std::cos(t);
    w.cd12 = s * std::sin(t);
    w.cd21 = s * std::sin(t);
    w.cd22 = s * std::cos(t);
    return w;
}

// `count` stars spread over a square of `halfSize` degrees around a place, magnitudes evenly from
// `brightest` to `faintest`.
inline std::vector<SkyStar> starField(double ra, double dec, double halfSize, int count, double brightest,
                                      double faintest, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> u(-1, 1), m(brightest, faintest);
    std::vector<SkyStar> stars;
    for (int i = 0; i < count; ++i)
        stars.push_back(
            {ra + u(random) * halfSize / std::cos(dec * M_PI / 180), dec + u(random) * halfSize, m(random)});
    return stars;
}

inline double countsOf(double mag, const Exposure& e)
{
    return e.transparency * std::pow(10.0, -0.4 * (mag - e.zeroPoint));
}

inline FitsImage render(const std::vector<SkyStar>& sky, const Wcs& wcs, int width, int height,
                        const Exposure& e)
{
    FitsImage image = noiseFrame(width, height, e.background, e.noise, e.seed);
    for (const SkyStar& s : sky) {
        double px = 0, py = 0;
        if (!wcs.skyToPixel(s.ra, s.dec, px, py) || px < -20 || py < -20 || px > width + 20 ||
            py > height + 20)
            continue;
        drawStar(image, px - 1, py - 1, countsOf(s.mag, e), e.sigma);
    }
    for (float& p : image.pixels)
        p = std::min(p, e.saturation);
    return image;
}

} // namespace kestrove::imaging::test

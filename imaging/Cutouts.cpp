#include "imaging/Cutouts.h"

#include "imaging/ImagingError.h"

#include <QSaveFile>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrove::imaging {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr double kFwhmToSigma = 1 / 2.3548;

FitsImage blankImage(int width, int height)
{
    FitsImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<size_t>(width) * height, kNaN);
    return image;
}

float bilinear(const FitsImage& image, double x, double y)
{
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    if (x0 < 0 || y0 < 0 || x0 + 1 >= image.width || y0 + 1 >= image.height)
        return kNaN;
    const double fx = x - x0, fy = y - y0;
    return static_cast<float>((1 - fy) * ((1 - fx) * image.at(x0, y0) + fx * image.at(x0 + 1, y0)) +
                              fy * ((1 - fx) * image.at(x0, y0 + 1) + fx * image.at(x0 + 1, y0 + 1)));
}

// The median of the finite pixels of the square's border, `ring` pixels wide.
double borderSky(const FitsImage& image, int ring)
{
    std::vector<float> values;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const bool border = x < ring || y < ring || x >= image.width - ring || y >= image.height - ring;
            const float v = image.at(x, y);
            if (border && std::isfinite(v))
                values.push_back(v);
        }
    if (values.empty())
        return 0;
    const auto mid = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

// A separable Gaussian blur; NaN pixels count as `fill` and stay NaN.
FitsImage blurred(const FitsImage& image, double sigma, float fill)
{
    if (!(sigma > 0.3))
        return image;
    const int r = static_cast<int>(std::ceil(3 * sigma));
    std::vector<double> kernel(static_cast<size_t>(2 * r + 1));
    double total = 0;
    for (int k = -r; k <= r; ++k)
        total += kernel[static_cast<size_t>(k + r)] = std::exp(-k * k / (2 * sigma * sigma));
    for (double& k : kernel)
        k /= total;
    auto value = [&](const FitsImage& im, int x, int y) {
        x = std::clamp(x, 0, im.width - 1);
        y = std::clamp(y, 0, im.height - 1);
        const float v = im.at(x, y);
        return std::isfinite(v) ? v : fill;
    };
    FitsImage across = image, out = image;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            double sum = 0;
            for (int k = -r; k <= r; ++k)
                sum += kernel[static_cast<size_t>(k + r)] * value(image, x + k, y);
            across.pixels[static_cast<size_t>(y) * image.width + x] = static_cast<float>(sum);
        }
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            double sum = 0;
            for (int k = -r; k <= r; ++k)
                sum += kernel[static_cast<size_t>(k + r)] * value(across, x, y + k);
            const size_t i = static_cast<size_t>(y) * image.width + x;
            out.pixels[i] = std::isfinite(image.pixels[i]) ? static_cast<float>(sum) : kNaN;
        }
    return out;
}

FitsImage cropped(const FitsImage& image, int margin)
{
    FitsImage out = blankImage(image.width - 2 * margin, image.height - 2 * margin);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            out.pixels[static_cast<size_t>(y) * out.width + x] = image.at(x + margin, y + margin);
    return out;
}

} // namespace

Cutouts makeCutouts(const FitsImage& image, const SourceList& imageSources, const FitsImage& reference,
                    const SourceList& referenceSources, const SkyPoint& place, double fluxRatio, int size)
{
    Cutouts cut;
    cut.frameNoise = imageSources.noise;
    cut.referenceNoise = referenceSources.noise;
    cut.reference = cut.frame = cut.difference = blankImage(size, size);
    double px = 0, py = 0;
    if (!imageSources.wcs || !referenceSources.wcs ||
        !imageSources.wcs->skyToPixel(place.ra, place.dec, px, py))
        return cut;

    // Both seeings in the new frame's pixels; the blur needs room around the square.
    const double frameSigma = imageSources.seeing * kFwhmToSigma;
    const double referenceSigma = referenceSources.seeing * kFwhmToSigma * referenceSources.scale() /
                                  std::max(1e-9, imageSources.scale());
    const double blur = std::sqrt(std::abs(frameSigma * frameSigma - referenceSigma * referenceSigma));
    const int pad = static_cast<int>(std::ceil(3 * blur)) + 1;
    const int side = size + 2 * pad;
    const int x0 = static_cast<int>(std::lround(px - 1)) - size / 2 - pad;
    const int y0 = static_cast<int>(std::lround(py - 1)) - size / 2 - pad;

    FitsImage frame = blankImage(side, side), resampled = blankImage(side, side);
    for (int j = 0; j < side; ++j)
        for (int i = 0; i < side; ++i) {
            const int x = x0 + i, y = y0 + j;
            const size_t k = static_cast<size_t>(j) * side + i;
            if (x >= 0 && y >= 0 && x < image.width && y < image.height)
                frame.pixels[k] = image.at(x, y);
            double ra = 0, dec = 0, rx = 0, ry = 0;
            imageSources.wcs->pixelToSky(x + 1, y + 1, ra, dec);
            if (referenceSources.wcs->skyToPixel(ra, dec, rx, ry))
                resampled.pixels[k] = bilinear(reference, rx - 1, ry - 1);
        }
    const double frameSky = borderSky(cropped(frame, pad), 4);
    const double referenceSky = borderSky(cropped(resampled, pad), 4);
    const bool blurFrame = referenceSigma > frameSigma;
    const FitsImage matchedFrame = blurFrame ? blurred(frame, blur, static_cast<float>(frameSky)) : frame;
    const FitsImage matchedReference =
        blurFrame ? resampled : blurred(resampled, blur, static_cast<float>(referenceSky));
    FitsImage difference = blankImage(side, side);
    for (size_t k = 0; k < difference.pixels.size(); ++k)
        difference.pixels[k] = static_cast<float>((matchedFrame.pixels[k] - frameSky) -
                                                  fluxRatio * (matchedReference.pixels[k] - referenceSky));
    cut.frame = cropped(frame, pad);
    cut.reference = cropped(resampled, pad);
    cut.difference = cropped(difference, pad);
    cut.centreX = px - 1 - (x0 + pad);
    cut.centreY = py - 1 - (y0 + pad);
    cut.frameX = px - 1;
    cut.frameY = py - 1;
    return cut;
}

NewLight newLight(const Cutouts& cutouts, const SourceList& imageSources, double radius)
{
    const FitsImage& d = cutouts.difference;
    double cx = cutouts.centreX, cy = cutouts.centreY;
    auto sumAround = [&](double x, double y, double& mx, double& my) {
        double sum = 0, wx = 0, wy = 0, positive = 0;
        const int r = static_cast<int>(std::ceil(radius));
        for (int j = static_cast<int>(y) - r; j <= static_cast<int>(y) + r + 1; ++j)
            for (int i = static_cast<int>(x) - r; i <= static_cast<int>(x) + r + 1; ++i) {
                if (i < 0 || j < 0 || i >= d.width || j >= d.height || std::hypot(i - x, j - y) > radius)
                    continue;
                const float v = d.at(i, j);
                if (!std::isfinite(v))
                    continue;
                sum += v;
                if (v > 0) {
                    positive += v;
                    wx += v * i;
                    wy += v * j;
                }
            }
        mx = positive > 0 ? wx / positive : x;
        my = positive > 0 ? wy / positive : y;
        return sum;
    };
    for (int k = 0; k < 5; ++k) {
        double mx = 0, my = 0;
        sumAround(cx, cy, mx, my);
        // Never farther than the aperture from where it was asked: that would be another's light.
        if (std::hypot(mx - cutouts.centreX, my - cutouts.centreY) > radius)
            break;
        cx = mx;
        cy = my;
    }
    NewLight light;
    double unusedX = 0, unusedY = 0;
    light.flux = sumAround(cx, cy, unusedX, unusedY);
    if (imageSources.wcs) {
        double ra = 0, dec = 0;
        imageSources.wcs->pixelToSky(cutouts.frameX + 1 + cx - cutouts.centreX,
                                     cutouts.frameY + 1 + cy - cutouts.centreY, ra, dec);
        light.place = {ra, dec};
    }
    return light;
}

QImage cutoutImage(const FitsImage& cutout, double noise, bool difference, int zoom)
{
    zoom = std::max(1, zoom);
    QImage picture(cutout.width * zoom, cutout.height * zoom, QImage::Format_Grayscale8);
    picture.fill(0);
    std::vector<float> finite;
    for (float v : cutout.pixels)
        if (std::isfinite(v))
            finite.push_back(v);
    if (finite.empty())
        return picture;
    std::sort(finite.begin(), finite.end());
    const double sky = finite[finite.size() / 2];
    const double top = finite.back();
    const double low = finite.front();
    const double sigma = noise > 0 ? noise : 1;
    auto grey = [&](float v) -> int {
        if (!std::isfinite(v))
            return 0;
        if (difference) {
            const double range = std::max({8 * sigma, std::abs(top), std::abs(low)});
            return static_cast<int>(std::lround(127.5 + 127.5 * std::clamp(v / range, -1.0, 1.0)));
        }
        const double black = sky - 2 * sigma;
        const double white = std::max(sky + 20 * sigma, top);
        return static_cast<int>(
            std::lround(255 * std::sqrt(std::clamp((v - black) / (white - black), 0.0, 1.0))));
    };
    for (int y = 0; y < cutout.height; ++y) {
        for (int x = 0; x < cutout.width; ++x) {
            const int g = grey(cutout.at(x, y));
            // FITS rows run upward: the picture's first line is the image's last row.
            for (int dy = 0; dy < zoom; ++dy) {
                uchar* line = picture.scanLine((cutout.height - 1 - y) * zoom + dy);
                for (int dx = 0; dx < zoom; ++dx)
                    line[x * zoom + dx] = static_cast<uchar>(g);
            }
        }
    }
    return picture;
}

void writeCutouts(const Cutouts& cutouts, const QString& base)
{
    const struct
    {
        const char* suffix;
        const FitsImage& image;
        double noise;
        bool difference;
    } files[] = {{"-reference.png", cutouts.reference, cutouts.referenceNoise, false},
                 {"-new.png", cutouts.frame, cutouts.frameNoise, false},
                 {"-difference.png", cutouts.difference, cutouts.frameNoise, true}};
    for (const auto& f : files) {
        const QString path = base + QLatin1String(f.suffix);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            !cutoutImage(f.image, f.noise, f.difference).save(&file, "PNG") || !file.commit())
            throw ImagingError(QStringLiteral("%1: cannot be written (%2)").arg(path, file.errorString()));
    }
}

} // namespace kestrove::imaging

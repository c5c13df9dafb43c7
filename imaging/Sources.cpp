#include "imaging/Sources.h"

#include "imaging/ImagingError.h"
#include "imaging/SepBackground.h"
#include "imaging/Stars.h"

extern "C" {
#include <sep.h>
}

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrove::imaging {

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const auto mid = values.begin() + static_cast<long>(values.size() / 2);
    std::nth_element(values.begin(), mid, values.end());
    return *mid;
}

// The sky left around a source after the background map: the median of an annulus, once clipped
// of the pixels of other stars. Its count in `pixels`.
double annulusSky(const std::vector<float>& data, int width, int height, double x, double y, double inner,
                  double outer, double rms, int& pixels)
{
    std::vector<double> values;
    const int x0 = std::max(0, static_cast<int>(std::floor(x - outer)));
    const int x1 = std::min(width - 1, static_cast<int>(std::ceil(x + outer)));
    const int y0 = std::max(0, static_cast<int>(std::floor(y - outer)));
    const int y1 = std::min(height - 1, static_cast<int>(std::ceil(y + outer)));
    for (int j = y0; j <= y1; ++j)
        for (int i = x0; i <= x1; ++i) {
            const double d2 = (i - x) * (i - x) + (j - y) * (j - y);
            if (d2 >= inner * inner && d2 <= outer * outer)
                values.push_back(data[static_cast<size_t>(j) * width + i]);
        }
    double sky = median(values);
    std::erase_if(values, [&](double v) { return v > sky + 3 * rms; });
    pixels = static_cast<int>(values.size());
    return values.empty() ? 0 : median(values);
}

} // namespace

bool SourceList::covers(const SkyPoint& place, double margin) const
{
    double px = 0, py = 0;
    if (!wcs || !wcs->skyToPixel(place.ra, place.dec, px, py))
        return false;
    return px - 1 >= margin && py - 1 >= margin && px - 1 <= width - 1 - margin &&
           py - 1 <= height - 1 - margin;
}

SourceList detectSources(const FitsImage& image, const DetectionOptions& options)
{
    SourceList list;
    list.width = image.width;
    list.height = image.height;
    if (image.width < 16 || image.height < 16)
        return list;
    const size_t count = image.pixels.size();
    std::vector<float> data = image.pixels;

    const float maximum = *std::max_element(data.begin(), data.end());
    if (options.saturation > 0)
        list.saturation = options.saturation;
    else if (std::count(data.begin(), data.end(), maximum) >= 3)
        list.saturation = maximum;

    sep_image im{};
    im.data = data.data();
    im.dtype = SEP_TFLOAT;
    im.w = image.width;
    im.h = image.height;
    im.noise_type = SEP_NOISE_NONE;

    std::vector<float> back, rms;
    {
        const SepBackground sky(data, image.width, image.height);
        list.background = sky.level();
        list.noise = sky.noise();
        back = sky.levels();
        rms = sky.noises();
    }
    // A flat frame has no noise to scale by: nothing stands out of it.
    if (!(list.noise > 0))
        return list;
    for (size_t i = 0; i < count; ++i) {
        data[i] -= back[i];
        rms[i] = std::max(rms[i], static_cast<float>(list.noise) * 0.1f);
    }
    im.noise = rms.data();
    im.ndtype = SEP_TFLOAT;
    im.noise_type = SEP_NOISE_STDDEV;
    im.gain = options.gain;

    static const float kernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
    sep_set_extract_pixstack(std::max<size_t>(1'000'000, count / 4));
    sep_catalog* catalog = nullptr;
    const int status =
        sep_extract(&im, static_cast<float>(options.threshold), SEP_THRESH_REL, options.minimumArea, kernel,
                    3, 3, SEP_FILTER_CONV, 64, 0.001, 1, 1.0, &catalog);
    if (status) {
        if (catalog)
            sep_catalog_free(catalog);
        throw ImagingError(QStringLiteral("SEP cannot extract the sources: ") + sepMessage(status));
    }
    const int n = catalog->nobj;
    auto rawPeak = [&](int i) { return image.at(catalog->xpeak[i], catalog->ypeak[i]); };
    auto isSaturated = [&](int i) {
        if (!(list.saturation > 0))
            return false;
        const double top = list.saturation - 0.005 * (list.saturation - list.background);
        return rawPeak(i) >= top;
    };

    // The seeing from the clean, well exposed stars: twice their half-flux radius (a Gaussian's FWHM),
    // from those not much sharper than the first guess of their moments, which leaves hot pixels and
    // cosmic rays out.
    std::vector<int> clean;
    std::vector<double> widths;
    for (int i = 0; i < n; ++i) {
        if (catalog->flag[i] & (SEP_OBJ_TRUNC | SEP_OBJ_MERGED) || isSaturated(i))
            continue;
        const double localRms = rms[static_cast<size_t>(catalog->ypeak[i]) * image.width + catalog->xpeak[i]];
        if (catalog->peak[i] < 20 * localRms)
            continue;
        clean.push_back(i);
        widths.push_back(
            2 * std::sqrt(std::log(2.0) * (catalog->a[i] * catalog->a[i] + catalog->b[i] * catalog->b[i])));
    }
    const double firstGuess = median(widths);
    std::vector<double> radii;
    for (size_t k = 0; k < clean.size() && radii.size() < 200; ++k) {
        const int i = clean[k];
        if (widths[k] < 0.5 * firstGuess)
            continue;
        const double fraction = 0.5;
        double radius = 0;
        short flag = 0;
        const double rmax = std::max(3.0, 6.0 * static_cast<double>(catalog->a[i]));
        if (sep_flux_radius(&im, catalog->x[i], catalog->y[i], rmax, 0, 5, 0, nullptr, &fraction, 1, &radius,
                            &flag) == 0 &&
            !(flag & SEP_APER_TRUNC) && radius > 0 && std::isfinite(radius))
            radii.push_back(radius);
    }
    list.seeing = radii.size() >= 3 ? 2 * median(radii) : options.fallbackSeeing;
    list.aperture = std::max(1.5, list.seeing);
    const double inner = std::max(list.aperture + 2, 2.5 * list.seeing);
    const double outer = inner + std::max(4.0, 1.5 * list.seeing);
    list.edgeMargin = outer;

    std::vector<SkySource> sources;
    std::vector<double> ratios;
    sources.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        SkySource s;
        s.x = catalog->x[i];
        s.y = catalog->y[i];
        s.fwhm =
            2 * std::sqrt(std::log(2.0) * (catalog->a[i] * catalog->a[i] + catalog->b[i] * catalog->b[i]));
        s.extent = std::sqrt(catalog->npix[i] / std::numbers::pi);
        s.peak = catalog->peak[i];
        s.saturated = isSaturated(i);
        s.blended = catalog->flag[i] & SEP_OBJ_MERGED;
        s.atEdge = (catalog->flag[i] & SEP_OBJ_TRUNC) || s.x < list.edgeMargin || s.y < list.edgeMargin ||
                   s.x > image.width - 1 - list.edgeMargin || s.y > image.height - 1 - list.edgeMargin;
        double sum = 0, error = 0, area = 0;
        short flag = 0;
        if (sep_sum_circle(&im, s.x, s.y, list.aperture, 0, 5, 0, &sum, &error, &area, &flag) != 0)
            continue;
        int skyPixels = 0;
        const double localRms =
            rms[static_cast<size_t>(std::clamp(static_cast<int>(s.y), 0, image.height - 1)) * image.width +
                std::clamp(static_cast<int>(s.x), 0, image.width - 1)];
        const double sky =
            annulusSky(data, image.width, image.height, s.x, s.y, inner, outer, localRms, skyPixels);
        s.flux = sum - sky * area;
        double variance = error * error;
        if (skyPixels > 0)
            variance += area * area * (std::numbers::pi / 2) * localRms * localRms / skyPixels;
        s.fluxError = std::sqrt(variance);
        s.snr = s.fluxError > 0 ? s.flux / s.fluxError : 0;
        sources.push_back(s);
        if (!(catalog->flag[i] & (SEP_OBJ_TRUNC | SEP_OBJ_MERGED)) && !s.saturated && s.snr >= 20 &&
            s.fwhm >= 0.5 * firstGuess)
            ratios.push_back(s.peak / s.flux);
    }
    sep_catalog_free(catalog);
    list.peakRatio = median(ratios);

    std::sort(sources.begin(), sources.end(),
              [](const SkySource& a, const SkySource& b) { return a.flux > b.flux; });
    if (static_cast<int>(sources.size()) > options.maxSources)
        sources.resize(static_cast<size_t>(options.maxSources));
    list.sources = std::move(sources);
    return list;
}

void placeOnSky(SourceList& list, const Wcs& wcs)
{
    list.wcs = wcs;
    for (SkySource& s : list.sources)
        wcs.pixelToSky(s.x + 1, s.y + 1, s.ra, s.dec);
}

bool isSharp(const SkySource& source, const SourceList& list)
{
    if (!(list.peakRatio > 0) || !(source.flux > 0))
        return false;
    return source.peak > 2.5 * list.peakRatio * source.flux;
}

} // namespace kestrove::imaging

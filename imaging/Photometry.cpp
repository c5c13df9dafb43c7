#include "imaging/Photometry.h"

#include "imaging/ImagingError.h"
#include "imaging/Stars.h"

extern "C" {
#include <sep.h>
}

#include <algorithm>
#include <limits>
#include <numbers>
#include <numeric>

namespace kestrove::imaging {

namespace {

void check(int status, const char* what)
{
    if (status)
        throw ImagingError(QStringLiteral("SEP cannot ") + QLatin1String(what) + QStringLiteral(": ") +
                           sepMessage(status));
}

constexpr unsigned char sourcePixel = 1;
constexpr unsigned char saturatedPixel = 2;

// Spreads the sources' pixels by `reach` pixels each way, so that a ring also misses the faint
// wings below the detection threshold.
void dilate(std::vector<unsigned char>& mask, int width, int height, int reach)
{
    std::vector<unsigned char> rows(mask.size(), 0);
    for (int y = 0; y < height; ++y) {
        const unsigned char* in = mask.data() + static_cast<size_t>(y) * width;
        unsigned char* out = rows.data() + static_cast<size_t>(y) * width;
        int last = -reach - 1; // the last masked column seen
        for (int x = 0; x < width; ++x) {
            if (in[x])
                last = x;
            if (x - last <= reach)
                out[x] = 1;
        }
        last = width + reach + 1;
        for (int x = width - 1; x >= 0; --x) {
            if (in[x])
                last = x;
            if (last - x <= reach)
                out[x] = 1;
        }
    }
    for (int x = 0; x < width; ++x) {
        int last = -reach - 1;
        for (int y = 0; y < height; ++y) {
            if (rows[static_cast<size_t>(y) * width + x])
                last = y;
            unsigned char& m = mask[static_cast<size_t>(y) * width + x];
            if (!m && y - last <= reach)
                m = sourcePixel;
        }
        last = height + reach + 1;
        for (int y = height - 1; y >= 0; --y) {
            if (rows[static_cast<size_t>(y) * width + x])
                last = y;
            unsigned char& m = mask[static_cast<size_t>(y) * width + x];
            if (!m && last - y <= reach)
                m = sourcePixel;
        }
    }
}

} // namespace

Apertures aperturesFor(double hfr, const ApertureRules& rules)
{
    const double radius = std::max(rules.minimumRadius, rules.radiusPerHfr * hfr);
    const double scale = radius / rules.radiusPerHfr; // the HFR, or what the minimum makes of it
    return {radius, rules.skyInnerPerHfr * scale, rules.skyOuterPerHfr * scale};
}

FrameGain frameGain(const FitsImage& image, std::optional<double> configured)
{
    if (image.electronsPerAdu)
        return {*image.electronsPerAdu, FrameGain::Source::Frame};
    if (configured && *configured > 0)
        return {*configured, FrameGain::Source::Settings};
    return {};
}

PhotometryFrame::PhotometryFrame(const FitsImage& image, const CameraResponse& camera)
    : m_width(image.width), m_height(image.height), m_gain(camera.gain), m_data(image.pixels),
      m_noise(image.pixels.size(), 0.0f), m_mask(image.pixels.size(), 0)
{
    if (m_width < 16 || m_height < 16)
        throw ImagingError(QStringLiteral("A frame of %1 x %2 pixels is too small for photometry")
                               .arg(m_width)
                               .arg(m_height));
    // A chip that saturated shows a flat top: several pixels at the very maximum.
    m_saturation = camera.saturation;
    if (!(m_saturation > 0)) {
        const float maximum = *std::max_element(m_data.begin(), m_data.end());
        m_saturation = std::count(m_data.begin(), m_data.end(), maximum) >= 3
                           ? maximum
                           : std::numeric_limits<double>::infinity();
    }
    for (size_t i = 0; i < m_data.size(); ++i)
        if (m_data[i] >= m_saturation)
            m_mask[i] = saturatedPixel;

    sep_image im{};
    im.data = m_data.data();
    im.dtype = SEP_TFLOAT;
    im.w = m_width;
    im.h = m_height;
    im.noise_type = SEP_NOISE_NONE;
    sep_bkg* bkg = nullptr;
    const int tile = std::max(16, std::min({64, m_width / 4, m_height / 4}));
    check(sep_background(&im, tile, tile, 3, 3, 0.0, &bkg), "model the background");
    int status = sep_bkg_rmsarray(bkg, m_noise.data(), SEP_TFLOAT);
    if (!status)
        status = sep_bkg_subarray(bkg, m_data.data(), SEP_TFLOAT);
    sep_bkg_free(bkg);
    check(status, "subtract the background");
    // A flat frame has no noise to find sources against, and no sky to measure a star by.
    if (std::all_of(m_noise.begin(), m_noise.end(), [](float n) { return !(n > 0); }))
        return;

    im.noise = m_noise.data();
    im.ndtype = SEP_TFLOAT;
    im.noise_type = SEP_NOISE_STDDEV;
    static const float kernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
    sep_catalog* catalog = nullptr;
    sep_set_extract_pixstack(1'000'000);
    status =
        sep_extract(&im, 3.0f, SEP_THRESH_REL, 5, kernel, 3, 3, SEP_FILTER_CONV, 32, 0.005, 1, 1.0, &catalog);
    if (status) {
        if (catalog)
            sep_catalog_free(catalog);
        check(status, "extract the sources");
    }
    std::vector<int> order(static_cast<size_t>(catalog->nobj));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [catalog](int a, int b) { return catalog->flux[a] > catalog->flux[b]; });
    m_sources.reserve(order.size());
    for (int i : order) {
        Source s;
        s.x = catalog->x[i];
        s.y = catalog->y[i];
        s.flux = catalog->flux[i];
        s.blended = catalog->flag[i] & SEP_OBJ_MERGED;
        s.truncated = catalog->flag[i] & SEP_OBJ_TRUNC;
        for (int k = 0; k < catalog->npix[i]; ++k) {
            unsigned char& m = m_mask[static_cast<size_t>(catalog->pix[i][k])];
            s.saturated = s.saturated || m == saturatedPixel;
            if (!m)
                m = sourcePixel;
        }
        m_sources.push_back(s);
    }
    sep_catalog_free(catalog);
    dilate(m_mask, m_width, m_height, 2);
}

PhotometryFrame::~PhotometryFrame() = default;

StarFlux PhotometryFrame::measure(double x, double y, const Apertures& apertures) const
{
    StarFlux star;
    star.x = x;
    star.y = y;
    const double r = apertures.radius;
    if (!(x - r >= -0.5 && y - r >= -0.5 && x + r <= m_width - 0.5 && y + r <= m_height - 0.5)) {
        star.flags = OffChip | NoSky;
        return star;
    }
    sep_image im{};
    im.data = m_data.data();
    im.dtype = SEP_TFLOAT;
    im.noise = m_noise.data();
    im.ndtype = SEP_TFLOAT;
    im.noise_type = SEP_NOISE_STDDEV;
    im.w = m_width;
    im.h = m_height;
    double sum = 0, sumError = 0, area = 0;
    short flag = 0;
    check(sep_sum_circle(&im, x, y, r, 0, 0, 0, &sum, &sumError, &area, &flag), "sum an aperture");
    if (flag & SEP_APER_TRUNC)
        star.flags |= OffChip;

    // The ring's sky: the mean of its clear pixels, and the variance of that mean.
    im.mask = m_mask.data();
    im.mdtype = SEP_TBYTE;
    im.maskthresh = 0;
    double ringSum = 0, ringError = 0, ringArea = 0;
    short ringFlag = 0;
    check(sep_sum_circann(&im, x, y, apertures.skyInner, apertures.skyOuter, 0, 0, SEP_MASK_IGNORE, &ringSum,
                          &ringError, &ringArea, &ringFlag),
          "sum a sky ring");
    const double fullRing = std::numbers::pi * (apertures.skyOuter * apertures.skyOuter -
                                                apertures.skyInner * apertures.skyInner);
    double skyVariance = 0;
    // A ring mostly off the frame or under other stars says little of the sky under this one.
    if (ringArea >= std::max(10.0, fullRing / 4)) {
        star.sky = ringSum / ringArea;
        skyVariance = ringError * ringError / (ringArea * ringArea);
    } else {
        star.flags |= NoSky;
    }
    star.flux = sum - star.sky * area;
    double variance = sumError * sumError + area * area * skyVariance;
    if (m_gain > 0 && star.flux > 0)
        variance += star.flux / m_gain;
    star.fluxError = std::sqrt(variance);
    if (!(star.flux > 0))
        star.flags |= Faint;

    if (std::isfinite(m_saturation)) {
        const double reach = r + 0.5;
        for (int j = std::max(0, static_cast<int>(std::floor(y - reach)));
             j <= std::min(m_height - 1, static_cast<int>(std::ceil(y + reach))); ++j)
            for (int i = std::max(0, static_cast<int>(std::floor(x - reach)));
                 i <= std::min(m_width - 1, static_cast<int>(std::ceil(x + reach))); ++i)
                if (m_mask[static_cast<size_t>(j) * m_width + i] == saturatedPixel &&
                    (i - x) * (i - x) + (j - y) * (j - y) <= reach * reach)
                    star.flags |= Saturated;
    }
    return star;
}

StarFlux PhotometryFrame::measureCentred(double x, double y, const Apertures& apertures) const
{
    const double r = apertures.radius;
    if (x - r >= -0.5 && y - r >= -0.5 && x + r <= m_width - 0.5 && y + r <= m_height - 0.5) {
        sep_image im{};
        im.data = m_data.data();
        im.dtype = SEP_TFLOAT;
        im.w = m_width;
        im.h = m_height;
        double cx = x, cy = y;
        int iterations = 0;
        short flag = 0;
        // The window is a Gaussian of the star's own width; its reach, four of them, is about the
        // aperture's radius and a third.
        const double sigma = std::max(0.7, r / 2.94);
        if (sep_windowed(&im, x, y, sigma, 0, 0, &cx, &cy, &iterations, &flag) == 0 && flag == 0 &&
            std::isfinite(cx) && std::isfinite(cy) && std::hypot(cx - x, cy - y) <= r) {
            x = cx;
            y = cy;
        }
    }
    return measure(x, y, apertures);
}

} // namespace kestrove::imaging

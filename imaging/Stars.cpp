#include "imaging/Stars.h"

#include "imaging/ImagingError.h"
#include "imaging/SepBackground.h"

extern "C" {
#include <sep.h>
}

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace kestrove::imaging {

QString sepMessage(int status)
{
    char text[128] = {};
    sep_get_errmsg(status, text);
    return QString::fromLatin1(text);
}

namespace {

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    const size_t mid = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<long>(mid), values.end());
    double m = values[mid];
    if (values.size() % 2 == 0) {
        const double lower = *std::max_element(values.begin(), values.begin() + static_cast<long>(mid));
        m = (m + lower) / 2;
    }
    return m;
}

} // namespace

StarField detectStars(const FitsImage& image, int maxStars)
{
    StarField field;
    if (image.width < 16 || image.height < 16)
        return field;
    std::vector<float> data = image.pixels;
    // A chip that saturated shows a flat top: several pixels at the very maximum.
    const float maximum = *std::max_element(data.begin(), data.end());
    const bool saturates = std::count(data.begin(), data.end(), maximum) >= 3;

    sep_image im{};
    im.data = data.data();
    im.dtype = SEP_TFLOAT;
    im.w = image.width;
    im.h = image.height;
    im.noise_type = SEP_NOISE_NONE;

    {
        const SepBackground sky(data, image.width, image.height);
        field.background = sky.level();
        field.noise = sky.noise();
        sky.subtractFrom(data);
    }

    // A flat frame has no noise to scale by: nothing stands out of it.
    if (!(field.noise > 0))
        return field;
    im.noiseval = field.noise;
    im.noise_type = SEP_NOISE_STDDEV;

    static const float kernel[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
    sep_catalog* catalog = nullptr;
    sep_set_extract_pixstack(1'000'000);
    const int status =
        sep_extract(&im, 5.0f, SEP_THRESH_REL, 5, kernel, 3, 3, SEP_FILTER_CONV, 32, 0.005, 1, 1.0, &catalog);
    if (status) {
        if (catalog)
            sep_catalog_free(catalog);
        throw ImagingError(QStringLiteral("SEP cannot extract the sources: ") + sepMessage(status));
    }

    std::vector<int> order(static_cast<size_t>(catalog->nobj));
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(),
              [catalog](int a, int b) { return catalog->flux[a] > catalog->flux[b]; });
    const float saturated = saturates ? maximum * 0.98f + static_cast<float>(field.background) * 0.02f
                                      : std::numeric_limits<float>::max();
    std::vector<double> radii;
    for (int i : order) {
        if (static_cast<int>(field.stars.size()) >= maxStars)
            break;
        if (catalog->flag[i] & (SEP_OBJ_TRUNC | SEP_OBJ_MERGED))
            continue;
        // A saturated core flattens the profile: its radius says more about the well than the focus.
        if (catalog->peak[i] + field.background >= saturated)
            continue;
        const double rmax = std::max(3.0, 6.0 * static_cast<double>(catalog->a[i]));
        const double fraction = 0.5;
        double radius = 0;
        short flag = 0;
        if (sep_flux_radius(&im, catalog->x[i], catalog->y[i], rmax, 0, 5, 0, nullptr, &fraction, 1, &radius,
                            &flag) != 0)
            continue;
        if (flag & SEP_APER_TRUNC || !(radius > 0) || !std::isfinite(radius))
            continue;
        field.stars.push_back({catalog->x[i], catalog->y[i], catalog->flux[i], radius});
        radii.push_back(radius);
    }
    sep_catalog_free(catalog);
    field.medianHfr = median(radii);
    return field;
}

} // namespace kestrove::imaging

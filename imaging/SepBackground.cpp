#include "imaging/SepBackground.h"

#include "imaging/ImagingError.h"
#include "imaging/Stars.h"

extern "C" {
#include <sep.h>
}

#include <algorithm>

namespace kestrove::imaging {

namespace {

void check(int status, const char* what)
{
    if (status)
        throw ImagingError(QStringLiteral("SEP cannot %1: ").arg(QLatin1String(what)) + sepMessage(status));
}

sep_bkg* model(void* bkg)
{
    return static_cast<sep_bkg*>(bkg);
}

} // namespace

SepBackground::SepBackground(std::vector<float>& pixels, int width, int height)
    : m_count(static_cast<size_t>(width) * static_cast<size_t>(height))
{
    sep_image im{};
    im.data = pixels.data();
    im.dtype = SEP_TFLOAT;
    im.w = width;
    im.h = height;
    im.noise_type = SEP_NOISE_NONE;
    const int tile = std::max(16, std::min({64, width / 4, height / 4}));
    sep_bkg* bkg = nullptr;
    check(sep_background(&im, tile, tile, 3, 3, 0.0, &bkg), "model the background");
    m_bkg = bkg;
}

SepBackground::~SepBackground()
{
    sep_bkg_free(model(m_bkg));
}

double SepBackground::level() const
{
    return sep_bkg_global(model(m_bkg));
}

double SepBackground::noise() const
{
    return sep_bkg_globalrms(model(m_bkg));
}

std::vector<float> SepBackground::levels() const
{
    std::vector<float> out(m_count);
    check(sep_bkg_array(model(m_bkg), out.data(), SEP_TFLOAT), "map the background");
    return out;
}

std::vector<float> SepBackground::noises() const
{
    std::vector<float> out(m_count);
    check(sep_bkg_rmsarray(model(m_bkg), out.data(), SEP_TFLOAT), "map the background");
    return out;
}

void SepBackground::subtractFrom(std::vector<float>& pixels) const
{
    check(sep_bkg_subarray(model(m_bkg), pixels.data(), SEP_TFLOAT), "subtract the background");
}

} // namespace kestrove::imaging

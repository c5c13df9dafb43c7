#include "imaging/FlatExposure.h"

#include "imaging/MasterFrame.h"

#include <algorithm>
#include <cmath>

namespace kestrove::imaging {

double flatLevel(const FitsImage& flat)
{
    // About 65000 pixels: a flat's level is smooth, and a megapixel frame is read in a millisecond.
    const size_t step = std::max<size_t>(1, flat.pixels.size() / 65536);
    std::vector<float> sample;
    sample.reserve(flat.pixels.size() / step + 1);
    for (size_t i = 0; i < flat.pixels.size(); i += step)
        sample.push_back(flat.pixels[i]);
    if (sample.empty())
        return 0;
    const auto middle = sample.begin() + static_cast<std::ptrdiff_t>(sample.size() / 2);
    std::nth_element(sample.begin(), middle, sample.end());
    return *middle;
}

FlatExposure::FlatExposure(double target, double minSeconds, double maxSeconds, double offset,
                           double tolerance, bool followTrend)
    : m_target(target), m_min(minSeconds), m_max(maxSeconds), m_offset(offset), m_tolerance(tolerance),
      m_followTrend(followTrend), m_seconds(std::clamp(1.0, minSeconds, maxSeconds))
{
}

FlatExposure::Verdict FlatExposure::took(double level)
{
    const double taken = m_seconds;
    const double rate = std::max(level - m_offset, 1e-3) / taken;
    double predicted = rate;
    if (m_followTrend && m_lastRate > 0)
        predicted = rate * (rate / m_lastRate);
    m_lastRate = rate;
    m_seconds = std::clamp((m_target - m_offset) / predicted, m_min, m_max);
    if (std::abs(level - m_target) <= m_tolerance * m_target)
        return Verdict::Accepted;
    if (level > m_target && taken <= m_min)
        return Verdict::TooBright;
    if (level < m_target && taken >= m_max)
        return Verdict::TooFaint;
    return Verdict::Retry;
}

FitsImage masterFlat(const std::vector<FitsImage>& flats, double offset)
{
    std::vector<FitsImage> scaled;
    scaled.reserve(flats.size());
    for (const FitsImage& flat : flats) {
        FitsImage s = flat;
        const double signal = flatLevel(flat) - offset;
        const double scale = signal > 0 ? 1.0 / signal : 0.0;
        for (float& p : s.pixels)
            p = static_cast<float>((p - offset) * scale);
        scaled.push_back(std::move(s));
    }
    return medianCombine(scaled);
}

} // namespace kestrove::imaging

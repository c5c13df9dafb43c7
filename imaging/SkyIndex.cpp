#include "imaging/SkyIndex.h"

#include "imaging/Wcs.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrove::imaging {

namespace {

constexpr double kDeg = std::numbers::pi / 180.0;
constexpr double kArcsec = kDeg / 3600.0;

} // namespace

SkyIndex::SkyIndex(const std::vector<SkyPoint>& points)
{
    m_entries.reserve(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        m_entries.push_back({points[i].dec, points[i].ra, static_cast<int>(i)});
    std::sort(m_entries.begin(), m_entries.end(),
              [](const Entry& a, const Entry& b) { return a.dec < b.dec; });
}

std::vector<int> SkyIndex::within(const SkyPoint& place, double radius) const
{
    const double band = radius / 3600.0;
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), place.dec - band,
                               [](const Entry& e, double dec) { return e.dec < dec; });
    std::vector<std::pair<double, int>> found;
    for (; it != m_entries.end() && it->dec <= place.dec + band; ++it) {
        const double d = angularDistance(place.ra, place.dec, it->ra, it->dec) * 3600.0;
        if (d <= radius)
            found.emplace_back(d, it->index);
    }
    std::sort(found.begin(), found.end());
    std::vector<int> indexes;
    indexes.reserve(found.size());
    for (const auto& f : found)
        indexes.push_back(f.second);
    return indexes;
}

int SkyIndex::nearest(const SkyPoint& place, double radius) const
{
    const std::vector<int> found = within(place, radius);
    return found.empty() ? -1 : found.front();
}

void tangentOffsets(const SkyPoint& centre, const SkyPoint& place, double& xi, double& eta)
{
    const double a = (place.ra - centre.ra) * kDeg;
    const double d = place.dec * kDeg;
    const double d0 = centre.dec * kDeg;
    const double cosc = std::sin(d0) * std::sin(d) + std::cos(d0) * std::cos(d) * std::cos(a);
    xi = std::cos(d) * std::sin(a) / cosc / kArcsec;
    eta = (std::cos(d0) * std::sin(d) - std::sin(d0) * std::cos(d) * std::cos(a)) / cosc / kArcsec;
}

SkyPoint fromTangentOffsets(const SkyPoint& centre, double xi, double eta)
{
    const double x = xi * kArcsec;
    const double y = eta * kArcsec;
    const double d0 = centre.dec * kDeg;
    const double denominator = std::cos(d0) - y * std::sin(d0);
    const double ra = centre.ra * kDeg + std::atan2(x, denominator);
    const double dec = std::atan2(std::sin(d0) + y * std::cos(d0), std::hypot(x, denominator));
    return {std::fmod(ra / kDeg + 360.0, 360.0), dec / kDeg};
}

} // namespace kestrove::imaging

#include "imaging/Candidates.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>

namespace kestrove::imaging {

namespace {

std::vector<SkyPoint> placesOf(const SourceList& list)
{
    std::vector<SkyPoint> places;
    places.reserve(list.sources.size());
    for (const SkySource& s : list.sources)
        places.push_back(s.place());
    return places;
}

// The glare of a saturated star: its own detected extent and twice the seeing beyond it.
struct Glare
{
    SkyPoint place;
    double radius; // arcseconds
};

void addGlare(std::vector<Glare>& glare, const SourceList& list, double seeing)
{
    for (const SkySource& s : list.sources)
        if (s.saturated)
            glare.push_back({s.place(), s.extent * list.scale() + 2 * seeing});
}

} // namespace

std::vector<Candidate> findCandidates(const SourceList& reference, const std::vector<SourceList>& frames,
                                      const SkyPoint& target, const DiscoverySettings& settings,
                                      const std::vector<SkyPoint>& bogus)
{
    std::vector<Candidate> candidates;
    if (frames.empty() || !reference.wcs ||
        std::any_of(frames.begin(), frames.end(), [](const SourceList& f) { return !f.wcs; }))
        return candidates;

    double seeing = reference.seeingArcsec();
    for (const SourceList& f : frames)
        seeing = std::max(seeing, f.seeingArcsec());
    const double clear = 2 * seeing;

    std::vector<Glare> glare;
    addGlare(glare, reference, seeing);
    for (const SourceList& f : frames)
        addGlare(glare, f, seeing);
    const SkyIndex referenceIndex(placesOf(reference));
    const SkyIndex bogusIndex(bogus);

    // What each frame's source must be on its own.
    auto passes = [&](const SourceList& list, const SkySource& s) {
        if (s.snr < settings.minSnr || s.saturated || s.atEdge || isSharp(s, list))
            return false;
        const SkyPoint place = s.place();
        if (angularDistance(place.ra, place.dec, target.ra, target.dec) * 60 > settings.radius)
            return false;
        if (referenceIndex.nearest(place, clear) >= 0 || !reference.covers(place, reference.edgeMargin))
            return false;
        if (bogusIndex.nearest(place, clear) >= 0)
            return false;
        return std::none_of(glare.begin(), glare.end(), [&](const Glare& g) {
            return angularDistance(place.ra, place.dec, g.place.ra, g.place.dec) * 3600 < g.radius;
        });
    };

    std::vector<SkyIndex> indexes;
    for (const SourceList& f : frames)
        indexes.emplace_back(placesOf(f));
    std::vector<std::set<int>> taken(frames.size());
    const SourceList& first = frames.front();
    for (size_t i = 0; i < first.sources.size(); ++i) {
        const SkySource& seed = first.sources[i];
        if (taken[0].count(static_cast<int>(i)) || !passes(first, seed))
            continue;
        Candidate c;
        c.sightings.push_back({0, static_cast<int>(i)});
        for (size_t f = 1; f < frames.size(); ++f) {
            const int j = indexes[f].nearest(seed.place(), seeing);
            if (j < 0 || taken[f].count(j) || !passes(frames[f], frames[f].sources[static_cast<size_t>(j)]))
                break;
            c.sightings.push_back({static_cast<int>(f), j});
        }
        if (c.sightings.size() != frames.size())
            continue;
        double x = 0, y = 0, z = 0, mag = 0, magVariance = 0;
        int magnitudes = 0;
        c.snr = seed.snr;
        for (const Sighting& s : c.sightings) {
            taken[static_cast<size_t>(s.frame)].insert(s.source);
            const SkySource& src =
                frames[static_cast<size_t>(s.frame)].sources[static_cast<size_t>(s.source)];
            // The mean direction, which stays right across 0h.
            const double ra = src.ra * std::numbers::pi / 180, dec = src.dec * std::numbers::pi / 180;
            x += std::cos(dec) * std::cos(ra);
            y += std::cos(dec) * std::sin(ra);
            z += std::sin(dec);
            c.snr = std::min(c.snr, src.snr);
            if (std::isfinite(src.mag)) {
                mag += src.mag;
                magVariance += src.magError * src.magError;
                ++magnitudes;
            }
        }
        c.ra = std::fmod(std::atan2(y, x) * 180 / std::numbers::pi + 360, 360);
        c.dec = std::atan2(z, std::hypot(x, y)) * 180 / std::numbers::pi;
        if (magnitudes > 0) {
            c.mag = mag / magnitudes;
            c.magError = std::sqrt(magVariance) / magnitudes;
        }
        candidates.push_back(std::move(c));
    }
    return candidates;
}

} // namespace kestrove::imaging

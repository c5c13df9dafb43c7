#pragma once

#include <vector>

namespace kestrove::imaging {

// A place on the sky, J2000 degrees.
struct SkyPoint
{
    double ra = 0;
    double dec = 0;
};

// Finds the points near a place quickly: the points sorted by declination, a search reading only
// the band of declination within the radius. Exact at any right ascension, across 0h and at the poles.
class SkyIndex
{
public:
    explicit SkyIndex(const std::vector<SkyPoint>& points);

    // The index of the nearest point within `radius` arcseconds of `place`, or -1.
    int nearest(const SkyPoint& place, double radius) const;
    // The indexes of every point within `radius` arcseconds of `place`, nearest first.
    std::vector<int> within(const SkyPoint& place, double radius) const;

private:
    struct Entry
    {
        double dec;
        double ra;
        int index;
    };
    std::vector<Entry> m_entries;
};

// The tangent-plane offsets of `place` from `centre`, in arcseconds: xi toward the east, eta toward
// the north (the gnomonic projection, in which a uniform motion across a small field is straight).
void tangentOffsets(const SkyPoint& centre, const SkyPoint& place, double& xi, double& eta);
// The place at tangent-plane offsets from `centre`, the inverse of tangentOffsets.
SkyPoint fromTangentOffsets(const SkyPoint& centre, double xi, double eta);

} // namespace kestrove::imaging

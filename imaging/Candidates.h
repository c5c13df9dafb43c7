#pragma once

#include "imaging/Discovery.h"
#include "imaging/Sources.h"

#include <vector>

namespace kestrove::imaging {

// One frame's sight of a candidate: the frame (its place in the plan's list) and its source there.
struct Sighting
{
    int frame = 0;
    int source = 0;
};

// A source that the reference does not show: a supernova, perhaps.
struct Candidate
{
    double ra = 0; // mean of the frames' positions, J2000 degrees
    double dec = 0;
    double snr = 0;                                        // the lowest of the frames'
    double mag = std::numeric_limits<double>::quiet_NaN(); // mean of the frames' (once zero points apply)
    double magError = std::numeric_limits<double>::quiet_NaN();
    std::vector<Sighting> sightings; // one in every frame of the plan, in its order

    SkyPoint place() const { return {ra, dec}; }
};

// The candidates of a plan's frames against the target's reference. A candidate is a source
//  - within settings.radius of the target,
//  - with S/N at or above settings.minSnr,
//  - with no reference source within twice the seeing (the larger of the frames' and the
//    reference's), and on the reference's frame, not at its edge,
//  - not saturated, not within the glare of a saturated star of the frame or the reference, not
//    at the frame's edge, not sharper than a star (a hot pixel, a cosmic ray),
//  - not within twice the seeing of a place the user marked bogus,
// and seen so in every frame of the plan, within one seeing of where the first frame shows it.
// Every list is placed on the sky; `frames` holds at least one.
std::vector<Candidate> findCandidates(const SourceList& reference, const std::vector<SourceList>& frames,
                                      const SkyPoint& target, const DiscoverySettings& settings,
                                      const std::vector<SkyPoint>& bogus = {});

} // namespace kestrove::imaging

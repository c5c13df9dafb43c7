#pragma once

#include "imaging/Discovery.h"
#include "imaging/Sources.h"

#include <vector>

namespace kestrove::imaging {

// One frame's detection of a mover.
struct MoverDetection
{
    int frame = 0;   // its place in the set's list
    int source = 0;  // in that frame's sources
    double time = 0; // the frame's mid-exposure, seconds
    double ra = 0;   // J2000 degrees
    double dec = 0;
    double mag = std::numeric_limits<double>::quiet_NaN();
};

// A source that moves straight and uniformly across a set's frames: an asteroid, perhaps.
struct Mover
{
    std::vector<MoverDetection> detections; // three or more, in time order
    double rate = 0;                        // arcseconds a minute
    double direction = 0;                   // position angle of the motion, degrees east of north
    double residual = 0; // the largest distance of a detection from the fitted path, arcseconds
    double mag = std::numeric_limits<double>::quiet_NaN(); // mean of the detections'
};

// The movers of a set of frames of one field, taken at `times` (mid-exposure, seconds on any one
// scale), every list placed on the sky. Sources at the same place in every frame are stars and left
// out; of the rest, those with S/N at or above settings.minSnr, whole, unsaturated and not sharp are
// linked: detections in the first and last frames of a span predict where the frames between should
// show the same mover, and three or more detections within settings.linkResidual of a straight,
// uniform path, at a rate within settings' limits, make a mover. The longest spans are tried first
// and each detection joins one mover at most.
std::vector<Mover> linkMovers(const std::vector<SourceList>& frames, const std::vector<double>& times,
                              const DiscoverySettings& settings);

} // namespace kestrove::imaging

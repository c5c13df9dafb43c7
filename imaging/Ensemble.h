#pragma once

#include "imaging/Photometry.h"

#include <optional>
#include <vector>

namespace kestrove::imaging {

// A magnitude and its one-sigma error.
struct Magnitude
{
    double value = 0;
    double error = 0;
};

// Which of a frame's sources make a target's comparison stars.
struct ComparisonRules
{
    int count = 5; // the ensemble's size; a check star is chosen besides
    // Within this many magnitudes of the target, the brightest difference allowed; fewer candidates
    // than the ensemble needs leaves it smaller rather than taking stars far off in brightness.
    double magnitudeRange = 2.0;
    // No source a hundredth as bright within this many inner ring radii: a neighbour's light
    // falls into the aperture as the seeing changes.
    double isolation = 1.0;
};

// The sources of a frame that make a target's comparison stars, as indices into
// `frame.sources()`: the ensemble, nearest the target in brightness first, and the check star,
// the next nearest.
struct ComparisonChoice
{
    std::vector<size_t> ensemble;
    std::optional<size_t> check;
};

// Chooses them for a target at 0-based (targetX, targetY) of flux `targetFlux` (0 when the target
// is not seen: the brightest fit stars are taken): unsaturated, neither blended nor truncated,
// isolated, their sky ring wholly on the frame.
ComparisonChoice chooseComparisons(const PhotometryFrame& frame, double targetX, double targetY,
                                   double targetFlux, const Apertures& apertures,
                                   const ComparisonRules& rules = {});

// A comparison star as measured in one frame, with its reference magnitude: a catalogue
// magnitude, or one relative to the rest of the ensemble.
struct ComparisonFlux
{
    StarFlux flux;
    double reference = 0;
};

// A star's magnitude against an ensemble: its instrumental magnitude less the frame's zero point,
// the inverse-variance mean of each usable comparison's instrumental magnitude less its reference.
// The error carries the star's and the zero point's. None when no comparison or the star is not
// usable.
std::optional<Magnitude> differentialMagnitude(const StarFlux& star,
                                               const std::vector<ComparisonFlux>& comparisons);

// A night of one target's frames in one filter, as instrumental magnitudes: the comparisons in
// the same order in every frame, none where a star was not usable.
struct NightFrame
{
    std::optional<Magnitude> target;
    std::optional<Magnitude> check;
    std::vector<std::optional<Magnitude>> comparisons;
};

struct NightRules
{
    // A comparison is dropped when its scatter against the others stands out from theirs, by more
    // than madFactor times their median absolute deviation (as a standard deviation) above their
    // median, and is more than scatterFactor times what its errors allow and more than
    // scatterFloor magnitudes (flat-field and seeing errors no star's noise accounts for). The
    // worst goes first, one at a time, the ensemble solved again.
    double scatterFactor = 3.0;
    double madFactor = 3.0;
    double scatterFloor = 0.01;
    int minimumComparisons = 2;
};

// The night's lightcurve: the comparisons that stayed, the target's and check star's magnitudes
// against them frame by frame.
struct NightLightcurve
{
    std::vector<bool> kept;                       // per comparison
    std::vector<double> scatter;                  // per comparison: its rms against the ensemble, magnitudes
    std::vector<double> expected;                 // per comparison: the rms its errors allow
    std::vector<double> references;               // per comparison: its magnitude against the ensemble
    std::vector<std::optional<Magnitude>> target; // per frame
    std::vector<std::optional<Magnitude>> check;  // per frame
};

// Solves a night as an ensemble: each comparison's magnitude and each frame's zero point together
// (a star's instrumental magnitude is its own magnitude plus the frame's zero point), dropping
// comparisons that vary against the others. `catalogue`, when it gives every comparison a
// magnitude, fixes the zero points' level so that the results are on its scale; otherwise the
// comparisons' magnitudes average zero and the results are differential.
NightLightcurve solveNight(const std::vector<NightFrame>& frames,
                           const std::vector<std::optional<double>>& catalogue = {},
                           const NightRules& rules = {});

} // namespace kestrove::imaging

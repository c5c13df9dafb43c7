#pragma once

#include "imaging/Ensemble.h"
#include "imaging/Photometry.h"
#include "imaging/Wcs.h"

#include <QString>

#include <optional>
#include <vector>

namespace kestrove::imaging {

// A star by its J2000 place.
struct CatalogueStar
{
    QString name;
    double rightAscension = 0; // degrees
    double declination = 0;
    // A comparison's reference magnitude: from a catalogue in the frame's filter, or, for a star
    // chosen from a frame, its magnitude relative to the ensemble there. None: not yet known.
    std::optional<double> magnitude;
};

// The stars of a target's lightcurve: the target, the comparison ensemble and the check star.
struct LightcurveStars
{
    CatalogueStar target;
    std::vector<CatalogueStar> comparisons;
    std::optional<CatalogueStar> check;

    // Whether every comparison has a catalogue magnitude, so that the target's magnitude is on
    // the catalogue's scale rather than a difference from the ensemble.
    bool standard = false;
    // Named by the user rather than chosen from a frame: one comparison is then enough.
    bool named = false;
};

// A name for a star from its J2000 place, as "J102233.12+201105.3".
QString positionName(double rightAscension, double declination);

// The 0-based pixel where the WCS puts a J2000 place; none behind the tangent plane.
std::optional<std::pair<double, double>> pixelOf(const Wcs& wcs, double rightAscension, double declination);

// Chooses the comparison ensemble and check star of `target` from a frame (chooseComparisons),
// named by their places through the WCS, each comparison's magnitude relative to the ensemble
// there. Fewer than two comparisons: a field too poor for the frame to make an ensemble.
LightcurveStars chooseStars(const PhotometryFrame& frame, const Wcs& wcs, const CatalogueStar& target,
                            const Apertures& apertures, const ComparisonRules& rules = {});

// One frame of a lightcurve: every star measured where the WCS puts it (and centred on its light),
// the target's and check star's magnitudes against the ensemble.
struct LightcurveFrame
{
    Apertures apertures;
    StarFlux target;
    std::optional<StarFlux> check;
    std::vector<StarFlux> comparisons; // in the order of LightcurveStars::comparisons
    std::optional<Magnitude> magnitude;
    std::optional<Magnitude> checkMagnitude;
};

// Measures a frame. Comparisons without a magnitude are measured but left out of the ensemble;
// `withReferences` gives them one from a frame.
LightcurveFrame measureStars(const PhotometryFrame& frame, const Wcs& wcs, const LightcurveStars& stars,
                             const Apertures& apertures);

// The stars with every comparison's magnitude, when one or more lacks it, set relative to the
// ensemble as measured in `frame` (user-named stars without catalogue magnitudes); those not usable
// there stay without.
LightcurveStars withReferences(LightcurveStars stars, const LightcurveFrame& frame);

// A frame's instrumental magnitudes, as a night's ensemble solution takes them.
NightFrame nightFrame(const LightcurveFrame& frame);

} // namespace kestrove::imaging

#pragma once

#include "imaging/SolveField.h"
#include "imaging/Stars.h"

#include <QString>

#include <optional>
#include <vector>

namespace kestrove::imaging {

// Where a solved frame points and how far that is from where it was aimed.
struct SolvedCentre
{
    double rightAscension = 0; // J2000 degrees
    double declination = 0;
    double pointingError = 0; // arcseconds from the aimed position
};

// What a frame shows of the sky: the values its grade and its record are made from.
struct FrameMeasurement
{
    int stars = 0;         // stars measured (detectStars keeps at most its maxStars)
    double medianHfr = 0;  // pixels; 0 without stars
    double background = 0; // the sky level, in the frame's units (ADU)
    double noise = 0;      // the sky's rms, same units
    std::optional<SolvedCentre> solved;
};

// The measurement of a star field, without a solve.
FrameMeasurement measureFrame(const StarField& field);
// The same with a solve's result: a frame that did not solve carries no centre.
FrameMeasurement measureFrame(const StarField& field, const SolveResult& solve, double aimedRightAscension,
                              double aimedDeclination);

// When a frame is not worth counting. Each relative test is a ratio to the median of the target's
// recent accepted frames in the same filter, so it holds whatever the camera's gain and units.
struct GradeThresholds
{
    // Fewer stars than this is no sky at all (a closed roof, dew, thick cloud), with or without a
    // reference: even a sparse field shows more in the shortest survey exposure.
    int minimumStars = 5;
    // Fewer than this fraction of the reference's stars is cloud: about 1.3 magnitudes lost, where
    // airmass and ordinary seeing take a third at most.
    double starFraction = 0.4;
    // A median HFR above this multiple of the reference's is focus or seeing gone bad; a night's
    // seeing wanders by a quarter or so.
    double hfrFactor = 1.5;
    // A sky this many times as bright as the reference's is twilight, the Moon or cloud lit by town.
    // It is the larger of the sky levels' ratio, which the camera's offset dilutes, and the sky
    // noise variances' ratio, which read noise dilutes: both err toward accepting, and a fixed
    // noise (a simulator's) or a zero offset (a calibrated frame) leaves the other to decide.
    double backgroundFactor = 2.0;
    // How many of the latest accepted frames the reference is the median of: enough that one odd
    // frame does not move it, few enough to follow the seasons.
    int window = 10;

    bool operator==(const GradeThresholds&) const = default;
};

enum class GradeReason
{
    None,
    TooFewStars,
    HfrHigh,
    BackgroundHigh
};

struct FrameGrade
{
    GradeReason reason = GradeReason::None;
    QString text; // why it was rejected, with the numbers; empty when accepted

    bool accepted() const { return reason == GradeReason::None; }
};

// Grades a frame against the absolute floor and against `reference`, the latest accepted frames of
// the same target and filter, newest first (only the first `window` count). Without a reference the
// floor alone decides. A focus test comes before the star test when there are enough stars for a
// median, so that a defocused frame, which also loses stars, is told apart from a cloudy one.
FrameGrade grade(const FrameMeasurement& frame, const std::vector<FrameMeasurement>& reference,
                 const GradeThresholds& thresholds = {});

} // namespace kestrove::imaging

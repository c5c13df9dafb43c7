#pragma once

#include "imaging/FitsFile.h"

#include <vector>

namespace kestrove::imaging {

// The level a flat reached: the median of its pixels, of a sample of them in a large frame.
double flatLevel(const FitsImage& flat);

// Steers flat exposures towards a level, frame by frame. Each frame's flux rate (its level less
// the offset, per second) sets the next exposure; under a changing sky the change between the
// last two frames is carried on to the next. The exposure stays within its limits.
class FlatExposure
{
public:
    enum class Verdict
    {
        Accepted,  // the level is within the tolerance of the target
        Retry,     // not yet: take another at seconds()
        TooBright, // above the target at the shortest exposure
        TooFaint,  // below it at the longest
    };

    // `offset`: the camera's bias level, which does not grow with the exposure. `tolerance`: the
    // fraction of the target a flat may miss it by.
    FlatExposure(double target, double minSeconds, double maxSeconds, double offset, double tolerance,
                 bool followTrend);

    double seconds() const { return m_seconds; }
    // A frame of seconds() reached `level`: sets the next exposure.
    Verdict took(double level);

private:
    double m_target;
    double m_min;
    double m_max;
    double m_offset;
    double m_tolerance;
    bool m_followTrend;
    double m_seconds;
    double m_lastRate = 0; // ADU per second of the previous frame; 0: none
};

// The master flat: each frame less the offset, scaled to a median of 1, then the per-pixel median.
// Throws ImagingError as medianCombine does.
FitsImage masterFlat(const std::vector<FitsImage>& flats, double offset);

} // namespace kestrove::imaging

#pragma once

#include "imaging/FitsFile.h"

#include <QString>

#include <vector>

namespace kestrove::imaging {

struct Star
{
    double x = 0; // 0-based pixel centre
    double y = 0;
    double flux = 0;
    double hfr = 0; // half-flux radius, pixels
};

struct StarField
{
    std::vector<Star> stars; // the stars measured, brightest first
    double medianHfr = 0;    // pixels; 0 without stars
    double background = 0;
    double noise = 0;
};

// Detects the stars of an image with SEP (Source Extractor as a library): a background map is
// subtracted, sources 5 sigma above the noise over at least 5 pixels are extracted, and each
// isolated, untruncated, unsaturated one gets its half-flux radius. At most `maxStars` of the
// brightest are measured. Throws ImagingError when SEP fails.
StarField detectStars(const FitsImage& image, int maxStars = 200);

// SEP's own words for a status it returned.
QString sepMessage(int status);

} // namespace kestrove::imaging

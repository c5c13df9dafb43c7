#pragma once

#include "imaging/FitsFile.h"
#include "imaging/Sources.h"

#include <QImage>
#include <QString>

namespace kestrove::imaging {

// The squares around a candidate that a person judges it by: the reference resampled onto the new
// frame's pixels, the new frame, and the new frame less the reference. Pixels either frame lacks
// are NaN.
struct Cutouts
{
    FitsImage reference;
    FitsImage frame;
    FitsImage difference;
    double referenceNoise = 0; // the sky's rms of each, for the display's stretch
    double frameNoise = 0;
    double centreX = 0; // where the place falls in the squares, 0-based pixels
    double centreY = 0;
    double frameX = 0; // and in the frame
    double frameY = 0;
};

// The new light at a place, measured on the difference: what the reference does not hold, free of
// the galaxy under it.
struct NewLight
{
    SkyPoint place;  // the centroid of the difference's light near the place asked
    double flux = 0; // in an aperture of `radius` there, the frame's units
};

// Cuts `size` pixels square around `place` out of a new frame and its reference (both lists placed
// on the sky). The reference is resampled through both WCS (bilinear), the sharper of the two is
// blurred to the other's seeing (a Gaussian, the crude match of their PSFs), each loses its local sky
// (the median of the square's border) and the reference, scaled by `fluxRatio` (how much brighter
// a star is in the frame than in the reference), is subtracted.
Cutouts makeCutouts(const FitsImage& image, const SourceList& imageSources, const FitsImage& reference,
                    const SourceList& referenceSources, const SkyPoint& place, double fluxRatio,
                    int size = 64);

// The light of the difference within `radius` pixels of the cut-outs' centre, centred on it first
// (a source on a galaxy's slope is pulled toward its core in the frame, not in the difference).
NewLight newLight(const Cutouts& cutouts, const SourceList& imageSources, double radius);

// A cut-out as an 8-bit grey picture, `zoom` screen pixels a pixel: a frame from 2 sigma below its
// sky to its brightest, on a square-root scale; a difference mid-grey at zero, linear either side.
QImage cutoutImage(const FitsImage& cutout, double noise, bool difference, int zoom = 2);

// Writes the three as PNG files: `<base>-reference.png`, `<base>-new.png`, `<base>-difference.png`,
// each whole or not at all. Throws ImagingError naming the file that cannot be written.
void writeCutouts(const Cutouts& cutouts, const QString& base);

} // namespace kestrove::imaging

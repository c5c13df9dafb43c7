#pragma once

#include "imaging/Sources.h"

#include <QString>

#include <optional>
#include <vector>

namespace kestrove::imaging {

// A star of a catalogue: J2000 degrees and its magnitude.
struct FieldStar
{
    double ra = 0;
    double dec = 0;
    double mag = 0;
};

// What turns a frame's fluxes into magnitudes: mag = value - 2.5 log10(flux).
//
// With a catalogue (the index stars solve-field lists in the field, with their Tycho-2 VT
// magnitudes, or any list of the field's stars) the zero point puts the frame on the catalogue's
// scale. Without one, magnitudes are relative: on the instrumental scale of the reference frame,
// 25 - 2.5 log10 of the flux the reference would have measured, so that the frames of one target
// compare through clouds and exposure times, though not with another target's.
struct ZeroPoint
{
    double value = 25;
    double scatter = 0; // of the stars it was made from (robust sigma), magnitudes
    int stars = 0;
    bool catalogue = false;
};

constexpr double kInstrumentalZeroPoint = 25;

// The stars a zero point may be made from: well measured, unsaturated, whole, alone, not sharp.
bool isPhotometric(const SkySource& source, const SourceList& list);

// The zero point that puts `frame` on the instrumental scale of `reference`, from the stars both show
// within `radius` arcseconds (both lists placed on the sky). The reference's own is 25. Without a
// star in common it is 25, with no stars.
ZeroPoint relativeZeroPoint(const SourceList& frame, const SourceList& reference, double radius);
// The zero point of `frame` from the catalogue's stars it shows within `radius` arcseconds; none
// with fewer than `minimumStars` of them.
std::optional<ZeroPoint> catalogueZeroPoint(const SourceList& frame,
                                            const std::vector<FieldStar>& catalogue, double radius,
                                            int minimumStars = 3);

// How much brighter a star is in the frame of `frame` than in that of `reference`.
double fluxRatio(const ZeroPoint& frame, const ZeroPoint& reference);

// Sets each source's magnitude and its error from the zero point (NaN for a flux not above 0).
void applyZeroPoint(SourceList& list, const ZeroPoint& zeroPoint);

// The stars of a FITS table with RA and DEC columns (degrees) and a magnitude column (the first
// whose name begins with MAG), as solve-field's --rdls file with --tag-all holds them. Throws
// ImagingError naming the file when it is not such a table.
std::vector<FieldStar> readCatalogueStars(const QString& path);

} // namespace kestrove::imaging

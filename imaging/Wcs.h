#pragma once

#include "imaging/FitsFile.h"

#include <QList>
#include <QString>

#include <optional>

namespace kestrove::imaging {

// Where on the chip an image lies: its origin in unbinned pixels (0-based) and its binning.
struct ImageGeometry
{
    int x = 0;
    int y = 0;
    int binning = 1;
};

// A gnomonic (TAN) world coordinate system as astrometry.net writes it: reference pixel
// (1-based FITS pixels), reference point (J2000 degrees) and the CD matrix (degrees per pixel).
// Distortion terms (SIP) are not carried: at the scales a survey solves, the linear part places a
// galaxy to well under a pixel near the centre.
struct Wcs
{
    double crpix1 = 0;
    double crpix2 = 0;
    double crval1 = 0; // right ascension, degrees
    double crval2 = 0; // declination, degrees
    double cd11 = 0;
    double cd12 = 0;
    double cd21 = 0;
    double cd22 = 0;

    // Sky position (degrees) of a 1-based FITS pixel position.
    void pixelToSky(double px, double py, double& ra, double& dec) const;
    // 1-based FITS pixel position of a sky position; false when it lies behind the tangent plane.
    bool skyToPixel(double ra, double dec, double& px, double& py) const;
    // Arcseconds per pixel (geometric mean of the two axes).
    double scale() const;
    // The same sky on another image of the same camera: other binning, other subframe.
    Wcs carriedTo(const ImageGeometry& from, const ImageGeometry& to) const;
    // The header cards that carry it (WCSAXES, CTYPE, CUNIT, EQUINOX, CRPIX, CRVAL, CD).
    QList<HeaderCard> headerCards() const;
};

// Reads the WCS of a FITS header (a ".wcs" file of solve-field, or an image); none when it has none.
std::optional<Wcs> readWcs(const QString& path);

// Angular distance between two positions in degrees, all in degrees.
double angularDistance(double ra1, double dec1, double ra2, double dec2);

} // namespace kestrove::imaging

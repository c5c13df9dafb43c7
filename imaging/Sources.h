#pragma once

#include "imaging/FitsFile.h"
#include "imaging/SkyIndex.h"
#include "imaging/Wcs.h"

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace kestrove::imaging {

// One source of a frame, measured in an aperture of the frame's seeing.
struct SkySource
{
    double x = 0; // 0-based pixel centre
    double y = 0;
    double ra = 0; // J2000 degrees, once placed on the sky
    double dec = 0;
    double flux = 0; // in the aperture, less the local sky; the frame's units
    double fluxError = 0;
    double peak = 0; // the brightest pixel above the sky
    double snr = 0;
    double fwhm = 0;   // pixels, from the source's second moments
    double extent = 0; // pixels: the radius of a disc of the source's detected area
    double mag = std::numeric_limits<double>::quiet_NaN(); // once a zero point is applied
    double magError = std::numeric_limits<double>::quiet_NaN();
    bool saturated = false; // its peak reaches the chip's saturation
    bool atEdge = false;    // within the edge margin, or cut by the frame's border
    bool blended = false;   // deblended from a neighbour it shares its light with

    SkyPoint place() const { return {ra, dec}; }
};

// The sources of a frame and what they were measured against.
struct SourceList
{
    std::vector<SkySource> sources; // brightest first
    int width = 0;
    int height = 0;
    double seeing = 0;      // the median FWHM of the frame's clean stars, pixels
    double aperture = 0;    // radius the fluxes were measured in, pixels
    double edgeMargin = 0;  // pixels
    double background = 0;  // global sky level
    double noise = 0;       // global sky rms per pixel
    double saturation = 0;  // the level a pixel saturates at; 0 when none saturated
    double peakRatio = 0;   // peak over flux of the frame's clean stars (median): how sharp a star is
    std::optional<Wcs> wcs; // set by placeOnSky

    // Arcseconds per pixel; 0 before the list is placed on the sky.
    double scale() const { return wcs ? wcs->scale() : 0; }
    double seeingArcsec() const { return seeing * scale(); }
    // Whether a place on the sky falls on this frame, `margin` pixels inside its border.
    bool covers(const SkyPoint& place, double margin) const;
};

struct DetectionOptions
{
    // Pixels 1.5 sigma above the local sky after a 3 x 3 smoothing, 5 of them joined, make a
    // source: deep enough that a star near the limit of a new frame is found in its reference too.
    double threshold = 1.5;
    int minimumArea = 5;
    // Electrons per unit of the frame, for the sources' own photon noise in their errors; 0 leaves
    // it out (the sky's noise, measured, is always in).
    double gain = 0;
    // The level a pixel saturates at; 0: found from the frame (a flat top of several pixels at its
    // maximum).
    double saturation = 0;
    // The seeing assumed when the frame has too few stars to measure it, pixels.
    double fallbackSeeing = 2.5;
    int maxSources = 20000;
};

// Detects the sources of an image with SEP: the sky's background and rms maps, extraction, and for
// each source an aperture flux with its error (an aperture of radius one FWHM of the frame's seeing,
// the sky of an annulus around it), its S/N, its width and its flags. Throws ImagingError when SEP
// fails.
SourceList detectSources(const FitsImage& image, const DetectionOptions& options = {});

// Places every source on the sky through the frame's WCS.
void placeOnSky(SourceList& list, const Wcs& wcs);

// A source much sharper than the frame's stars (its peak a larger part of its flux) is a hot pixel
// or a cosmic ray, not light from the sky.
bool isSharp(const SkySource& source, const SourceList& list);

} // namespace kestrove::imaging

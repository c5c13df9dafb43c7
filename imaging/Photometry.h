#pragma once

#include "imaging/FitsFile.h"

#include <cmath>
#include <optional>
#include <vector>

namespace kestrove::imaging {

// The sizes of a star's aperture and of the ring its local sky is measured in, pixels.
struct Apertures
{
    double radius = 0;
    double skyInner = 0;
    double skyOuter = 0;
};

// How the apertures follow the seeing, in multiples of the frame's median half-flux radius (a
// Gaussian's HFR is half its FWHM). An aperture of 1.25 FWHM holds 99 % of a star's light, so a
// seeing that changes over the frame or the night moves every star's fraction alike; the ring
// keeps clear of the star's wings and holds six times the aperture's area, so its mean adds a
// sixth to the sky's variance in the sum.
struct ApertureRules
{
    double radiusPerHfr = 2.5;
    double skyInnerPerHfr = 5;
    double skyOuterPerHfr = 8;
    // Below this an undersampled star's aperture is a few pixels whose sum hangs on where the
    // centre falls.
    double minimumRadius = 2;
};

// The apertures of a frame whose stars have the median half-flux radius `hfr` (pixels).
Apertures aperturesFor(double hfr, const ApertureRules& rules = {});

// What the frame's numbers mean in light. The sky's noise, and with it the read noise, is measured
// around each star, so only the star's own photon noise needs the gain.
struct CameraResponse
{
    double gain = 0;       // electrons per ADU; 0: unknown, the star's own photon noise is left out
    double saturation = 0; // ADU where the well or the converter fills; 0: unknown, a flat top at
                           // the frame's maximum is taken for it
};

// A frame's gain, electrons per ADU, and where it came from.
struct FrameGain
{
    enum class Source
    {
        Frame,    // its EGAIN card
        Settings, // the gain the user set
        Assumed   // neither: 1
    };
    double electronsPerAdu = 1;
    Source source = Source::Assumed;
};

// The frame's EGAIN, else the gain the user set, else 1 e-/ADU: an unknown gain still counts the
// star's photon noise, as a count of ADU.
FrameGain frameGain(const FitsImage& image, std::optional<double> configured);

// Why a measurement cannot be used; bits of StarFlux::flags.
enum PhotometryFlag : int
{
    OffChip = 1,   // the aperture is not wholly on the frame
    Saturated = 2, // a pixel in the aperture reached saturation
    NoSky = 4,     // too little clear sky around it: off the frame or crowded
    Faint = 8      // no light above the sky
};

// A star's light in its aperture, less the local sky.
struct StarFlux
{
    double x = 0; // 0-based pixel centre of the aperture
    double y = 0;
    double flux = 0; // ADU
    double fluxError = 0;
    double sky = 0; // the local sky per pixel, above the frame's background map, ADU
    int flags = 0;  // PhotometryFlag bits

    bool usable() const { return flags == 0; }
    // The instrumental magnitude, -2.5 log10(flux), and its error.
    double magnitude() const { return -2.5 * std::log10(flux); }
    double magnitudeError() const { return 2.5 / std::log(10.0) * fluxError / flux; }
};

// A source SEP found in the frame, as a candidate comparison star.
struct Source
{
    double x = 0; // 0-based pixel centre
    double y = 0;
    double flux = 0;        // above the background, ADU
    bool blended = false;   // deblended from a neighbour
    bool truncated = false; // touches the frame's edge
    bool saturated = false;
};

// A frame made ready for aperture photometry with SEP: the background and its noise mapped and
// subtracted, the sources found and masked out of every sky ring (each ring's sky is the mean of
// its clear pixels, so a neighbour does not raise it).
class PhotometryFrame
{
public:
    // Throws ImagingError when SEP fails.
    explicit PhotometryFrame(const FitsImage& image, const CameraResponse& camera = {});
    ~PhotometryFrame();
    PhotometryFrame(const PhotometryFrame&) = delete;
    PhotometryFrame& operator=(const PhotometryFrame&) = delete;

    int width() const { return m_width; }
    int height() const { return m_height; }
    double saturation() const { return m_saturation; }
    // Every source found, brightest first.
    const std::vector<Source>& sources() const { return m_sources; }

    // The star's flux in the aperture centred at 0-based (x, y), as placed.
    StarFlux measure(double x, double y, const Apertures& apertures) const;
    // The same, first centred on the light near (x, y) (SEP's windowed centroid): a star where a
    // solve puts it may lie a pixel off. A centre that runs farther than the aperture's radius is
    // not the star's, and the place is kept as given.
    StarFlux measureCentred(double x, double y, const Apertures& apertures) const;

private:
    int m_width = 0;
    int m_height = 0;
    double m_gain = 0;
    double m_saturation = 0;
    std::vector<float> m_data;         // the frame less its background map
    std::vector<float> m_noise;        // the background's rms map
    std::vector<unsigned char> m_mask; // 1 a source's pixel, 2 a saturated pixel
    std::vector<Source> m_sources;
};

} // namespace kestrove::imaging

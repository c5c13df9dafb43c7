#pragma once

#include "imaging/FitsFile.h"

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

namespace kestrove::imaging {

// The kinds of calibration frame, as the database and the file names spell them.
enum class MasterKind
{
    Bias,
    Dark,
    Flat
};
QString masterKindText(MasterKind kind);
std::optional<MasterKind> parseMasterKind(const QString& text);

// What a master is good for: frames of the same exposure (darks), binning, set temperature (none:
// an uncooled camera) and filter (flats).
struct MasterSetting
{
    MasterKind kind = MasterKind::Dark;
    double exposure = 0; // seconds; 0 for a bias
    int binning = 1;
    std::optional<double> temperature; // degrees C the camera was set to
    QString filter;                    // flats only

    bool operator==(const MasterSetting&) const = default;
};

// The per-pixel median of the frames: one hot pixel or cosmic ray in a frame does not reach the
// master. Throws ImagingError when there are none or their sizes differ.
FitsImage medianCombine(const std::vector<FitsImage>& frames);

// The raw frame less the dark (or the bias), divided by the flat scaled to a mean of 1; either
// master may be missing. A flat that is not positive somewhere leaves those pixels as they are.
// Throws ImagingError when a master's size is not the frame's.
FitsImage calibratedImage(const FitsImage& raw, const FitsImage* darkOrBias, const FitsImage* flat);

// The part of a master the frame took: `width` x `height` pixels from (x, y). Throws ImagingError
// when that part does not lie within it.
FitsImage croppedImage(const FitsImage& image, int x, int y, int width, int height);

// The mean and median of the pixels.
double meanOf(const FitsImage& image);
double medianOf(const FitsImage& image);

// "dark-60s-bin2-m10C-20261209T051230.fits", "flat-2.5s-bin1-Green-...": the master's file name in
// the calibration library, from its setting and the UTC time it was made.
QString masterFileName(const MasterSetting& setting, const QDateTime& utc);

// "raw/NAME.fits" -> "raw/NAME-cal.fits": where a frame's calibrated copy goes.
QString calibratedPath(const QString& rawPath);

// The masters that calibrate one frame, and where the frame lies on the chip (binned pixels).
struct FrameCalibration
{
    QString darkPath;  // a dark of the frame's exposure, or a bias; empty: none
    bool bias = false; // darkPath is a bias
    QString flatPath;  // empty: none
    int x = 0;
    int y = 0;
};

// Calibrates the frame with the masters (their parts the frame took) and writes it beside the raw
// frame, which stays as it is, with the raw frame's header and cards naming the masters. Returns
// the calibrated pixels. Throws ImagingError naming the file that failed.
FitsImage calibrateFrame(const FitsImage& raw, const QString& rawPath, const FrameCalibration& masters);

} // namespace kestrove::imaging

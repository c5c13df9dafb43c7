#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace kestrove {

class IniReader;

// [calibration]: the darks and bias taken after the night's close, the flats' target level and
// exposures, and how old a master may be to be used.
struct CalibrationSettings
{
    bool enabled = true;          // false: no calibration frames are taken and none applied
    int darks = 10;               // dark frames per exposure, binning and temperature
    int bias = 10;                // bias frames per binning and temperature
    double flatLevel = 30000;     // ADU a flat aims at, e.g. half the full well
    double flatExposureMin = 0.1; // seconds
    double flatExposureMax = 30;
    double maxAgeDays = 30; // an older master is not used
    // Without a panel: flats of the twilight sky while the Sun stands between these altitudes
    // (degrees), the roof opened for them before the night's dark; off unless asked for.
    bool skyFlats = false;
    double skyFlatSunMin = -10;
    double skyFlatSunMax = -2;

    bool operator==(const CalibrationSettings&) const = default;
};

// The keys of [calibration], as section/key.
QStringList calibrationKeys();

// The section as a new "observatory.ini" holds it, with its comments.
QStringList calibrationFileLines(const CalibrationSettings& calibration);

// Reads [calibration]; a value that cannot be taken is a HostError naming the key.
void readCalibration(IniReader& ini, CalibrationSettings& calibration);

// Each key's text, as section/key and value.
QList<QPair<QString, QString>> calibrationValues(const CalibrationSettings& calibration);

} // namespace kestrove

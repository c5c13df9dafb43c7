#pragma once

#include "settings/CalibrationSettings.h"
#include "sky/Astronomy.h"

#include <QDateTime>
#include <QList>

namespace kestrove {

// Where sky flats are taken at `utc`: 75 degrees up, opposite the Sun's azimuth, J2000. There the
// twilight sky is at its most even (its gradient runs away from the Sun and flattens near the
// zenith), and the field stands clear of the Sun's glow and the horizon's.
Equatorial skyFlatField(const Site& site, const QDateTime& utc);

// About how long one twilight's flats of `sets` filters and binnings take: `darks` frames each,
// with a few more while the exposure finds the level, of the middle of the exposure limits.
double skyFlatSeconds(const CalibrationSettings& calibration, int sets, double downloadSeconds);

// About how long the close's darks and bias take: `darks` frames of each exposure (seconds, as
// listed once each) and `bias` frames of each of `binnings` binnings.
double darkSeconds(const CalibrationSettings& calibration, const QList<double>& exposures, int binnings,
                   double downloadSeconds);

} // namespace kestrove

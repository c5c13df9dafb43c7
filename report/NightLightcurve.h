#pragma once

#include "database/ObservationDb.h"

#include <QStringList>

#include <vector>

namespace kestrove {

// The night's points of each target and filter solved again as one ensemble from their stars'
// instrumental magnitudes: comparisons that varied against the others over the night are dropped
// and every point's target and check magnitudes made again against those that stayed. Points
// without their stars' magnitudes stay as measured. `notes`, when given, gets a line for each
// comparison dropped.
std::vector<database::LightcurvePoint> solvedLightcurve(std::vector<database::LightcurvePoint> points,
                                                        QStringList* notes = nullptr);

} // namespace kestrove

#pragma once

#include "database/ObservationDb.h"

#include <QString>

namespace kestrove {

// "lightcurves/NAME.csv" in the log folder: a target's lightcurve, a line per measured frame. NAME
// is the target's name with each character a file name cannot hold made "_".
QString lightcurvePath(const QString& logDir, const QString& target);

// The file's first line, the names of its columns.
QByteArray lightcurveHeader();
// A point as its line, without the line break.
QByteArray lightcurveLine(const database::LightcurvePoint& point);

// Adds the point's line to its target's file, replacing the file whole so that a reader never sees
// half a line; creates the file and its folder with the header. Throws HostError naming the file.
void appendLightcurve(const QString& logDir, const database::LightcurvePoint& point);

} // namespace kestrove

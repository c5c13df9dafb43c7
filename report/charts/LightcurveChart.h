#pragma once

#include "database/ObservationDb.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

namespace kestrove::charts {

// Which of a star's points a lightcurve plot shows.
enum class LightcurveSpan
{
    Night, // the night's
    All    // every night's
};

// "night" or "all", as the files and the web page name them.
QString spanName(LightcurveSpan span);

// The targets the points are of, in the order they first appear.
QStringList lightcurveTargets(const std::vector<database::LightcurvePoint>& points);

// A star's magnitude against BJD_TDB, each filter in a colour of its own with its error bars, the
// check star's below in grey; brighter is up. Only `target`'s points are drawn. Needs a
// QApplication (the offscreen platform will do).
QByteArray lightcurvePicture(const QString& target, const std::vector<database::LightcurvePoint>& points,
                             LightcurveSpan span, const QSize& size);

// Writes "lightcurves/NAME-night.png" and "lightcurves/NAME-all.png" into the folder for each
// target of `night`, the second from `all`; NAME as in the lightcurve's CSV file. Returns the paths.
QStringList writeLightcurvePictures(const std::vector<database::LightcurvePoint>& night,
                                    const std::vector<database::LightcurvePoint>& all, const QString& folder);

} // namespace kestrove::charts

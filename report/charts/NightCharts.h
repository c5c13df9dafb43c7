#pragma once

#include "report/NightReport.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QSize>
#include <QString>
#include <utility>

QT_BEGIN_NAMESPACE
class QChart;
QT_END_NAMESPACE

namespace kestrove::charts {

// The night: the altitude of every observed target against the site's local time, each plan as a
// block coloured by kind, the twilights shaded, and the Moon where ERFA can place it. The caller
// owns the chart.
QChart* nightChart(const NightReport& report);
// The sky: the observed positions on a polar altitude-azimuth chart, with the horizon, the
// elevation limit and the observation window. The caller owns the chart.
QChart* skyChart(const NightReport& report);

// Where an azimuth and elevation (degrees) lie on the sky charts' map, seen from above the site as
// sky.png draws it: north at the top, east to the right, the zenith at the centre and the horizon
// on the unit circle; y grows downwards, as on a screen.
QPointF skyMapPoint(double azimuth, double elevation);
// The compass points those maps are labelled with, by azimuth.
QList<std::pair<QString, double>> compassPoints();

// Draws a chart into a PNG and, when `svgPath` is given, an SVG file. Takes the chart. Needs a
// QApplication (the offscreen platform will do).
void saveChart(QChart* chart, const QSize& size, const QString& pngPath, const QString& svgPath = {});

// The colour each kind has in every chart.
QColor kindColour(SurveyKind kind);

// The names the charts give their series, for whoever looks for them.
QString plansSeriesName(SurveyKind kind);     // "SNe plans"
QString positionsSeriesName(SurveyKind kind); // "SNe"
QString failedPlansSeriesName();              // the hatching over plans that did not complete

// The night chart's shading of the sky by the Sun's altitude (degrees, from inclusive, to exclusive),
// darkest first.
struct SkyBand
{
    QString name;
    double sunFrom;
    double sunTo;
    QColor colour;
};
QList<SkyBand> skyBands();

} // namespace kestrove::charts

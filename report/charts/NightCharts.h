#pragma once

#include "report/NightReport.h"

#include <QColor>
#include <QList>
#include <QSize>
#include <QString>

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

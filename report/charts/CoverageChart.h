#pragma once

#include "report/MonthPreview.h"

#include <QList>
#include <QSize>
#include <QString>

QT_BEGIN_NAMESPACE
class QPainter;
QT_END_NAMESPACE

namespace kestrove::charts {

// The rows of the coverage chart: each kind's targets, fewest visits first, so that the starved
// ones head their kind. A long catalogue is drawn in groups of neighbouring rows.
struct CoverageRow
{
    SurveyKind kind = SurveyKind::SNe;
    QString label;        // the target's name, or "first … last (n)" for a group
    QList<double> visits; // per night; the group's mean
    double total = 0;     // visits over the month; the group's mean
    bool starved = false; // not visited at all (every target of the group)
};
QList<CoverageRow> coverageRows(const MonthReport& report, int maxRows);

// The size the chart takes for the report.
QSize coverageChartSize(const MonthReport& report);
// Draws the coverage chart: targets down, nights across, each cell coloured by the visits of that
// night; cloudy nights greyed; the month's visits per target as a bar on the right.
void paintCoverage(QPainter& painter, const MonthReport& report, const QSize& size);
// Writes it as PNG and SVG. Needs a QGuiApplication (the offscreen platform will do) for fonts.
void saveCoverageChart(const MonthReport& report, const QString& pngPath, const QString& svgPath);

} // namespace kestrove::charts

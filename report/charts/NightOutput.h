#pragma once

#include "report/MonthPreview.h"
#include "report/NightReport.h"
#include "report/PolicyComparison.h"

#include <QString>
#include <QStringList>

namespace kestrove {

// Writes a preview's files into the folder: plans.csv, reasons.csv, night.png, night.svg and
// sky.png. Returns their paths.
QStringList writePreviewFiles(const NightReport& report, const QString& folder);
// Writes a preview of several nights' files into the folder: coverage.csv, plans.csv (every night's
// plans), coverage.png and coverage.svg. Returns their paths.
QStringList writeMonthFiles(const MonthReport& report, const QString& folder);
// Writes each policy's files into a folder of its own in the folder ("specified", "balanced"), as a
// night's or a month's preview would, and "policies.txt" with the two side by side. Returns the
// paths.
QStringList writePolicyFiles(const PolicyMonths& months, const QString& folder);
// Writes what a report of a real night has: night.png, frames.csv when the night has frames, and
// aavso.txt, the AAVSO extended file of its lightcurve points, and each lightcurve star's plots
// "lightcurves/NAME-night.png" and "lightcurves/NAME-all.png", when it has them.
// Returns their paths.
QStringList writeReportFiles(const NightReport& report, const QString& folder);

} // namespace kestrove

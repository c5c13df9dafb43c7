#pragma once

#include "report/NightReport.h"

#include <QString>

namespace kestrove {

// "plans.csv": one line per plan, with its times in UTC and at the site, its kind, target,
// weighted score, where the target stood at the start and how long the plan took.
QByteArray plansCsv(const NightReport& report);
// "reasons.csv": one line per target, with what became of it pass by pass.
QByteArray reasonsCsv(const NightReport& report);
// The few lines that sum the night up: plans per kind, dark time used, idle passes, first and last
// plan.
QString nightSummary(const NightReport& report);

// A folder of its own for a night's output under `parent`: the night's date, then -2, -3 ... when
// that is taken.
QString newDatedFolder(const QString& parent, const QDate& night);

} // namespace kestrove

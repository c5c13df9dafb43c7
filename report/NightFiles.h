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

// "balanced, shares SNe 50, SLC 30, MPS 20": the policy with the shares it keeps.
QString policyLine(SelectionPolicy policy, const KindShares& shares);

// "Share of the time in plans while each kind had a target: SNe 48.1 % (asked 50.0), ...".
QString sharesLine(const KindTimes& times, const KindShares& shares);

// A folder of its own for a night's output under `parent`: the night's date, then -2, -3 ... when
// that is taken.
QString newDatedFolder(const QString& parent, const QDate& night);

} // namespace kestrove

#pragma once

#include "host/Observatory.h"
#include "host/PlanReader.h"

#include <QDateTime>
#include <QString>

namespace kestrove {

// How long a plan is expected to run on the host, seconds: a due autofocus, the slew and settle,
// what the host does at the pointing (its plate solves), then each image's exposure and download.
// The run loop refuses a plan by it that the Sun limit would cut short, and "Stop Survey" says by
// it how long the plan has left; a preview, being the run loop in virtual time, does the same.
double expectedPlanSeconds(const AcquisitionPlan& plan, double slewSeconds, AcpPrefs& prefs);

// "Survey stopping: waiting for M51 to end, about 12 min left": the time left to the nearest minute,
// at least one, while the plan's expected end lies ahead.
QString stoppingStatus(const QString& target, const QDateTime& expectedEnd, const QDateTime& utcNow);

} // namespace kestrove

#pragma once

#include "app/CommandLine.h"
#include "settings/SurveySettings.h"

#include <QStringList>

namespace kestrove {

// Runs a survey without a window: the enable flags and weights of "config.ini" stand in for the
// check boxes and weight boxes, status texts go to standard output and messages to standard error.
// Needs a QCoreApplication. Returns the process exit status: 0 after a clean stop.
int runHeadless(const CommandLine& commandLine);

class Clock;

// What a headless run says on standard error before its first pass, since it has no window to
// show it: that no survey kind is enabled (every pass would only sleep), or that the clock runs in
// real time towards an --until more than an hour of wall time away (almost always a preview that
// was meant to run in virtual time).
QStringList startWarnings(const SurveySettings& settings, const Clock& clock, const RunLimits& limits);

} // namespace kestrove

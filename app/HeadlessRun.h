#pragma once

#include "app/CommandLine.h"

namespace kestrove {

// Runs a survey without a window: the enable flags and weights of "config.ini" stand in for the
// check boxes and weight boxes, status texts go to standard output and messages to standard error.
// Needs a QCoreApplication. Returns the process exit status: 0 after a clean stop.
int runHeadless(const CommandLine& commandLine);

} // namespace kestrove

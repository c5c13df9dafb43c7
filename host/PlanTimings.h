#pragma once

#include "settings/ObservatorySettings.h"

namespace kestrove {

// What a host spends on a plan beyond its slew, settle, exposures and downloads, seconds.
struct PlanTimings
{
    double autofocusSeconds = 0; // a plan that focuses first
    double pointingSeconds = 0;  // each pointing, after the settle: plate solves and their corrections
};

// The timings of the observatory the settings describe. The simulated one spends exactly its own
// ([acquisition] autofocusSeconds and pointingSeconds). An INDI one is expected to focus for
// [acquisition] autofocusSeconds when it has a way to focus, and, when it solves, to take two solve
// frames (fewer with [solve] attempts=1), each exposed, downloaded and solved within the solver's CPU
// limit, with a settle after the correction between them.
PlanTimings planTimings(const ObservatorySettings& settings);

// Whether an INDI observatory of these settings plate solves after its slews: a camera, solving not
// turned off, solve-field and index files installed.
bool solvesPointing(const ObservatorySettings& settings);

} // namespace kestrove

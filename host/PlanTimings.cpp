#include "host/PlanTimings.h"

#include "imaging/SolveField.h"

#include <algorithm>

namespace kestrove {

bool solvesPointing(const ObservatorySettings& settings)
{
    return !settings.indi.camera.isEmpty() && settings.solve.enabled != false &&
           !imaging::SolveField::executable().isEmpty() &&
           !imaging::SolveField::findIndexFolder(settings.solve.indexFolder).isEmpty();
}

PlanTimings planTimings(const ObservatorySettings& settings)
{
    if (settings.kind == HostKind::Sim)
        return {settings.autofocusSeconds, settings.pointingSeconds};
    PlanTimings timings;
    const IndiSettings& indi = settings.indi;
    if (!indi.autofocusCommand.isEmpty() || !indi.focuser.isEmpty())
        timings.autofocusSeconds = settings.autofocusSeconds;
    if (solvesPointing(settings)) {
        const SolveSettings& solve = settings.solve;
        // The first solve finds the mount's error, the second confirms the correction.
        const int solves = std::clamp(solve.attempts, 1, 2);
        timings.pointingSeconds = solves * (solve.exposure + settings.downloadSeconds + solve.cpuLimit) +
                                  (solves - 1) * settings.settleTime;
    }
    return timings;
}

} // namespace kestrove

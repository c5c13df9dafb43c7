#include "report/NightReport.h"

#include <cmath>

namespace kestrove {

std::optional<double> airmassAt(double elevation)
{
    if (!(elevation > 0))
        return std::nullopt;
    return 1.0 / (std::sin(elevation * M_PI / 180.0) + 0.50572 * std::pow(elevation + 6.07995, -1.6364));
}

ObservedPlan observedPlan(const HistoryEntry& entry, SkyContexts& skies)
{
    ObservedPlan plan;
    plan.entry = entry;
    plan.atStart = skies.at(entry.startUtc)->observed(entry.rightAscension, entry.declination);
    plan.airmass = airmassAt(plan.atStart.elevation);
    return plan;
}

ObservedPlan observedPlan(const HistoryEntry& entry, const Site& site)
{
    SkyContexts skies(site);
    return observedPlan(entry, skies);
}

} // namespace kestrove

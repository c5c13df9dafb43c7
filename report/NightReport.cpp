#include "report/NightReport.h"

namespace kestrove {

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

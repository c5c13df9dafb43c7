#pragma once

#include "report/MonthPreview.h"

#include <QString>
#include <array>
#include <functional>
#include <optional>

namespace kestrove {

// What a policy made of some nights, as the comparison of policies lists it.
struct PolicyFigures
{
    SelectionPolicy policy = SelectionPolicy::Specified;
    int nights = 0; // clear ones
    std::array<int, kindSlots> plans{};
    KindShares shares{};
    KindTimes times;
    std::array<std::optional<double>, kindSlots> medianAirmass;
    // SLC, over the stars visited twice in a night: the median cadence asked and got (minutes), how
    // many kept it (within a tenth of what they ask, or closer together) of how many.
    std::optional<double> cadenceAsked;
    std::optional<double> cadenceGot;
    int cadenceKept = 0;
    int cadenceKnown = 0;
    // SLC visits sooner after the one before than the star's interval.
    int earlyVisits = 0;
    int negativePlans = 0;

    // A kind's share of the time of the passes in which it had a target to take, and the share it
    // was entitled to there (with shares); percent.
    std::optional<double> shareGot(SurveyKind kind) const;
    std::optional<double> shareAsked(SurveyKind kind) const;
};

PolicyFigures policyFigures(const MonthReport& report);

// A night's preview as a month of one night, with the SLC intervals of its targets file.
MonthReport asMonth(const NightReport& night, const std::map<QString, int>& slcCadence);

// The two policies side by side, a line per figure.
QString policyComparison(const PolicyFigures& specified, const PolicyFigures& balanced);

// The same nights previewed under each policy; a month of one night when a single night (or span)
// was previewed.
struct PolicyMonths
{
    MonthReport specified;
    MonthReport balanced;
    // The single night's own reports, for its files and summary; empty for a month.
    std::optional<NightReport> specifiedNight;
    std::optional<NightReport> balancedNight;
    bool stopped = false;
};
// Previews the month under each policy. `progress` gets the policy's index (0, 1), the night's
// index and the fraction of it done, and returns false to stop.
PolicyMonths comparePolicies(const MonthRequest& request,
                             const std::function<bool(int, int, double)>& progress = {});
// The same for one night's request (its span).
PolicyMonths comparePolicies(const PreviewRequest& request,
                             const std::function<bool(int, double)>& progress = {});
// Both policies' figures side by side.
QString policyComparison(const PolicyMonths& months);

} // namespace kestrove

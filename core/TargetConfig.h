#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace kestrove {

// A target's own limits, from the config items minAltitude, maxAirmass and window; each is none
// unless its item is given, and then applies on top of the survey's limits.
struct TargetLimits
{
    std::optional<float> minAltitude; // degrees
    std::optional<float> maxAirmass;
    // Minutes after local midnight; a window whose end comes before its start runs past midnight.
    std::optional<int16_t> windowStart;
    std::optional<int16_t> windowEnd;

    bool any() const { return minAltitude || maxAirmass || windowStart; }
    bool operator==(const TargetLimits& other) const = default;
};

// The items of a target config line. Callers preset every field before reading a line; a field
// whose key does not occur keeps its preset.
struct TargetConfig
{
    double lastImageJD = 0;
    bool reshoot = false;
    int16_t imageCount = 0;
    float priority = 100;
    int16_t interval = 0;
    float exposure = 0;
    int16_t binning = 1;
    QString filter;
    TargetLimits limits;

    bool operator==(const TargetConfig& other) const = default;
};

} // namespace kestrove

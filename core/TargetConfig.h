#pragma once

#include <QString>
#include <cstdint>
#include <limits>

namespace kestrove {

// A target's own limits, from the config items minAltitude, maxAirmass and window; each is none
// unless its item is given, and then applies on top of the survey's limits. Kept apart from the
// TargetConfig that every entry of a long catalogue copies at every pass: few entries have any.
struct TargetLimits
{
    static constexpr float noMinAltitude = -std::numeric_limits<float>::infinity();
    static constexpr float noMaxAirmass = std::numeric_limits<float>::infinity();

    float minAltitude = noMinAltitude; // degrees
    float maxAirmass = noMaxAirmass;
    // Minutes after local midnight, -1 for none; a window whose end comes before its start runs past
    // midnight.
    int16_t windowStart = -1;
    int16_t windowEnd = -1;

    bool any() const
    {
        return minAltitude != noMinAltitude || maxAirmass != noMaxAirmass || windowStart >= 0;
    }
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

    bool operator==(const TargetConfig& other) const = default;
};

} // namespace kestrove

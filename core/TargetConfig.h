#pragma once

#include <QString>
#include <cstdint>

namespace kestrove {

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

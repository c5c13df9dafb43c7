#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrove {

// A star a lightcurve target's config line names by its J2000 place ("comp=" and "check=" items:
// RA,DEC[,MAG[,LABEL]]): a comparison or check star, with its catalogue magnitude in the target's
// filter and its chart label or AUID when the user gives them.
struct NamedStar
{
    double rightAscension = 0; // hours
    double declination = 0;    // degrees
    std::optional<double> magnitude;
    QString label;
    QString text; // the item's value as written, to write it back as it was

    bool operator==(const NamedStar& other) const = default;
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
    std::vector<NamedStar> comparisons; // each "comp=" item, in order
    std::optional<NamedStar> check;

    bool operator==(const TargetConfig& other) const = default;
};

} // namespace kestrove

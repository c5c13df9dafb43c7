#pragma once

namespace kestrove::imaging {

// What the search for new and moving sources accepts ([discovery] in observatory.ini).
struct DiscoverySettings
{
    double radius = 3;       // arcminutes around a galaxy where a new source is a candidate
    double minSnr = 7;       // the least S/N of a candidate or of a mover's detection
    double linkResidual = 2; // arcseconds a mover's detections may lie off its straight, uniform path
    double minRate = 0.1;    // arcseconds a minute
    double maxRate = 100;

    bool operator==(const DiscoverySettings&) const = default;
};

} // namespace kestrove::imaging

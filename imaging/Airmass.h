#pragma once

#include <cmath>
#include <numbers>
#include <optional>

namespace kestrove::imaging {

// The airmass at an apparent elevation (degrees), by Pickering's (2002) formula, which stays
// sound down to the horizon; none below 5 degrees, where no survey frame is worth a number.
inline std::optional<double> airmassAt(double elevation)
{
    if (!(elevation >= 5))
        return std::nullopt;
    const double h = elevation;
    const double angle = (h + 244.0 / (165.0 + 47.0 * std::pow(h, 1.1))) * std::numbers::pi / 180.0;
    return 1.0 / std::sin(angle);
}

} // namespace kestrove::imaging

#pragma once

#include "core/TargetConfig.h"

#include <cstdint>
#include <limits>

namespace kestrove {

// An MPS field's image count once an image taken at `observedJD` is in: one more (held at the
// 16-bit limit), or 1 when more than half a day has passed since the last, a new night's set.
inline int16_t imageCountAfter(const TargetConfig& config, double observedJD)
{
    if (observedJD - config.lastImageJD > 0.5)
        return 1;
    return config.imageCount < std::numeric_limits<int16_t>::max()
               ? static_cast<int16_t>(config.imageCount + 1)
               : config.imageCount;
}

} // namespace kestrove

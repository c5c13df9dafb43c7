#pragma once

#include "sky/Astronomy.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QTimeZone>
#include <optional>

namespace kestrove {

// A stretch of time, UTC.
struct TimeSpan
{
    QDateTime startUtc;
    QDateTime endUtc;
};

// The Sun's altitude at which the night's dark part begins and ends: the end of nautical twilight.
inline constexpr double darkSunAltitude = -12;

// The dark part of the night that begins on the evening of `night` (a local date at the site):
// from when the Sun sinks below `sunAltitude` to when it rises above it again, looked for between
// local noon and the next local noon. A Sun that stays below gives the whole span; one that never
// gets below gives nothing.
std::optional<TimeSpan> darkWindow(const Site& site, const QTimeZone& zone, const QDate& night,
                                   double sunAltitude = darkSunAltitude);

} // namespace kestrove

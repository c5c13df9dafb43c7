#pragma once

#include "sky/Astronomy.h"

#include <QDateTime>

namespace kestrove {

// When light that reached `site` at the UTC instant `utc` from a star at the J2000 place `star`
// passed the solar system's barycentre: the barycentric Julian date in TDB (BJD_TDB), the time
// scale lightcurves are timed in. UTC to TT by the leap seconds, TT to TDB by ERFA's series at the
// site, and the light's travel along the star's direction from the site's barycentric place
// (ERFA's Earth ephemeris); no UT1-UTC, which moves the site by metres, nanoseconds of light. Throws
// HostError for a date ERFA cannot take.
double barycentricJulianDate(const QDateTime& utc, const Site& site, const Equatorial& star);

} // namespace kestrove

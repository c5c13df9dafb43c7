#pragma once

#include "sky/Astronomy.h"
#include "sky/Clock.h"

#include <QDateTime>
#include <memory>
#include <optional>

namespace kestrove {

// The sky over a site as the observatory's clock tells the time. Contexts are kept while the clock
// stands still, and the sidereal time is carried forward between them, so that asking for it once
// per target costs nothing.
class SiteSky
{
public:
    SiteSky(const Site& site, const Clock& clock) : m_site(site), m_clock(clock), m_skies(site) {}

    const Site& site() const { return m_site; }
    // The sky context for the clock's current instant (see SkyContexts).
    std::shared_ptr<const SkyInstant> now();
    // Local apparent sidereal time now, hours. On a running clock it is carried forward from a
    // context up to a minute old at the sidereal rate (error far below a millisecond of time).
    double siderealTimeNow();
    // The Sun's altitude now, degrees; reused for up to ten seconds of the clock, in which the Sun
    // moves less than a twentieth of a degree.
    double sunAltitudeNow();
    // The Moon's place now, when this ERFA can place it; reused for up to ten seconds of the clock.
    std::optional<Horizontal> moonNow();
    // As the free function below. A search looks a day ahead and is kept, so that asking before
    // every plan of a night costs nothing.
    std::optional<QDateTime> firstSunAboveLimit(const std::optional<double>& limit, const QDateTime& from,
                                                const QDateTime& to);

private:
    Site m_site;
    const Clock& m_clock;
    SkyContexts m_skies;
    // The last search for the Sun above a limit: from `m_searchFrom` to `m_searchTo` the Sun first
    // stood above `m_searchLimit` at `m_searchFound`, or never.
    std::optional<double> m_searchLimit;
    QDateTime m_searchFrom;
    QDateTime m_searchTo;
    std::optional<QDateTime> m_searchFound;
    qint64 m_siderealMs = 0;
    double m_sidereal = 0;
    bool m_haveSidereal = false;
    qint64 m_sunMs = 0;
    double m_sunAltitude = 0;
    bool m_haveSun = false;
    qint64 m_moonMs = 0;
    std::optional<Horizontal> m_moon;
    bool m_haveMoon = false;
};

// True while the Sun stands above the limit; never with no limit.
bool sunAboveLimit(SiteSky& sky, const std::optional<double>& limit);

// The first instant in [from, to] at which the Sun stands above the limit, to about a second;
// nothing when it stays below (or there is no limit).
std::optional<QDateTime> firstSunAboveLimit(const Site& site, const std::optional<double>& limit,
                                            const QDateTime& from, const QDateTime& to);

} // namespace kestrove

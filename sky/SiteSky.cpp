#include "sky/SiteSky.h"

#include <algorithm>
#include <cmath>

namespace kestrove {

std::shared_ptr<const SkyInstant> SiteSky::now()
{
    // A pass asks for every target at one millisecond of the clock.
    const std::shared_ptr<const SkyInstant>& last = m_skies.last();
    if (last && last->msecsSinceEpoch() == m_clock.utcMsecs())
        return last;
    return m_skies.at(m_clock.utcNow());
}

double SiteSky::sunAltitudeNow()
{
    const qint64 now = m_clock.utcMsecs();
    if (!m_haveSun || std::abs(now - m_sunMs) > 10000) {
        m_sunAltitude = this->now()->sun().elevation;
        m_sunMs = now;
        m_haveSun = true;
    }
    return m_sunAltitude;
}

std::optional<Horizontal> SiteSky::moonNow()
{
    // The Moon moves across the sky as fast as the stars: ten seconds move it a twentieth of a degree.
    const qint64 now = m_clock.utcMsecs();
    if (!m_haveMoon || std::abs(now - m_moonMs) > 10000) {
        m_moon = this->now()->moon();
        m_moonMs = now;
        m_haveMoon = true;
    }
    return m_moon;
}

std::optional<QDateTime> SiteSky::firstSunAboveLimit(const std::optional<double>& limit,
                                                     const QDateTime& from, const QDateTime& to)
{
    if (!limit || to < from)
        return std::nullopt;
    // Known dark from the last search's start up to what it found or, finding nothing, its end.
    const bool known = m_searchLimit == limit && m_searchFrom <= from &&
                       (m_searchFound ? from < *m_searchFound : to <= m_searchTo);
    if (!known) {
        m_searchLimit = limit;
        m_searchFrom = from;
        m_searchTo = std::max(to, from.addSecs(24 * 3600));
        m_searchFound = kestrove::firstSunAboveLimit(m_site, limit, from, m_searchTo);
    }
    if (m_searchFound && *m_searchFound <= to)
        return m_searchFound;
    return std::nullopt;
}

double SiteSky::siderealTimeNow()
{
    const qint64 now = m_clock.utcMsecs();
    // A pass asks it twice for every target it scores, at one instant.
    if (m_haveSidereal && now == m_siderealMs)
        return m_sidereal;
    const SkyInstant* last = m_skies.last().get();
    if (!last || now < last->msecsSinceEpoch() || now - last->msecsSinceEpoch() > 60000) {
        m_sidereal = this->now()->localSiderealTime();
    } else {
        constexpr double siderealPerSolar = 1.00273790935;
        const double hours = last->localSiderealTime() + static_cast<double>(now - last->msecsSinceEpoch()) /
                                                             3600000.0 * siderealPerSolar;
        m_sidereal = std::fmod(hours, 24.0);
    }
    m_siderealMs = now;
    m_haveSidereal = true;
    return m_sidereal;
}

bool sunAboveLimit(SiteSky& sky, const std::optional<double>& limit)
{
    return limit && sky.sunAltitudeNow() > *limit;
}

std::optional<QDateTime> firstSunAboveLimit(const Site& site, const std::optional<double>& limit,
                                            const QDateTime& from, const QDateTime& to)
{
    if (!limit || to < from)
        return std::nullopt;
    if (sunAltitude(from, site) > *limit)
        return from;
    const QList<QDateTime> crossings = sunCrossings(site, from, to, *limit);
    if (crossings.isEmpty())
        return std::nullopt;
    return crossings.front();
}

} // namespace kestrove

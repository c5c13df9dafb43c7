#pragma once

#include "sky/Astronomy.h"

#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QTimeZone>
#include <optional>

namespace kestrove {

// When a target can be observed in the coming night: the dark hours after `now` (the Sun below
// its limit) sampled every ten minutes, with the target's altitude at each.
class Tonight
{
public:
    Tonight(const Site& site, const QTimeZone& zone, const QDateTime& nowUtc, double minimumElevation,
            const QList<QPointF>& horizon, std::optional<double> sunLimit);

    // "max 64°, 21:10-04:30" (local times above the minimum elevation and the horizon), "max 12°,
    // never above 20°", or "no dark time" when the Sun stays up.
    QString text(double raHours, double decDegrees) const;

private:
    QList<std::shared_ptr<SkyInstant>> m_dark;
    QTimeZone m_zone;
    double m_minimumElevation;
    QList<QPointF> m_horizon;
};

} // namespace kestrove

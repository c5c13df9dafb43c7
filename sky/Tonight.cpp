#include "sky/Tonight.h"

#include "text/ValueText.h"

#include <algorithm>
#include <memory>

namespace kestrove {

namespace {
constexpr int kStepSeconds = 600;
// Without a Sun limit the night is astronomical darkness.
constexpr double kDarkSun = -12;
} // namespace

Tonight::Tonight(const Site& site, const QTimeZone& zone, const QDateTime& nowUtc, double minimumElevation,
                 const QList<QPointF>& horizon, std::optional<double> sunLimit)
    : m_zone(zone), m_minimumElevation(minimumElevation), m_horizon(horizon)
{
    const double limit = sunLimit.value_or(kDarkSun);
    bool started = false;
    for (int s = 0; s <= 24 * 3600; s += kStepSeconds) {
        auto sky = std::make_shared<SkyInstant>(nowUtc.addSecs(s), site);
        const bool dark = sky->sun().elevation < limit;
        if (dark) {
            started = true;
            m_dark << sky;
        } else if (started) {
            break; // the night ends at the next dawn
        }
    }
}

QString Tonight::text(double raHours, double decDegrees) const
{
    if (m_dark.isEmpty())
        return QStringLiteral("no dark time");
    double highest = -90;
    QDateTime first, last;
    for (const auto& sky : m_dark) {
        const Horizontal place = sky->observed(raHours, decDegrees);
        highest = std::max(highest, place.elevation);
        const double floor = std::max(m_minimumElevation, horizonElevation(m_horizon, place.azimuth));
        if (place.elevation < floor)
            continue;
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(sky->msecsSinceEpoch(), Qt::UTC);
        if (!first.isValid())
            first = at;
        last = at;
    }
    const QString max = QStringLiteral("max %1°").arg(qRound(highest));
    if (!first.isValid())
        return max + QStringLiteral(", never above %1°").arg(qRound(m_minimumElevation));
    const auto local = [&](const QDateTime& t) {
        return t.toTimeZone(m_zone).toString(QStringLiteral("HH:mm"));
    };
    return max + QStringLiteral(", %1-%2").arg(local(first), local(last));
}

} // namespace kestrove

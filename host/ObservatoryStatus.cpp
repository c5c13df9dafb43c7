#include "host/ObservatoryStatus.h"

#include "host/ObservatoryControl.h"
#include "settings/ObservatorySettings.h"
#include "sky/Astronomy.h"

#include <QStringList>
#include <cmath>

namespace kestrove {

namespace {
// A search that found no darkness is repeated after this long.
constexpr qint64 kNoDarkRetrySeconds = 3600;
} // namespace

QString siteText(double latitude, double longitude)
{
    return QStringLiteral("%1\u00b0 %2, %3\u00b0 %4")
        .arg(QString::number(std::abs(latitude), 'f', 4),
             latitude < 0 ? QStringLiteral("S") : QStringLiteral("N"),
             QString::number(std::abs(longitude), 'f', 4),
             longitude < 0 ? QStringLiteral("W") : QStringLiteral("E"));
}

ObservatoryStatus::ObservatoryStatus(Host& host) : m_host(host)
{
    m_zone = QTimeZone::utc();
    const ObservatorySettings* settings = host.observatorySettings();
    if (!settings)
        return;
    m_sky = std::make_unique<SiteSky>(Site{settings->latitude, settings->longitude, settings->elevation},
                                      host.clock());
    m_sunLimit = settings->sunAltitude;
    if (!settings->timeZone.isEmpty()) {
        const QTimeZone zone(settings->timeZone.toUtf8());
        if (zone.isValid())
            m_zone = zone;
    }
}

ObservatoryStatus::~ObservatoryStatus() = default;

ObservatoryReading ObservatoryStatus::reading()
{
    ObservatoryReading r;
    r.name = m_host.describe();
    r.local = m_host.clock().localNow();
    r.weatherSafe = m_host.weatherSafe();
    r.sunLimit = m_sunLimit;
    if (m_sky) {
        r.site = m_sky->site();
        r.sunAltitude = m_sky->sunAltitudeNow();
        if (m_sunLimit && *r.sunAltitude > *m_sunLimit)
            r.darkAt = nextDark();
    }
    if (ObservatoryControl* control = m_host.observatoryControl())
        r.roof = control->stateText();
    r.dome = m_host.dome();
    return r;
}

QString ObservatoryStatus::text()
{
    const ObservatoryReading r = reading();
    QStringList lines;
    QString first = r.name.isEmpty() ? QStringLiteral("Observatory") : r.name;
    if (r.site)
        first += QStringLiteral(", site ") + siteText(r.site->latitude, r.site->longitude);
    first += QStringLiteral(", local time ") + r.local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    lines << first;

    QString second = !r.weatherSafe   ? QStringLiteral("No weather source")
                     : *r.weatherSafe ? QStringLiteral("Weather safe")
                                      : QStringLiteral("Weather unsafe");
    if (r.sunAltitude) {
        second += QStringLiteral(", Sun %1\u00b0").arg(QString::number(*r.sunAltitude, 'f', 1));
        if (!r.sunLimit || *r.sunAltitude <= *r.sunLimit) {
            if (r.sunLimit)
                second += QStringLiteral(", dark enough");
        } else {
            second +=
                QStringLiteral(", above the limit of %1\u00b0").arg(QString::number(*r.sunLimit, 'g', 4));
            second += r.darkAt.isValid() ? QStringLiteral(", dark enough at ") +
                                               r.darkAt.toTimeZone(m_zone).toString(QStringLiteral("HH:mm"))
                                         : QStringLiteral(", not dark within %1 hours").arg(darkSearchHours);
        }
    }
    lines << second;

    if (!r.roof.isEmpty())
        lines << QStringLiteral("Roof and devices: ") + r.roof;
    if (r.dome)
        lines << QStringLiteral("Dome: ") + domeViewText(*r.dome);
    return lines.join(u'\n');
}

QDateTime ObservatoryStatus::nextDark()
{
    const QDateTime now = m_host.clock().utcNow();
    // Worked out again only when the clock has passed the cached instant or gone back before the
    // search, or when a search that found nothing has grown old.
    const bool stale =
        !m_searchedAt.isValid() || now < m_searchedAt ||
        (m_darkAt.isValid() ? now >= m_darkAt : m_searchedAt.secsTo(now) >= kNoDarkRetrySeconds);
    if (stale) {
        m_searchedAt = now;
        m_darkAt = QDateTime();
        const QList<QDateTime> crossings =
            sunCrossings(m_sky->site(), now, now.addSecs(darkSearchHours * 3600), *m_sunLimit);
        // The Sun stands above the limit now, so its first crossing is the one that goes below.
        if (!crossings.isEmpty())
            m_darkAt = crossings.front();
    }
    return m_darkAt;
}

} // namespace kestrove

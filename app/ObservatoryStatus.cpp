#include "app/ObservatoryStatus.h"

#include "host/ObservatoryControl.h"
#include "settings/ObservatorySettings.h"
#include "sky/Astronomy.h"

#include <QStringList>
#include <cmath>

namespace kestrove {

namespace {
// How far ahead the next darkness is looked for: past a polar summer day it is not worth saying.
constexpr qint64 kDarkSearchSeconds = 36 * 3600;
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
    const ObservatorySettings* settings = host.observatorySettings();
    if (!settings)
        return;
    m_sky = std::make_unique<SiteSky>(Site{settings->latitude, settings->longitude, settings->elevation},
                                      host.clock());
    m_sunLimit = settings->sunAltitude;
    if (!settings->timeZone.isEmpty())
        m_zone = QTimeZone(settings->timeZone.toUtf8());
    if (!m_zone.isValid())
        m_zone = QTimeZone::utc();
}

ObservatoryStatus::~ObservatoryStatus() = default;

QString ObservatoryStatus::text()
{
    QStringList lines;
    const QString name = m_host.describe();
    const Clock& clock = m_host.clock();
    QString first = name.isEmpty() ? QStringLiteral("Observatory") : name;
    if (m_sky)
        first += QStringLiteral(", site ") + siteText(m_sky->site().latitude, m_sky->site().longitude);
    first +=
        QStringLiteral(", local time ") + clock.localNow().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    lines << first;

    QString second;
    const std::optional<bool> safe = m_host.weatherSafe();
    second = !safe   ? QStringLiteral("No weather source")
             : *safe ? QStringLiteral("Weather safe")
                     : QStringLiteral("Weather unsafe");
    if (m_sky)
        second += QStringLiteral(", ") + darknessText();
    lines << second;

    if (ObservatoryControl* control = m_host.observatoryControl())
        lines << QStringLiteral("Roof and devices: ") + control->stateText();
    if (const std::optional<DomeView> dome = m_host.dome())
        lines << QStringLiteral("Dome: ") + domeViewText(*dome);
    return lines.join(u'\n');
}

QString ObservatoryStatus::darknessText()
{
    const double altitude = m_sky->sunAltitudeNow();
    QString text = QStringLiteral("Sun %1\u00b0").arg(QString::number(altitude, 'f', 1));
    if (!m_sunLimit || altitude <= *m_sunLimit)
        return text + (m_sunLimit ? QStringLiteral(", dark enough") : QString());

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
            sunCrossings(m_sky->site(), now, now.addSecs(kDarkSearchSeconds), *m_sunLimit);
        // The Sun stands above the limit now, so its first crossing is the one that goes below.
        if (!crossings.isEmpty())
            m_darkAt = crossings.front();
    }
    text += QStringLiteral(", above the limit of %1\u00b0").arg(QString::number(*m_sunLimit, 'g', 4));
    if (!m_darkAt.isValid())
        return text + QStringLiteral(", not dark within 36 hours");
    return text + QStringLiteral(", dark enough at ") +
           m_darkAt.toTimeZone(m_zone).toString(QStringLiteral("HH:mm"));
}

} // namespace kestrove

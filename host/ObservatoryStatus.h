#pragma once

#include "host/DomeView.h"
#include "host/Observatory.h"
#include "host/SkyUtil.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <memory>
#include <optional>

namespace kestrove {

// One look at the observatory as its host reports it.
struct ObservatoryReading
{
    QString name;                    // empty for a host that does not say
    std::optional<Site> site;        // none when the host has no site
    QDateTime local;                 // the host's clock, the site's time
    std::optional<bool> weatherSafe; // none without a weather source
    std::optional<double> sunAltitude;
    std::optional<double> sunLimit;
    // With the Sun above the limit, the next instant it goes below; invalid when dark enough now or
    // not dark within the search.
    QDateTime darkAt;
    QString roof; // the roof and devices' state; empty without an observatory control
    std::optional<DomeView> dome; // none without a dome
};

// What the window and the web page show about the observatory: which observatory, the site, the
// site's time by the host's clock, the weather and the darkness, and the roof and devices. Asked
// for once a second; the next dark instant is worked out once and kept until the clock reaches it.
class ObservatoryStatus
{
public:
    explicit ObservatoryStatus(Host& host);
    ~ObservatoryStatus();

    ObservatoryReading reading();
    // A few lines of text, one subject each.
    QString text();
    // The site's zone; UTC when the settings name none or one that is not known.
    const QTimeZone& zone() const { return m_zone; }
    // How far ahead the next darkness is looked for, hours.
    static constexpr int darkSearchHours = 36;

private:
    QDateTime nextDark();

    Host& m_host;
    std::unique_ptr<SiteSky> m_sky; // none when the host has no site
    std::optional<double> m_sunLimit;
    QTimeZone m_zone;
    // The next instant at which the Sun goes below the limit, as last worked out at m_searchedAt;
    // invalid when it stays above through the search.
    QDateTime m_searchedAt;
    QDateTime m_darkAt;
};

// "51.4800° N, 0.1200° W".
QString siteText(double latitude, double longitude);

} // namespace kestrove

#pragma once

#include "host/Observatory.h"
#include "host/SkyUtil.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>
#include <memory>
#include <optional>

namespace kestrove {

// What the window shows about the observatory, as its host reports it: which observatory, the
// site, the site's time by the host's clock, the weather and the darkness, and the roof and
// devices. Asked for once a second; the next dark instant is worked out once and kept until the
// clock reaches it.
class ObservatoryStatus
{
public:
    explicit ObservatoryStatus(Host& host);
    ~ObservatoryStatus();

    // A few lines of text, one subject each.
    QString text();

private:
    QString darknessText();

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

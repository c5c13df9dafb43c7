#include "report/NightWindow.h"

#include <QTime>

namespace kestrove {

namespace {

std::optional<TimeSpan> searchDarkWindow(const Site& site, const QTimeZone& zone, const QDate& night,
                                         double sunAltitudeLimit)
{
    const QDateTime noon = QDateTime(night, QTime(12, 0), zone).toUTC();
    const QDateTime nextNoon = QDateTime(night.addDays(1), QTime(12, 0), zone).toUTC();
    const bool darkAtNoon = sunAltitude(noon, site) < sunAltitudeLimit;
    const QList<QDateTime> crossings = sunCrossings(site, noon, nextNoon, sunAltitudeLimit);

    TimeSpan window{noon, nextNoon};
    qsizetype next = 0;
    if (!darkAtNoon) {
        if (crossings.isEmpty())
            return std::nullopt;
        window.startUtc = crossings[0];
        next = 1;
    }
    if (next < crossings.size())
        window.endUtc = crossings[next];
    return window;
}

} // namespace

std::optional<TimeSpan> darkWindow(const Site& site, const QTimeZone& zone, const QDate& night,
                                   double sunAltitudeLimit)
{
    // A preview asks for the same night more than once; the search scans a whole day.
    struct Asked
    {
        Site site;
        QTimeZone zone;
        QDate night;
        double limit = 0;
        std::optional<TimeSpan> window;
    };
    static std::optional<Asked> last;
    if (last && last->site.latitude == site.latitude && last->site.longitude == site.longitude &&
        last->site.elevation == site.elevation && last->zone == zone && last->night == night &&
        last->limit == sunAltitudeLimit)
        return last->window;
    last = Asked{site, zone, night, sunAltitudeLimit, searchDarkWindow(site, zone, night, sunAltitudeLimit)};
    return last->window;
}

} // namespace kestrove

#include "report/NightWindow.h"

#include <QTime>

namespace kestrove {

std::optional<TimeSpan> darkWindow(const Site& site, const QTimeZone& zone, const QDate& night,
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

} // namespace kestrove

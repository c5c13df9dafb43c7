#include "report/NightWindow.h"

#include <QTime>

namespace kestrove {

namespace {

// Coarse enough to be cheap, fine enough that the Sun cannot cross an altitude twice in one step
// anywhere but within a few degrees of a pole.
constexpr int stepSeconds = 600;

// Bisects down to a second between an instant on one side of the altitude and one on the other.
QDateTime crossingBetween(const Site& site, QDateTime before, QDateTime after, double altitude)
{
    const bool wasAbove = sunAltitude(before, site) >= altitude;
    while (before.secsTo(after) > 1) {
        const QDateTime middle = before.addSecs(before.secsTo(after) / 2);
        if ((sunAltitude(middle, site) >= altitude) == wasAbove)
            before = middle;
        else
            after = middle;
    }
    return after;
}

} // namespace

QList<QDateTime> sunCrossings(const Site& site, const QDateTime& fromUtc, const QDateTime& toUtc,
                              double sunAltitudeLimit)
{
    QList<QDateTime> crossings;
    QDateTime previous = fromUtc.toUTC();
    bool previousAbove = sunAltitude(previous, site) >= sunAltitudeLimit;
    while (previous < toUtc) {
        QDateTime next = previous.addSecs(stepSeconds);
        if (next > toUtc)
            next = toUtc.toUTC();
        const bool above = sunAltitude(next, site) >= sunAltitudeLimit;
        if (above != previousAbove)
            crossings << crossingBetween(site, previous, next, sunAltitudeLimit);
        previous = next;
        previousAbove = above;
    }
    return crossings;
}

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

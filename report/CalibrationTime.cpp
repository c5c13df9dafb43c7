#include "report/CalibrationTime.h"

#include "host/SkyFlats.h"
#include "text/NumberText.h"

#include <algorithm>

namespace kestrove {

namespace {

QString minutesText(double seconds)
{
    return QStringLiteral("%1 min").arg(std::max<qint64>(1, qRound64(seconds / 60)));
}

QString hhmm(const QDateTime& utc, const QTimeZone& zone)
{
    return utc.toTimeZone(zone).toString(QStringLiteral("HH:mm"));
}

} // namespace

QStringList calibrationLines(const CalibrationSettings& c, bool panel, const Site& site,
                             const QTimeZone& zone, const QDate& night, const QList<UsedSetting>& used,
                             double downloadSeconds)
{
    if (!c.enabled)
        return {QStringLiteral("Calibration: none ([calibration] enabled=false)")};
    if (used.isEmpty())
        return {QStringLiteral("Calibration: none, no plan takes frames")};
    QList<double> exposures;
    QList<int> binnings;
    QList<QPair<int, QString>> flats;
    for (const UsedSetting& u : used) {
        if (!exposures.contains(u.exposure))
            exposures << u.exposure;
        if (!binnings.contains(u.binning))
            binnings << u.binning;
        if (!flats.contains(QPair<int, QString>(u.binning, u.filter)))
            flats << QPair<int, QString>(u.binning, u.filter);
    }
    const double flatSeconds = skyFlatSeconds(c, static_cast<int>(flats.size()), downloadSeconds);
    const QString flatSets =
        QStringLiteral("%1 filter and binning %2")
            .arg(flats.size())
            .arg(flats.size() == 1 ? QStringLiteral("setting") : QStringLiteral("settings"));

    QStringList exposureTexts;
    for (double e : exposures)
        exposureTexts << doubleText(e) + QStringLiteral(" s");
    double closeSeconds =
        darkSeconds(c, exposures, c.bias > 0 ? static_cast<int>(binnings.size()) : 0, downloadSeconds);
    QString close =
        QStringLiteral("after the close, darks of %1").arg(exposureTexts.join(QStringLiteral(", ")));
    if (c.bias > 0)
        close += QStringLiteral(" and bias");
    if (panel) {
        close += QStringLiteral(" and panel flats of ") + flatSets;
        closeSeconds += flatSeconds;
    }
    close += QStringLiteral(", about ") + minutesText(closeSeconds);

    QString dusk = QStringLiteral("Calibration at dusk: none");
    QString dawn = QStringLiteral("Calibration at dawn: ") + close;
    if (!panel && c.skyFlats) {
        const auto high = darkWindow(site, zone, night, c.skyFlatSunMax);
        const auto low = darkWindow(site, zone, night, c.skyFlatSunMin);
        const QString window = QStringLiteral(" (Sun %1 to %2 degrees)")
                                   .arg(doubleText(c.skyFlatSunMax), doubleText(c.skyFlatSunMin));
        if (high && low) {
            dusk = QStringLiteral("Calibration at dusk: sky flats of %1, about %2 from %3, before %4")
                       .arg(flatSets, minutesText(flatSeconds), hhmm(high->startUtc, zone),
                            hhmm(low->startUtc, zone)) +
                   window;
            dawn = QStringLiteral("Calibration at dawn: sky flats the dusk missed from %1, before %2%3; %4")
                       .arg(hhmm(low->endUtc, zone), hhmm(high->endUtc, zone), window, close);
        } else {
            dusk = QStringLiteral("Calibration at dusk: no sky flats, the Sun does not pass") + window;
        }
    }
    return {dusk, dawn};
}

} // namespace kestrove

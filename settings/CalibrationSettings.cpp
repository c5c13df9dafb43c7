#include "settings/CalibrationSettings.h"

#include "settings/IniReader.h"
#include "text/NumberText.h"

namespace kestrove {

QStringList calibrationKeys()
{
    QStringList keys;
    for (const auto& [key, value] : calibrationValues(CalibrationSettings()))
        keys << key;
    return keys;
}

QList<QPair<QString, QString>> calibrationValues(const CalibrationSettings& c)
{
    return {
        {QStringLiteral("calibration/enabled"), c.enabled ? QStringLiteral("true") : QStringLiteral("false")},
        {QStringLiteral("calibration/darks"), QString::number(c.darks)},
        {QStringLiteral("calibration/bias"), QString::number(c.bias)},
        {QStringLiteral("calibration/flatLevel"), doubleText(c.flatLevel)},
        {QStringLiteral("calibration/flatExposureMin"), doubleText(c.flatExposureMin)},
        {QStringLiteral("calibration/flatExposureMax"), doubleText(c.flatExposureMax)},
        {QStringLiteral("calibration/maxAgeDays"), doubleText(c.maxAgeDays)},
        {QStringLiteral("calibration/skyFlats"),
         c.skyFlats ? QStringLiteral("true") : QStringLiteral("false")},
        {QStringLiteral("calibration/skyFlatSunMin"), doubleText(c.skyFlatSunMin)},
        {QStringLiteral("calibration/skyFlatSunMax"), doubleText(c.skyFlatSunMax)},
    };
}

QStringList calibrationFileLines(const CalibrationSettings& c)
{
    const QList<QPair<QString, QString>> values = calibrationValues(c);
    const auto line = [&](int i) { return values[i].first.section(u'/', 1) + u'=' + values[i].second; };
    return {
        QStringLiteral("[calibration]"),
        QStringLiteral("; after the night's close (roof shut, mount parked, camera still cold) an INDI"),
        QStringLiteral("; observatory takes `darks` dark frames for each exposure, binning and temperature"),
        QStringLiteral("; the night used, and `bias` bias frames; false: none taken, none applied"),
        line(0),
        line(1),
        line(2),
        QStringLiteral("; flats aim at flatLevel ADU, their exposure kept within flatExposureMin and"),
        QStringLiteral("; flatExposureMax seconds"),
        line(3),
        line(4),
        line(5),
        QStringLiteral("; the newest master no older than maxAgeDays days calibrates each frame"),
        line(6),
        QStringLiteral(
            "; without [indi] lightPanel, skyFlats=true opens the roof in twilight for flats of the"),
        QStringLiteral("; sky while the Sun stands between skyFlatSunMin and skyFlatSunMax degrees: in the"),
        QStringLiteral("; evening before the first plan, in the morning after the last"),
        line(7),
        line(8),
        line(9),
    };
}

void readCalibration(IniReader& ini, CalibrationSettings& c)
{
    ini.boolean("calibration/enabled", c.enabled);
    ini.integer("calibration/darks", c.darks, 1, 1000);
    ini.integer("calibration/bias", c.bias, 0, 1000);
    ini.number("calibration/flatLevel", c.flatLevel, 1, 1e7);
    ini.number("calibration/flatExposureMin", c.flatExposureMin, 0.001, 3600);
    ini.number("calibration/flatExposureMax", c.flatExposureMax, 0.001, 3600);
    ini.number("calibration/maxAgeDays", c.maxAgeDays, 0.01, 3650);
    ini.boolean("calibration/skyFlats", c.skyFlats);
    ini.number("calibration/skyFlatSunMin", c.skyFlatSunMin, -18, 0);
    ini.number("calibration/skyFlatSunMax", c.skyFlatSunMax, -18, 0);
    if (c.skyFlatSunMax <= c.skyFlatSunMin)
        throw ini.bad("calibration/skyFlatSunMax", doubleText(c.skyFlatSunMax),
                      QStringLiteral("is not above skyFlatSunMin %1").arg(doubleText(c.skyFlatSunMin)));
    if (c.flatExposureMax < c.flatExposureMin)
        throw ini.bad(
            "calibration/flatExposureMax", doubleText(c.flatExposureMax),
            QStringLiteral("is shorter than flatExposureMin %1").arg(doubleText(c.flatExposureMin)));
}

} // namespace kestrove

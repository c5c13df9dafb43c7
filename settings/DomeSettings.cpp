#include "settings/DomeSettings.h"

#include "settings/IniReader.h"
#include "settings/ObservatorySettings.h"
#include "text/NumberText.h"

#include <cmath>

namespace kestrove {

namespace {

QString slavingText(DomeSlaving slaving)
{
    return slaving == DomeSlaving::Driver ? QStringLiteral("driver") : QStringLiteral("kestrove");
}

} // namespace

QStringList domeKeys()
{
    QStringList keys;
    for (const auto& [key, value] : domeValues(DomeSettings()))
        keys << key;
    return keys;
}

QList<QPair<QString, QString>> domeValues(const DomeSettings& d)
{
    return {
        {QStringLiteral("dome/radius"), doubleText(d.radius)},
        {QStringLiteral("dome/mountOffsetNorth"), doubleText(d.mountOffsetNorth)},
        {QStringLiteral("dome/mountOffsetEast"), doubleText(d.mountOffsetEast)},
        {QStringLiteral("dome/mountOffsetUp"), doubleText(d.mountOffsetUp)},
        {QStringLiteral("dome/declinationAxis"), doubleText(d.declinationAxis)},
        {QStringLiteral("dome/tolerance"), doubleText(d.tolerance)},
        {QStringLiteral("dome/rotationRate"), doubleText(d.rotationRate)},
        {QStringLiteral("dome/slaving"), slavingText(d.slaving)},
    };
}

QStringList domeFileLines(const DomeSettings& d)
{
    const QList<QPair<QString, QString>> values = domeValues(d);
    const auto line = [&](int i) { return values[i].first.section(u'/', 1) + u'=' + values[i].second; };
    return {
        QStringLiteral("[dome]"),
        QStringLiteral("; the dome that [indi] dome names. Metres: its radius; where the mount's polar and"),
        QStringLiteral(
            "; declination axes cross, from the dome's centre to the north, east and up; and from"),
        QStringLiteral("; the polar axis to the optical axis (the pier side is the mount's own)"),
        line(0),
        line(1),
        line(2),
        line(3),
        line(4),
        QStringLiteral("; degrees the dome may stand from the slit's azimuth when a frame starts, and"),
        QStringLiteral("; degrees per second it turns"),
        line(5),
        line(6),
        QStringLiteral(
            "; kestrove: Kestrove turns the dome between frames; driver: the driver's DOME_AUTOSYNC,"),
        QStringLiteral("; which may also turn it during a frame"),
        line(7),
    };
}

void readDome(IniReader& ini, DomeSettings& d)
{
    ini.number("dome/radius", d.radius, 0.1, 100);
    ini.number("dome/mountOffsetNorth", d.mountOffsetNorth, -100, 100);
    ini.number("dome/mountOffsetEast", d.mountOffsetEast, -100, 100);
    ini.number("dome/mountOffsetUp", d.mountOffsetUp, -100, 100);
    ini.number("dome/declinationAxis", d.declinationAxis, 0, 100);
    ini.number("dome/tolerance", d.tolerance, 0.1, 180);
    ini.number("dome/rotationRate", d.rotationRate, 0.01, 360);
    QString text;
    if (ini.text("dome/slaving", text)) {
        const QString slaving = text.trimmed().toLower();
        if (slaving == QStringLiteral("kestrove") || slaving.isEmpty())
            d.slaving = DomeSlaving::Kestrove;
        else if (slaving == QStringLiteral("driver"))
            d.slaving = DomeSlaving::Driver;
        else
            throw ini.bad("dome/slaving", text, QStringLiteral("is neither kestrove nor driver"));
    }
    // The optical axis must start inside the dome, wherever the tube turns.
    const double reach =
        std::sqrt(d.mountOffsetNorth * d.mountOffsetNorth + d.mountOffsetEast * d.mountOffsetEast +
                  d.mountOffsetUp * d.mountOffsetUp) +
        d.declinationAxis;
    if (reach >= d.radius)
        throw ini.bad("dome/radius", doubleText(d.radius),
                      QStringLiteral("does not hold the telescope: the mount's offset and the declination "
                                     "axis reach %1 m from the centre")
                          .arg(doubleText(reach)));
}

QString unguardedRoofWarning(const ObservatorySettings& settings)
{
    const bool dome = !settings.indi.dome.isEmpty();
    if (settings.kind != HostKind::Indi || (settings.indi.roof.isEmpty() && !dome) ||
        !settings.indi.watchdog.isEmpty())
        return {};
    return QStringLiteral(
               "Warning: no watchdog guards the %1 \"%2\": should Kestrove crash or hang, it stays "
               "open. Set [indi] watchdog in observatory.ini to an indi_watchdog device.")
        .arg(dome ? QStringLiteral("dome") : QStringLiteral("roof"),
             dome ? settings.indi.dome : settings.indi.roof);
}

} // namespace kestrove

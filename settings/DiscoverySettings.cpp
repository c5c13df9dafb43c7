#include "settings/DiscoverySettings.h"

#include "settings/IniReader.h"
#include "text/NumberText.h"

namespace kestrove {

QStringList discoveryKeys()
{
    QStringList keys;
    for (const auto& [key, value] : discoveryValues(imaging::DiscoverySettings()))
        keys << key;
    return keys;
}

QList<QPair<QString, QString>> discoveryValues(const imaging::DiscoverySettings& d)
{
    return {
        {QStringLiteral("discovery/radius"), doubleText(d.radius)},
        {QStringLiteral("discovery/minSnr"), doubleText(d.minSnr)},
        {QStringLiteral("discovery/linkResidual"), doubleText(d.linkResidual)},
    };
}

QStringList discoveryFileLines(const imaging::DiscoverySettings& d)
{
    return {
        QString(),
        QStringLiteral("[discovery]"),
        QStringLiteral("; a supernova candidate lies within radius arcminutes of its galaxy, at an S/N of"),
        QStringLiteral("; minSnr or more; a moving object's places lie within linkResidual arcseconds of"),
        QStringLiteral("; one straight, uniform path"),
        QStringLiteral("radius=") + doubleText(d.radius),
        QStringLiteral("minSnr=") + doubleText(d.minSnr),
        QStringLiteral("linkResidual=") + doubleText(d.linkResidual),
    };
}

void readDiscovery(IniReader& ini, imaging::DiscoverySettings& d)
{
    ini.number("discovery/radius", d.radius, 0.05, 600);
    ini.number("discovery/minSnr", d.minSnr, 3, 1000);
    ini.number("discovery/linkResidual", d.linkResidual, 0.1, 60);
}

} // namespace kestrove

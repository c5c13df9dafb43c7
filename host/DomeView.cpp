#include "host/DomeView.h"

namespace kestrove {

namespace {

QString degreesText(double degrees)
{
    return QString::number(degrees, 'f', 1) + QStringLiteral("\u00b0");
}

} // namespace

QString domeViewText(const DomeView& dome)
{
    const QString at =
        dome.azimuth ? QStringLiteral("az ") + degreesText(*dome.azimuth) : QStringLiteral("azimuth unknown");
    if (dome.turning)
        return at + (dome.turningTo ? QStringLiteral(", turning to ") + degreesText(*dome.turningTo)
                                    : QStringLiteral(", turning"));
    return at + (dome.aligned ? QStringLiteral(", slit aligned") : QStringLiteral(", not aligned"));
}

} // namespace kestrove

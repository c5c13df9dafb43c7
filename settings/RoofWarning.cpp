#include "settings/ObservatorySettings.h"

namespace kestrove {

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

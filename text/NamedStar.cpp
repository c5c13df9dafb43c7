#include "text/NamedStar.h"

#include "text/HostError.h"
#include "text/HostText.h"
#include "text/NumberText.h"

#include <QStringList>

#include <cmath>

namespace kestrove {

std::optional<NamedStar> parseNamedStar(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() < 2 || parts.size() > 4)
        return std::nullopt;
    NamedStar star;
    try {
        star.rightAscension = parseSexagesimal(QStringLiteral("HMS_Hours"), parts[0], QLatin1Char('h'));
        star.declination = parseSexagesimal(QStringLiteral("DMS_Degrees"), parts[1], QLatin1Char('d'));
    } catch (const HostError&) {
        return std::nullopt;
    }
    if (!(star.rightAscension >= 0 && star.rightAscension < 24 && std::fabs(star.declination) <= 90))
        return std::nullopt;
    if (parts.size() > 2 && !parts[2].isEmpty()) {
        star.magnitude = parseNumber(parts[2]);
        if (!star.magnitude || std::fabs(*star.magnitude) > 100)
            return std::nullopt;
    }
    if (parts.size() > 3)
        star.label = parts[3].trimmed();
    return star;
}

} // namespace kestrove

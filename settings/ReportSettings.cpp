#include "settings/ReportSettings.h"

namespace kestrove {

QStringList reportFileLines(const QString& aavsoCode)
{
    return {QString(), QStringLiteral("[report]"),
            QStringLiteral("; the observer code of the night's AAVSO extended file (empty: none)"),
            QStringLiteral("aavsoCode=") + aavsoCode};
}

} // namespace kestrove

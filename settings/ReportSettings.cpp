#include "settings/ReportSettings.h"

namespace kestrove {

QStringList reportFileLines(const QString& aavsoCode, const QString& mpcCode)
{
    return {
        QString(),
        QStringLiteral("[report]"),
        QStringLiteral("; the observer code of the night's AAVSO extended file (empty: none)"),
        QStringLiteral("aavsoCode=") + aavsoCode,
        QStringLiteral("; the MPC's three-character code of the site, for the moving objects' observation"),
        QStringLiteral("; blocks (empty: none yet, the blocks say XXX)"),
        QStringLiteral("mpcCode=") + mpcCode};
}

} // namespace kestrove

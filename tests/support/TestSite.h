#pragma once

#include "host/sim/SimObservatory.h"

#include <QDateTime>
#include <QString>
#include <QTimeZone>

namespace kestrove::test {

// A fixed site (La Palma) on virtual time, starting at a fixed instant.
inline ObservatorySettings fixedSite(const QString& folder,
                                     const QString& startUtc = QStringLiteral("2022-03-15T22:30:00Z"))
{
    ObservatorySettings s = observatoryDefaults(folder);
    s.latitude = 28.7606;
    s.longitude = -17.8816;
    s.elevation = 2396;
    s.timeZone = QStringLiteral("Atlantic/Canary");
    s.clockStart = startUtc;
    s.clockSpeed = 0;
    return s;
}

inline QDateTime utc(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toUTC();
}

} // namespace kestrove::test

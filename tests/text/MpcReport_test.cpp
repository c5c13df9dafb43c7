#include "text/MpcReport.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace kestrove {
namespace {

MpcObservation observation(double declination)
{
    MpcObservation o;
    o.designation = QStringLiteral("KV3430");
    o.discovery = true;
    o.utc = QDateTime(QDate(2026, 12, 9), QTime(18, 26, 28), QTimeZone::utc());
    o.rightAscension = (41 * 60 + 51.05) / 3600 * 15;
    o.declination = declination;
    o.magnitude = 12;
    o.band = u'C';
    o.observatory = QStringLiteral("Z99");
    return o;
}

// The record's columns as the MPC reads them: the declination's sign is a character in column 45.
TEST(MpcReport, AnObservationFillsItsColumns)
{
    EXPECT_EQ(
        mpcObservationLine(observation(29 + 58 / 60.0 + 35.4 / 3600)),
        QStringLiteral("     KV3430 * C2026 12 09.76838 00 41 51.05 +29 58 35.4          12.0 C      Z99"));
    const struct
    {
        double declination;
        const char* columns45to56;
    } cases[] = {
        {29 + 58 / 60.0 + 35.4 / 3600, "+29 58 35.4 "},
        {-(5 + 15 / 60.0), "-05 15 00.0 "},
        {-0.00001, "+00 00 00.0 "}, // rounds to zero: no minus sign
        {-89.99999, "-90 00 00.0 "},
    };
    for (const auto& c : cases) {
        const QString line = mpcObservationLine(observation(c.declination));
        EXPECT_EQ(line.size(), 80) << c.declination;
        EXPECT_EQ(line.mid(44, 12), QLatin1String(c.columns45to56)) << c.declination;
        EXPECT_EQ(line.right(3), QStringLiteral("Z99")) << c.declination;
    }
}

} // namespace
} // namespace kestrove

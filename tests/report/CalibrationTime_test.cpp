#include "report/CalibrationTime.h"

#include <gtest/gtest.h>

namespace kestrove::test {
namespace {

// La Palma in March, local time UTC.
const Site kLaPalma{28.7606, -17.8816, 2396};

} // namespace

// Two exposures over two binnings and filters: 2 sets of sky flats of 13 frames (10 kept) of the
// exposure limits' middle, 1.7 s, with 5 s downloads, about 3 min; 10 darks of each exposure and 10
// bias of each binning, 2000 s.
TEST(CalibrationTime, ThePreviewTellsTheCalibrationAtDuskAndDawn)
{
    const QList<UsedSetting> used{{60, 1, "R"}, {120, 1, "R"}, {60, 2, "V"}, {60, 1, "R"}};
    const struct
    {
        const char* name;
        bool enabled;
        bool skyFlats;
        bool panel;
        QList<UsedSetting> used;
        QStringList lines;
    } cases[] = {
        {"sky flats",
         true,
         true,
         false,
         used,
         {"Calibration at dusk: sky flats of 2 filter and binning settings, about 3 min from 19:25, before "
          "20:01 "
          "(Sun -2 to -10 degrees)",
          "Calibration at dawn: sky flats the dusk missed from 06:38, before 07:14 (Sun -2 to -10 degrees); "
          "after "
          "the close, darks of 60 s, 120 s and bias, about 33 min"}},
        {"a panel",
         true,
         true,
         true,
         used,
         {"Calibration at dusk: none", "Calibration at dawn: after the close, darks of 60 s, 120 s and bias "
                                       "and panel flats of 2 filter and "
                                       "binning settings, about 36 min"}},
        {"no sky flats",
         true,
         false,
         false,
         used,
         {"Calibration at dusk: none", "Calibration at dawn: after the close, darks of 60 s, 120 s and bias, "
                                       "about 33 min"}},
        {"off", false, true, false, used, {"Calibration: none ([calibration] enabled=false)"}},
        {"no plans", true, true, false, {}, {"Calibration: none, no plan takes frames"}},
    };
    for (const auto& c : cases) {
        CalibrationSettings settings;
        settings.enabled = c.enabled;
        settings.skyFlats = c.skyFlats;
        EXPECT_EQ(calibrationLines(settings, c.panel, kLaPalma, QTimeZone("Atlantic/Canary"),
                                   QDate(2022, 3, 15), c.used, 5),
                  c.lines)
            << c.name;
    }
}

} // namespace kestrove::test

#pragma once

#include <QString>
#include <optional>

namespace kestrove {

// The dome as the host reads it, for the window and the web page.
struct DomeView
{
    std::optional<double> azimuth; // degrees; none before the dome has said
    bool turning = false;
    std::optional<double> turningTo; // while Kestrove turns it: where to
    // Stopped within [dome] tolerance of where the slit must stand for the telescope.
    bool aligned = false;
};

// "az 123.4°, slit aligned", "az 123.4°, turning to 130.0°", "az 123.4°, not aligned".
QString domeViewText(const DomeView& dome);

} // namespace kestrove

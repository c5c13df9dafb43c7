#include "IndiServer.h"
#include "host/indi/IndiDiscovery.h"

#include <gtest/gtest.h>

namespace kestrove {
namespace {

// "Connect" in the observatory dialog: each simulator is offered only in the boxes of its kind.
TEST(IndiDiscovery, EachDeviceIsOfferedInTheBoxesOfItsKind)
{
    test::IndiServer server({"indi_simulator_telescope", "indi_simulator_ccd", "indi_simulator_wheel",
                             "indi_simulator_focus", "indi_simulator_weather", "indi_rolloff_dome",
                             "indi_simulator_dome", "indi_watchdog"});
    const auto address = indi::parseServerAddress(server.address());
    ASSERT_TRUE(address);
    const auto found = indi::discoverDevices(*address, 10);
    ASSERT_TRUE(found);
    const QMap<QString, QStringList> expected{
        {"indi/mount", {"Telescope Simulator"}},
        {"indi/camera", {"CCD Simulator"}},
        // The CCD simulator has a filter wheel of its own, and says so.
        {"indi/filterWheel", {"CCD Simulator", "Filter Simulator"}},
        {"indi/focuser", {"Focuser Simulator"}},
        {"indi/weather", {"Weather Simulator"}},
        {"indi/roof", {"Dome Simulator", "RollOff Simulator"}},
        {"indi/dome", {"Dome Simulator", "RollOff Simulator"}},
        {"indi/watchdog", {"WatchDog"}},
    };
    for (auto it = expected.begin(); it != expected.end(); ++it)
        EXPECT_EQ(found->value(it.key()), it.value()) << it.key().toStdString();
    EXPECT_EQ(found->size(), expected.size());

    // A server that does not answer is said to be so.
    EXPECT_FALSE(indi::discoverDevices({QStringLiteral("127.0.0.1"), test::IndiServer::freePort()}, 1));
}

} // namespace
} // namespace kestrove

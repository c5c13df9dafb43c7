#pragma once

#include "host/ObservatoryControl.h"
#include "host/ObservatorySettings.h"
#include "host/SiteClock.h"
#include "host/SkyUtil.h"
#include "host/sim/AcquisitionRunner.h"
#include "host/sim/SimDevices.h"

namespace kestrove::sim {

// The simulated observatory's state, shared by the observatory and every automation object it made.
class SimState
{
public:
    SimState(const QString& folder, const ObservatorySettings& settings);

    // Brings the acquisition script, the roof and the mount up to the clock's current instant.
    // Never throws.
    void catchUp() noexcept;

    QString folder;
    ObservatorySettings settings;
    SiteClock clock;
    SiteSky sky;
    double mountRightAscension = 0;
    double mountDeclination = 0;
    AcquisitionRunner runner;
    SimDevices devices;
    ObservatoryControl control;
};

} // namespace kestrove::sim

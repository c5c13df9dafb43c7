#pragma once

#include "host/ObservatoryControl.h"
#include "host/SkyUtil.h"
#include "host/sim/AcquisitionRunner.h"
#include "host/sim/SimDevices.h"
#include "settings/ObservatorySettings.h"
#include "sky/SiteClock.h"

#include <optional>

namespace kestrove::sim {

// The simulated observatory's state, shared by the observatory and every automation object it made.
class SimState
{
public:
    SimState(const QString& folder, const ObservatorySettings& settings);

    // Brings the acquisition script, the roof and the mount up to the clock's current instant.
    // Never throws.
    void catchUp() noexcept;
    // The same before a read of the mount's place, which a selection pass makes for every target it
    // scores: done once per instant of the clock, unless a command came since (every command catches
    // up first).
    void catchUpToRead() noexcept;

    QString folder;
    ObservatorySettings settings;
    SiteClock clock;
    SiteSky sky;
    double mountRightAscension = 0;
    double mountDeclination = 0;
    AcquisitionRunner runner;
    SimDevices devices;
    ObservatoryControl control;

private:
    // The clock's instant of the last catch-up made for a read; none after any other catch-up.
    std::optional<qint64> m_readAtMs;
};

} // namespace kestrove::sim

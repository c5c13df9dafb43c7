#pragma once

#include "host/sim/AcquisitionRunner.h"
#include "host/sim/SimAstronomy.h"
#include "host/sim/SimObservatory.h"

#include <memory>

namespace kestrove::sim {

// The simulated observatory's state, shared by the observatory and every automation object it made.
class SimState
{
public:
    SimState(const QString& folder, const SimSettings& settings);

    Site site() const { return {settings.latitude, settings.longitude, settings.elevation}; }
    // The sky context for the clock's current instant; reused while the clock stands still.
    std::shared_ptr<const SkyInstant> skyNow();
    // Local apparent sidereal time now, hours. On a running clock it is carried forward from a
    // context up to a minute old at the sidereal rate (error far below a millisecond of time), so
    // that asking it for every target costs nothing.
    double siderealTimeNow();
    // Brings the acquisition script up to the clock's current instant. Never throws.
    void catchUp() noexcept;

    QString folder;
    SimSettings settings;
    SimClock clock;
    double mountRightAscension = 0;
    double mountDeclination = 0;
    AcquisitionRunner runner;

private:
    std::shared_ptr<const SkyInstant> m_sky;
};

} // namespace kestrove::sim

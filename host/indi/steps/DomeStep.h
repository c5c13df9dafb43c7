#pragma once

#include "host/DomeView.h"
#include "host/indi/steps/PlanStep.h"
#include "sky/DomeGeometry.h"

#include <functional>
#include <optional>

namespace kestrove::indi {

// Keeps the slit of [indi] dome in front of the telescope: before each frame the dome has stopped
// within [dome] tolerance of the slit's azimuth for where the mount points and its pier side.
// Kestrove turns it ([dome] slaving=kestrove), or the driver's DOME_AUTOSYNC does and Kestrove
// only waits. The first alignment after each slew, and every turn waited on, is logged.
class DomeStep : public PlanStep
{
public:
    explicit DomeStep(StepContext& context) : m_context(context) {}

    bool configured() const { return !m_context.settings.indi.dome.isEmpty(); }
    // At the start of a plan's slew: the dome sets off towards where the slit will stand for the
    // target, and the driver's slaving is set up. Nothing is waited on.
    void lead(const Equatorial& target);
    // Calls `then` once the dome stands within tolerance of the slit: at once when it already does
    // or there is no dome.
    void align(std::function<void()> then);

    // Where the dome stands and whether the slit is in front of the telescope now.
    DomeView view() const;

    void poll() override;
    void stop() override;

private:
    struct Slit
    {
        double azimuth = 0;
        double hourAngle = 0;
        double declination = 0;
        bool east = false; // TELESCOPE_PIER_SIDE: the tube on the east of the pier
    };
    std::optional<Slit> slitNow() const;
    std::optional<double> domeAzimuth() const;
    bool moving() const;
    void turnTo(double azimuth);
    void setUpDriverSlaving(double hourAngle, PierSide side);
    void sendDriverMeasurements(double hourAngle, PierSide side);
    void aligned(const Slit& slit, double azimuth);

    StepContext& m_context;
    std::function<void()> m_then;
    std::optional<double> m_sent;      // the azimuth last commanded
    std::optional<double> m_turningTo; // as m_sent, until that turn is seen through or the plan ends
    quint64 m_sentUpdates = 0;
    int m_turns = 0;
    bool m_waited = false;
    bool m_afterLead = false; // the first alignment after a slew is logged, waited or not
};

} // namespace kestrove::indi

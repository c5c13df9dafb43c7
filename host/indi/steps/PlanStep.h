#pragma once

#include "host/PlanReader.h"
#include "host/indi/IndiClient.h"
#include "imaging/FieldMagnitudes.h"
#include "imaging/Wcs.h"
#include "settings/ObservatorySettings.h"
#include "sky/Astronomy.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kestrove {
class Clock;
class SiteSky;
namespace database {
class ObservationDb;
}
} // namespace kestrove

namespace kestrove::indi {

class IndiLink;
class PlanStep;

// The last plate solve of a plan: its WCS and the frame it was measured on.
struct PlateSolution
{
    imaging::Wcs wcs;
    imaging::ImageGeometry geometry;
    std::vector<imaging::FieldStar> catalogue; // the index's stars in the field, with magnitudes
};

// What the steps of a plan share: the devices, the settings, the clock, the plan being run, and
// the executor's side of the bargain. The executor waits on one step at a time: it polls that
// step, hands it the property updates and fails the plan when the step's time limit passes.
class StepContext
{
public:
    StepContext(IndiLink& link, SiteSky& sky, Clock& clock);
    virtual ~StepContext() = default;

    IndiLink& link;
    IndiClient& client;
    const ObservatorySettings& settings;
    SiteSky& sky;
    Clock& clock;
    // The plan being run and what has come of it so far.
    AcquisitionPlan plan;
    QString planPath;
    int imagesSaved = 0;
    std::optional<PlateSolution> solution; // the plan's last solve
    qint64 planNumber = 0;                 // counts the plans (and test frames) this executor ran
    qint64 planRecord = 0;                 // the plan's row in observations.sqlite; 0: none
    // Where every frame and plan is recorded; nullptr: nowhere.
    database::ObservationDb* observations = nullptr;

    // Appends a line with the UTC time to "AcquireImages.log".
    virtual void log(const QStringList& fields) noexcept = 0;
    // Ends the plan as failed; the step returns at once.
    virtual void fail(const QString& reason) = 0;
    // The calling step's part is through: the plan goes on with the next.
    virtual void stepDone() = 0;
    // From now the executor waits on `step`, and fails the plan with "<limitText> within N s" when
    // `limitSeconds` pass first.
    virtual void waitOn(PlanStep& step, double limitSeconds, const QString& limitText) = 0;
    virtual bool waitingOn(const PlanStep& step) const = 0;
    // Seconds since the last waitOn.
    virtual double secondsWaiting() const = 0;

    Equatorial target() const { return {plan.rightAscension, plan.declination}; }
    // The plan's folder under the host's image path.
    QString imageFolder() const;
    // The plan's survey kind, "SNe", "MPS", "MPF" or "SLC", from its folder; empty when it names none.
    QString surveyKind() const;
    PropertyState stateOf(const QString& device, const QString& name) const;
};

// A unit the executor waits on while its devices work: a slew, a filter wheel, a focus run, the
// camera. A step knows only its own devices.
class PlanStep
{
public:
    virtual ~PlanStep() = default;

    // Each tick while the executor waits on this step.
    virtual void poll() {}
    // A property has changed while the executor waits on this step.
    virtual void propertyChanged(const QString& device, const QString& name, const IndiProperty& property)
    {
        Q_UNUSED(device);
        Q_UNUSED(name);
        Q_UNUSED(property);
    }
    // The plan ends early: the step lets go of what it holds and, when the executor waits on it,
    // stops what it set moving.
    virtual void stop() {}
};

} // namespace kestrove::indi

#pragma once

#include "host/indi/IndiLink.h"
#include "host/indi/steps/CalibrationStep.h"
#include "host/indi/steps/CameraControl.h"
#include "host/indi/steps/DiscoverySearch.h"
#include "host/indi/steps/DomeStep.h"
#include "host/indi/steps/ExposureStep.h"
#include "host/indi/steps/FilterStep.h"
#include "host/indi/steps/FocusStep.h"
#include "host/indi/steps/FrameGrader.h"
#include "host/indi/steps/LightcurvePhotometry.h"
#include "host/indi/steps/PlanStep.h"
#include "host/indi/steps/PointingStep.h"
#include "host/indi/steps/SkyTestStep.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <utility>

namespace kestrove {
class Clock;
class SiteSky;
} // namespace kestrove

namespace kestrove::indi {

// The acquisition script of an INDI observatory: runs the plan that "runplanonce.txt" names against
// the devices, on the Qt thread. It advances as a state machine driven by the client's queued
// updates and a timer, so no step blocks the run loop; every step has a time limit. The chain script
// runs at the plan's end, before the script reports that it has ended, and never after a failure
// or an abort. Every step, image and failure goes to "AcquireImages.log" with its UTC time.
// The steps, in their order, each a unit of host/indi/steps: connect, pointing (slew, settle,
// solve, correct), filter, focus (through the plan's filter), the plan's exposures, each saved
// with Kestrove's header cards and the WCS of the last solve and graded, and the wait for the
// last grades. A plan none of whose frames is accepted is rejected: it ends without its chain
// script, so that the survey does not count it. Between plans the executor can take the test
// frame of a pause for clouds.
class PlanExecutor : public QObject, private StepContext
{
    Q_OBJECT

public:
    PlanExecutor(IndiLink& link, SiteSky& sky, Clock& clock);
    ~PlanExecutor() override;

    // Fails for a path that is not an existing file.
    void load(const QString& path);
    // Starts the loaded script and returns at once; it is active from here until it ends.
    void run();
    // Stops the slew and the exposure and ends the plan without its chain script.
    void abort();
    // The same, for a reason of the observatory's ("weather unsafe", "closed by the observer").
    void abortFor(const QString& why);
    // Asked before a plan starts: why the observatory cannot take it now; empty when it can.
    void setGate(std::function<QString()> whyNotReady) { m_whyNotReady = std::move(whyNotReady); }
    bool active() const { return m_stage != Stage::Idle; }
    // Takes the test frame of a pause for clouds where the telescope points; false while a plan
    // runs. Its grade comes to onGraded, or why it was not taken to onLookFailed.
    bool lookAtSky(double seconds);
    bool looking() const { return active() && m_skyTest; }
    // Takes the frames of each set and makes its master, with the roof shut: neither the Sun nor
    // the weather stop it. False while a plan runs.
    bool calibrate(QList<CalibrationSet> sets);
    // Takes flats of the twilight sky for each set, the mount tracking `field` (J2000), the roof
    // open; unsafe weather ends them. False while a plan runs.
    bool skyFlats(QList<CalibrationSet> sets, const Equatorial& field);
    bool calibrating() const { return active() && m_calibrating; }
    // Why the last calibration ended early; empty when it made every master.
    QString calibrationFailure() const { return m_calibrationFailure; }
    // The masters made since last asked.
    QStringList takeCalibrationEvents() { return m_calibration.takeEvents(); }
    // completed / rejected and why / failed and why / aborted and why, for the last plan; empty
    // before the first.
    QString lastOutcome() const { return m_outcome; }
    // Why the next plan should focus (its last frame rejected for its HFR), once; empty when not.
    QString takeRefocusReason() { return std::exchange(m_refocus, QString()); }
    void setObservations(database::ObservationDb* database) { observations = database; }
    // Each frame graded, a plan's or a test frame's.
    std::function<void(const GradedFrame&)> onGraded;
    std::function<void(const QString& why)> onLookFailed;
    QString logPath() const;
    // The dome of [indi] dome; nothing without one.
    std::optional<DomeView> dome() const
    {
        return m_dome.configured() ? std::optional<DomeView>(m_dome.view()) : std::nullopt;
    }
    // Appends a line with the UTC time to "AcquireImages.log".
    void log(const QStringList& fields) noexcept override;

private:
    // Where the plan stands, in the order of its steps.
    enum class Stage
    {
        Idle,
        Starting,
        Connecting,
        Pointing,
        Filter,
        Focus,
        Exposures,
        Grading, // the last frames are measured
        Testing, // the test frame of a pause for clouds
        Calibrating
    };

    void start();
    void begin();
    void beginLook();
    void beginCalibration();
    void endCalibration(const QString& failure);
    bool connectDevices();
    QList<Need> neededProperties();
    void tick();
    void advance();
    bool devicesStayed();
    void propertyChanged(const QString& device, const QString& name);
    void limit(double limitSeconds, const QString& limitText);
    void finish();
    // Ends the plan: the devices are stopped, the event logged, the outcome kept.
    // `verdict` is "failed" or "aborted", `why` the reason shown in the outcome.
    void end(const QString& event, const QString& reason, const QString& verdict, const QString& why);
    void stopDevices();
    void endLook(const QString& failure);
    // The plan's result in observations.sqlite.
    void recordPlanEnd(const QString& result);

    // The steps' side of the executor (StepContext).
    void fail(const QString& reason) override;
    void stepDone() override;
    void waitOn(PlanStep& step, double limitSeconds, const QString& limitText) override;
    bool waitingOn(const PlanStep& step) const override { return m_waiting == &step; }
    double secondsWaiting() const override;

    QTimer m_timer;
    QString m_loaded;
    Stage m_stage = Stage::Idle;
    PlanStep* m_waiting = nullptr; // the step whose devices are at work
    QDateTime m_waitStart;
    double m_limitSeconds = 0;
    QString m_limitText;
    QString m_outcome;
    QList<Need> m_needs;
    std::function<QString()> m_whyNotReady;
    bool m_skyTest = false; // what runs is the test frame, not a plan
    double m_testSeconds = 0;
    bool m_calibrating = false; // what runs is the calibration, not a plan
    bool m_skyFlats = false;    // the calibration is of the sky, the mount pointed first
    QList<CalibrationSet> m_calibrationSets;
    QString m_calibrationFailure;
    QString m_refocus;

    CameraControl m_camera;
    DomeStep m_dome;
    PointingStep m_pointing;
    FilterStep m_filter;
    FocusStep m_focus;
    FrameGrader m_grader;
    LightcurvePhotometry m_lightcurves;
    DiscoverySearch m_discovery;
    ExposureStep m_exposures;
    SkyTestStep m_skyTestStep;
    CalibrationStep m_calibration;
};

} // namespace kestrove::indi

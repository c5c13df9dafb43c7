#pragma once

#include "host/Astronomy.h"
#include "host/PlanReader.h"
#include "host/indi/IndiLink.h"
#include "imaging/FocusCurve.h"
#include "imaging/SolveField.h"
#include "imaging/Wcs.h"

#include <QDateTime>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

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
// Its steps: connect, slew, settle, solve (and correct the pointing), filter, focus (through the
// plan's filter), camera set-up, exposures. After each slew a short frame is plate solved (imaging/SolveField) and the pointing corrected;
// "#autofocus" runs a V-curve (imaging/FocusCurve) with the focuser; each saved frame gets
// Kestrove's header cards and the WCS of the last solve (imaging/FitsFile).
class PlanExecutor : public QObject
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
    bool active() const { return m_step != Step::Idle; }
    // completed / failed and why / aborted and why, for the last plan; empty before the first.
    QString lastOutcome() const { return m_outcome; }
    QString logPath() const;
    // Appends a line with the UTC time to "AcquireImages.log".
    void log(const QStringList& fields) noexcept;

private:
    enum class Step
    {
        Idle,
        Starting,
        Connecting,
        Slewing,
        Settling,
        Solving,     // solve-field runs on the solve frame
        Focusing,    // the external autofocus command runs
        FocusMoving, // the focuser moves to the next point of the V-curve
        Filter,
        Camera,
        Exposing
    };

    // What the camera is set up and exposing for.
    enum class Purpose
    {
        Plan,
        Solve,
        Focus
    };
    // Where a focus run stands.
    enum class FocusPhase
    {
        Point,    // to a point of the curve, then an exposure
        Overshoot, // past the best position, so that it is approached from one side
        Best,     // to the best position, then the verifying exposure
        Back,     // past the start, on the way back
        Start     // to the start, where the run gives up
    };
    struct FocusRun
    {
        imaging::FocusSweep sweep;
        imaging::FocusFit fit;
        QDateTime started;
        FocusPhase phase = FocusPhase::Point;
        int moving = 0; // the position asked
        int best = 0;   // the fitted best position, once fitted
        bool accepted = false;
        QString outcome;
    };
    struct Solution
    {
        imaging::Wcs wcs;
        imaging::ImageGeometry geometry;
    };

    void begin();
    void tick();
    void advance();
    void propertyChanged(const QString& device, const QString& name);
    void enter(Step step, double limitSeconds, const QString& limitText);
    void startSlew();
    void slewTo(const Equatorial& aim, const QString& event);
    void afterSettle();
    void afterPointing();
    bool solveWanted();
    void startSolveFrame();
    void solveFrame();
    void solved(const imaging::SolveResult& result);
    std::optional<double> scaleHint() const;
    void startFocus();
    void startBuiltInFocus();
    void focusNext();
    void moveFocuser(int position, FocusPhase phase);
    void focuserArrived();
    void measureFocus();
    void focusFitted();
    void focusDone();
    void configureCamera(int binning, double subframe, Purpose purpose);
    void startFilter();
    void startCamera();
    // Whether the camera has answered the binning and frame sent to it.
    enum class CameraAnswer
    {
        Waiting,
        Taken,
        Refused
    };
    CameraAnswer cameraAnswer() const;
    // The frame the camera set, for the acquisition log.
    QString frameText() const;
    void startExposure(double seconds);
    void saveImage();
    void writeHeader(const QString& path);
    void finish();
    // Ends the plan: the devices are stopped, the event logged, the outcome kept.
    // `verdict` is "failed" or "aborted", `why` the reason shown in the outcome.
    void end(const QString& event, const QString& reason, const QString& verdict, const QString& why);
    void fail(const QString& reason);
    void stopDevices();
    QString imageFolder() const;
    PropertyState stateOf(const QString& device, const QString& name) const;
    double secondsInStep() const;

    IndiLink& m_link;
    IndiClient& m_client;
    const ObservatorySettings& m_settings;
    SiteSky& m_sky;
    Clock& m_clock;
    QTimer m_timer;
    std::unique_ptr<QProcess> m_focus;

    QString m_loaded;
    Step m_step = Step::Idle;
    QDateTime m_stepStart;
    double m_limitSeconds = 0;
    QString m_limitText;
    QString m_outcome;

    AcquisitionPlan m_plan;
    QString m_planPath;
    Equatorial m_target;
    Equatorial m_aim; // where the mount is sent: the target, less the offset a solve measured
    Purpose m_purpose = Purpose::Plan;
    imaging::ImageGeometry m_geometry; // of the frame the camera was set up for
    QDateTime m_exposureStart;
    double m_exposureSeconds = 0;
    // Solving: decided once per executor, with the reason logged once.
    std::optional<bool> m_solveOn;
    QString m_indexFolder;
    imaging::SolveField m_solver;
    std::unique_ptr<QTemporaryDir> m_work;
    int m_solves = 0;
    std::optional<Solution> m_solution;
    imaging::ImageGeometry m_solveGeometry; // of the frame being solved
    Equatorial m_solveMount;                // where the mount said it pointed for that frame
    std::unique_ptr<FocusRun> m_focusRun;
    CommandWatch m_watch;
    int m_filterSlot = 0;
    int m_image = 0; // images saved
    quint64 m_blobsBefore = 0;
    quint64 m_binningUpdates = 0;
    quint64 m_frameUpdates = 0;
    QList<Need> m_needs;
    std::function<QString()> m_whyNotReady;
};

} // namespace kestrove::indi

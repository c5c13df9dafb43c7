#include "host/indi/PlanExecutor.h"

#include "database/ObservationDb.h"
#include "host/AcquisitionLog.h"
#include "host/ChainScript.h"
#include "host/SkyUtil.h"
#include "host/indi/steps/PropertyNames.h"
#include "sky/Clock.h"
#include "text/HostError.h"
#include "text/NumberText.h"

#include <QFileInfo>

namespace kestrove::indi {

namespace {

constexpr int kTickMs = 100;
// How long the last frames' grades may be waited for: a frame is measured in well under a second.
constexpr double kGradingSeconds = 60;
constexpr double kGradingSecondsPerFrame = 10;

QList<Need> cameraNeeds(const QString& camera)
{
    return {{camera, QStringLiteral("CCD_EXPOSURE")},
            {camera, QStringLiteral("CCD_BINNING")},
            {camera, QStringLiteral("CCD_FRAME")},
            {camera, QStringLiteral("CCD_INFO")}};
}

} // namespace

PlanExecutor::PlanExecutor(IndiLink& link, SiteSky& sky, Clock& clock)
    : StepContext(link, sky, clock), m_camera(*this), m_dome(*this), m_pointing(*this, m_camera),
      m_filter(*this), m_focus(*this, m_camera), m_grader(*this), m_lightcurves(*this), m_discovery(*this),
      m_exposures(*this, m_camera, m_grader), m_skyTestStep(*this, m_camera, m_grader),
      m_calibration(*this, m_camera)
{
    m_grader.onGraded = [this](const GradedFrame& graded) {
        m_lightcurves.add(graded, graded.record);
        m_discovery.add(graded, graded.record);
        if (onGraded)
            onGraded(graded);
    };
    // Every frame, the solve and focus frames too, waits for the dome's slit; calibration frames are
    // taken in the closed dome.
    m_camera.setBeforeExposure([this](std::function<void()> expose) {
        if (m_calibrating && !m_skyFlats)
            expose();
        else
            m_dome.align(std::move(expose));
    });
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &PlanExecutor::tick);
    connect(&client, &IndiClient::propertyChanged, this, [this](const QString& d, const QString& n) {
        try {
            propertyChanged(d, n);
        } catch (const std::exception& e) {
            fail(QString::fromUtf8(e.what()));
        }
    });
}

PlanExecutor::~PlanExecutor()
{
    if (active())
        stopDevices();
}

void PlanExecutor::load(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw HostError(QStringLiteral("LoadScript"), path, QStringLiteral("script file not found"));
    m_loaded = path;
}

void PlanExecutor::run()
{
    if (m_loaded.isEmpty())
        throw HostError(QStringLiteral("RunScript"), QString(), QStringLiteral("no script loaded"));
    if (active())
        throw HostError(QStringLiteral("RunScript"), m_loaded, QStringLiteral("a script is already running"));
    plan = {};
    plan.target = QStringLiteral("(no plan)");
    imagesSaved = 0;
    solution.reset();
    m_skyTest = false;
    m_calibrating = false;
    start();
}

// The test frame keeps the last plan: its target and filter are where the telescope still points.
bool PlanExecutor::lookAtSky(double seconds)
{
    if (active())
        return false;
    m_skyTest = true;
    m_calibrating = false;
    m_testSeconds = seconds;
    start();
    return true;
}

bool PlanExecutor::calibrate(QList<CalibrationSet> sets)
{
    if (active())
        return false;
    m_skyTest = false;
    m_calibrating = true;
    m_skyFlats = false;
    m_calibrationSets = std::move(sets);
    m_calibrationFailure.clear();
    start();
    return true;
}

bool PlanExecutor::skyFlats(QList<CalibrationSet> sets, const Equatorial& field)
{
    if (!calibrate(std::move(sets)))
        return false;
    m_skyFlats = true;
    plan = {};
    plan.target = QStringLiteral("sky flats");
    plan.rightAscension = field.rightAscension;
    plan.declination = field.declination;
    return true;
}

void PlanExecutor::start()
{
    planRecord = 0;
    m_grader.beginPlan(++planNumber);
    m_stage = Stage::Starting;
    m_waiting = nullptr;
    m_waitStart = clock.utcNow();
    // The work starts from the event loop, so that the caller sees the script active first.
    QTimer::singleShot(0, this, [this] {
        try {
            if (m_skyTest)
                beginLook();
            else if (m_calibrating)
                beginCalibration();
            else
                begin();
        } catch (const std::exception& e) {
            fail(QString::fromUtf8(e.what()));
        }
    });
    m_timer.start();
}

void PlanExecutor::begin()
{
    if (m_stage != Stage::Starting)
        return;
    try {
        plan = readHandedOverPlan(settings.planDir, planPath);
    } catch (const HostError& e) {
        fail(e.message());
        return;
    }
    log({QStringLiteral("start"), plan.target, planPath});
    if (observations) {
        try {
            planRecord = observations->startPlan(surveyKind(), plan.target, clock.utcNow());
        } catch (const std::exception& e) {
            log({QStringLiteral("error"), QString::fromUtf8(e.what())});
        }
    }
    if (m_whyNotReady) {
        const QString why = m_whyNotReady();
        if (!why.isEmpty()) {
            fail(QStringLiteral("the observatory is not open: ") + why);
            return;
        }
    }
    // The folder comes from a target's name in a catalogue: it may not climb out of the image tree.
    if (QString(plan.dir).replace(u'\\', u'/').split(u'/').contains(QStringLiteral(".."))) {
        fail(QStringLiteral("the image folder \"%1\" holds \"..\"; it is not written").arg(plan.dir));
        return;
    }
    m_needs = neededProperties();
    if (!plan.filter.isEmpty() && settings.indi.filterWheel.isEmpty()) {
        fail(QStringLiteral("the plan asks for filter \"%1\" and [indi] filterWheel names no device")
                 .arg(plan.filter));
        return;
    }
    connectDevices();
}

void PlanExecutor::beginLook()
{
    if (m_stage != Stage::Starting)
        return;
    log({QStringLiteral("look"), plan.target,
         QStringLiteral("test frame of %1 s").arg(doubleText(m_testSeconds))});
    if (m_whyNotReady) {
        const QString why = m_whyNotReady();
        if (!why.isEmpty()) {
            fail(QStringLiteral("the observatory is not open: ") + why);
            return;
        }
    }
    m_needs = cameraNeeds(settings.indi.camera);
    if (link.weatherConfigured())
        m_needs << Need{settings.indi.weather, QStringLiteral("WEATHER_STATUS")};
    connectDevices();
}

void PlanExecutor::beginCalibration()
{
    if (m_stage != Stage::Starting)
        return;
    log({QStringLiteral("calibrate"), QStringLiteral("start"),
         QStringLiteral("%1 masters").arg(m_calibrationSets.size())});
    m_needs = cameraNeeds(settings.indi.camera);
    m_needs << Need{settings.indi.camera, QStringLiteral("CCD_FRAME_TYPE")};
    if (m_skyFlats)
        m_needs << Need{settings.indi.mount, EOD}
                << Need{settings.indi.mount, QStringLiteral("ON_COORD_SET")};
    for (const CalibrationSet& set : m_calibrationSets) {
        if (set.setting.kind != imaging::MasterKind::Flat)
            continue;
        if (!m_skyFlats)
            m_needs << Need{settings.indi.lightPanel, QStringLiteral("FLAT_LIGHT_CONTROL")};
        if (!set.setting.filter.isEmpty() && !settings.indi.filterWheel.isEmpty())
            m_needs << Need{settings.indi.filterWheel, QStringLiteral("FILTER_SLOT")}
                    << Need{settings.indi.filterWheel, QStringLiteral("FILTER_NAME")};
    }
    connectDevices();
}

// A server lost since the last plan is tried again now.
bool PlanExecutor::connectDevices()
{
    QString error;
    if (!link.connectServer(error)) {
        fail(error);
        return false;
    }
    m_stage = Stage::Connecting;
    limit(settings.indi.connectTimeout, QStringLiteral("the devices were not ready"));
    return true;
}

// What the plan's steps will use; the first missing one is named when the devices are not ready.
QList<Need> PlanExecutor::neededProperties()
{
    const IndiSettings& indi = settings.indi;
    QList<Need> needs{{indi.mount, EOD}, {indi.mount, QStringLiteral("ON_COORD_SET")}};
    const bool vCurve = m_focus.runsVCurve();
    if (vCurve)
        needs << Need{indi.focuser, absFocus};
    if (plan.count > 0 || vCurve || m_pointing.solveWanted())
        needs << cameraNeeds(indi.camera);
    if (!plan.filter.isEmpty())
        needs << Need{indi.filterWheel, QStringLiteral("FILTER_SLOT")}
              << Need{indi.filterWheel, QStringLiteral("FILTER_NAME")};
    if (link.weatherConfigured())
        needs << Need{indi.weather, QStringLiteral("WEATHER_STATUS")};
    if (m_dome.configured())
        needs << Need{indi.dome, QStringLiteral("ABS_DOME_POSITION")};
    return needs;
}

// The plan's steps in their order; each calls stepDone when its part is through.
void PlanExecutor::stepDone()
{
    switch (m_stage) {
    case Stage::Connecting:
        if (m_skyTest) {
            m_stage = Stage::Testing;
            m_skyTestStep.start(m_testSeconds);
            break;
        }
        if (m_calibrating && !m_skyFlats) {
            m_stage = Stage::Calibrating;
            m_calibration.start(m_calibrationSets);
            break;
        }
        m_stage = Stage::Pointing;
        m_dome.lead(target());
        m_pointing.start(!m_calibrating);
        break;
    case Stage::Pointing:
        if (m_calibrating) {
            m_stage = Stage::Calibrating;
            m_calibration.start(m_calibrationSets, true);
            break;
        }
        if (plan.calibrate)
            log({QStringLiteral("calibrate"), plan.target,
                 QStringLiteral(
                     "skipped: each frame is calibrated with the newest masters as it is graded")});
        m_stage = Stage::Filter;
        m_filter.start();
        break;
    case Stage::Filter:
        m_stage = Stage::Focus;
        m_focus.start();
        break;
    case Stage::Focus:
        m_stage = Stage::Exposures;
        m_exposures.start();
        break;
    case Stage::Exposures:
    case Stage::Testing:
        m_stage = Stage::Grading;
        m_grader.finishPlan(kGradingSeconds + kGradingSecondsPerFrame * m_grader.pending());
        break;
    case Stage::Grading:
    case Stage::Calibrating:
        finish();
        break;
    case Stage::Idle:
    case Stage::Starting:
        break;
    }
}

void PlanExecutor::waitOn(PlanStep& step, double limitSeconds, const QString& limitText)
{
    m_waiting = &step;
    limit(limitSeconds, limitText);
}

void PlanExecutor::limit(double limitSeconds, const QString& limitText)
{
    m_waitStart = clock.utcNow();
    m_limitSeconds = limitSeconds;
    m_limitText = limitText;
}

double PlanExecutor::secondsWaiting() const
{
    return static_cast<double>(m_waitStart.msecsTo(clock.utcNow())) / 1000.0;
}

void PlanExecutor::tick()
{
    if (!active()) {
        m_timer.stop();
        return;
    }
    try {
        advance();
    } catch (const std::exception& e) {
        fail(QString::fromUtf8(e.what()));
    }
}

void PlanExecutor::advance()
{
    if (m_stage == Stage::Starting)
        return;
    // Once the frames are taken only their grades are awaited, whatever the devices and the Sun do;
    // calibration frames are taken in the closed observatory, in daylight too.
    if (m_stage != Stage::Grading && !m_calibrating) {
        if (m_stage != Stage::Connecting && !devicesStayed())
            return;
        if (sunAboveLimit(sky, settings.sunAltitude)) {
            end(QStringLiteral("aborted, the Sun is above the limit"), QString(), QStringLiteral("aborted"),
                QStringLiteral("the Sun is above the limit"));
            return;
        }
        if (m_focus.giveUpWhenOverdue())
            return;
    }
    if (secondsWaiting() > m_limitSeconds) {
        QString why = m_limitText + QStringLiteral(" within %1 s").arg(doubleText(m_limitSeconds));
        if (m_stage == Stage::Connecting)
            why += QStringLiteral(": ") + link.missing(m_needs);
        fail(why);
        return;
    }
    if (m_calibrating && m_stage != Stage::Connecting && !client.serverConnected()) {
        fail(QStringLiteral("lost the connection to the INDI server at %1").arg(link.serverText()));
        return;
    }
    if (m_skyFlats && link.weatherConfigured() && !link.weatherSafe()) {
        end(QStringLiteral("aborted, weather unsafe"), QString(), QStringLiteral("aborted"),
            QStringLiteral("weather unsafe"));
        return;
    }
    if (m_stage == Stage::Connecting) {
        link.requestDevices();
        if (link.missing(m_needs).isEmpty())
            stepDone();
    } else if (m_waiting) {
        m_waiting->poll();
    }
}

// Ends the plan when the server, a device it needs or safe weather is gone; false when it did.
bool PlanExecutor::devicesStayed()
{
    if (!client.serverConnected()) {
        fail(QStringLiteral("lost the connection to the INDI server at %1").arg(link.serverText()));
        return false;
    }
    for (const Need& need : m_needs)
        if (!client.deviceConnected(need.device)) {
            fail(QStringLiteral("device \"%1\" disconnected").arg(need.device));
            return false;
        }
    if (link.weatherConfigured() && !link.weatherSafe()) {
        end(QStringLiteral("aborted, weather unsafe"), QString(), QStringLiteral("aborted"),
            QStringLiteral("weather unsafe"));
        return false;
    }
    return true;
}

void PlanExecutor::propertyChanged(const QString& device, const QString& name)
{
    const IndiProperty* p = client.property(device, name);
    if (p && m_waiting)
        m_waiting->propertyChanged(device, name, *p);
}

void PlanExecutor::finish()
{
    m_timer.stop();
    if (m_skyTest) {
        endLook(QString());
        return;
    }
    if (m_calibrating) {
        endCalibration(QString());
        return;
    }
    const QString target = plan.target;
    const PlanGrades& grades = m_grader.grades();
    if (!grades.soft.isEmpty())
        m_refocus = grades.soft;
    // Frames, none of them worth counting: the plan is not the survey's, and leaves no marker.
    if (grades.frames > 0 && grades.accepted == 0) {
        m_stage = Stage::Idle;
        m_waiting = nullptr;
        log({QStringLiteral("rejected"), target, grades.rejection,
             QStringLiteral("%1 images saved").arg(imagesSaved)});
        m_outcome = QStringLiteral("rejected: ") + grades.rejection;
        recordPlanEnd(m_outcome);
        return;
    }
    if (!plan.chainScript.isEmpty()) {
        // Before the script reports its end: the run loop must find the marker of this plan only.
        try {
            runChainScriptFile(plan.chainScript);
            log({QStringLiteral("chainscript"), plan.chainScript});
        } catch (const HostError& e) {
            m_stage = Stage::Idle;
            m_waiting = nullptr;
            log({QStringLiteral("error"), e.message()});
            log({QStringLiteral("failed"), target, QStringLiteral("chain script: ") + e.message()});
            m_outcome = QStringLiteral("failed, chain script: ") + e.message();
            recordPlanEnd(m_outcome);
            return;
        }
    }
    m_stage = Stage::Idle;
    m_waiting = nullptr;
    QStringList fields{QStringLiteral("end"), target, QStringLiteral("%1 images").arg(imagesSaved)};
    if (grades.frames > 0)
        fields << QStringLiteral("%1 accepted").arg(grades.accepted);
    log(fields);
    m_outcome = QStringLiteral("completed");
    recordPlanEnd(m_outcome);
}

void PlanExecutor::abort()
{
    if (!active())
        return;
    end(QStringLiteral("aborted"), QStringLiteral("AbortScript"), QStringLiteral("aborted"),
        QStringLiteral("Stop Survey and ACP"));
}

void PlanExecutor::abortFor(const QString& why)
{
    if (!active())
        return;
    end(QStringLiteral("aborted, ") + why, QString(), QStringLiteral("aborted"), why);
}

void PlanExecutor::fail(const QString& reason)
{
    if (!active())
        return;
    end(QStringLiteral("failed"), reason, QStringLiteral("failed"), reason);
}

void PlanExecutor::end(const QString& event, const QString& reason, const QString& verdict,
                       const QString& why)
{
    stopDevices();
    m_stage = Stage::Idle;
    m_waiting = nullptr;
    m_timer.stop();
    if (m_skyTest) {
        endLook(why);
        return;
    }
    if (m_calibrating) {
        m_calibration.restoreLight();
        endCalibration(why);
        return;
    }
    if (!m_grader.grades().soft.isEmpty())
        m_refocus = m_grader.grades().soft;
    QStringList fields{event, plan.target};
    if (!reason.isEmpty())
        fields << reason;
    if (imagesSaved > 0)
        fields << QStringLiteral("%1 images saved").arg(imagesSaved);
    log(fields);
    // The simulator's words: "completed", "running", or how and why the plan ended early.
    m_outcome = verdict + QStringLiteral(", ") + why;
    recordPlanEnd(m_outcome);
}

void PlanExecutor::endLook(const QString& failure)
{
    m_stage = Stage::Idle;
    m_waiting = nullptr;
    m_timer.stop();
    m_skyTest = false;
    if (failure.isEmpty()) {
        log({QStringLiteral("look"), plan.target, QStringLiteral("done")});
        return;
    }
    log({QStringLiteral("look"), plan.target, QStringLiteral("failed: ") + failure});
    if (onLookFailed)
        onLookFailed(failure);
}

void PlanExecutor::endCalibration(const QString& failure)
{
    m_stage = Stage::Idle;
    m_waiting = nullptr;
    m_timer.stop();
    m_calibrating = false;
    m_skyFlats = false;
    m_calibrationFailure = failure;
    log({QStringLiteral("calibrate"),
         failure.isEmpty() ? QStringLiteral("done") : QStringLiteral("failed: ") + failure});
}

void PlanExecutor::recordPlanEnd(const QString& result)
{
    if (!observations || planRecord == 0)
        return;
    try {
        observations->finishPlan(planRecord, clock.utcNow(), result);
    } catch (const std::exception& e) {
        log({QStringLiteral("error"), QString::fromUtf8(e.what())});
    }
}

// Each step lets go of what it holds; the one waited on stops its devices.
void PlanExecutor::stopDevices()
{
    m_pointing.stop();
    m_dome.stop();
    m_focus.stop();
    m_camera.stop();
    m_filter.stop();
}

QString PlanExecutor::logPath() const
{
    return acquisitionLogPath(settings.logDir);
}

void PlanExecutor::log(const QStringList& fields) noexcept
{
    appendAcquisitionLog(settings.logDir, clock.utcNow(), fields);
}

} // namespace kestrove::indi

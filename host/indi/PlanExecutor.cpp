#include "host/indi/PlanExecutor.h"
#include "host/indi/steps/PropertyNames.h"

#include "config/NumberText.h"
#include "host/AcquisitionLog.h"
#include "host/ChainScript.h"
#include "host/ConfigValues.h"
#include "host/HostError.h"
#include "host/LocalFileSystem.h"
#include "host/SkyUtil.h"
#include "imaging/Airmass.h"
#include "imaging/FitsFile.h"
#include "imaging/ImagingError.h"
#include "imaging/Stars.h"

#include "Version.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcessEnvironment>

#include <cmath>
#include <numbers>

Q_DECLARE_LOGGING_CATEGORY(lcIndi)

namespace kestrove::indi {

namespace {

// A slew that never reports Busy but ends at the target counts after this long.
constexpr double kSilentSlewSeconds = 2;
constexpr int kTickMs = 100;

} // namespace

PlanExecutor::PlanExecutor(IndiLink& link, SiteSky& sky, Clock& clock)
    : m_link(link), m_client(link.client()), m_settings(link.settings()), m_sky(sky), m_clock(clock)
{
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &PlanExecutor::tick);
    connect(&m_solver, &imaging::SolveField::finished, this, [this](const imaging::SolveResult& result) {
        try {
            solved(result);
        } catch (const std::exception& e) {
            fail(QString::fromUtf8(e.what()));
        }
    });
    connect(&m_client, &IndiClient::propertyChanged, this, [this](const QString& d, const QString& n) {
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
    m_plan = {};
    m_plan.target = QStringLiteral("(no plan)");
    m_image = 0;
    m_solves = 0;
    m_solution.reset();
    m_focusRun.reset();
    m_purpose = Purpose::Plan;
    m_step = Step::Starting;
    m_stepStart = m_clock.utcNow();
    // The work starts from the event loop, so that the caller sees the script active first.
    QTimer::singleShot(0, this, [this] {
        try {
            begin();
        } catch (const std::exception& e) {
            fail(QString::fromUtf8(e.what()));
        }
    });
    m_timer.start();
}

void PlanExecutor::begin()
{
    if (m_step != Step::Starting)
        return;
    try {
        m_plan = readHandedOverPlan(m_settings.planDir, m_planPath);
    } catch (const HostError& e) {
        fail(e.message());
        return;
    }
    log({QStringLiteral("start"), m_plan.target, m_planPath});
    if (m_whyNotReady) {
        const QString why = m_whyNotReady();
        if (!why.isEmpty()) {
            fail(QStringLiteral("the observatory is not open: ") + why);
            return;
        }
    }
    // The folder comes from a target's name in a catalogue: it may not climb out of the image tree.
    if (QString(m_plan.dir).replace(u'\\', u'/').split(u'/').contains(QStringLiteral(".."))) {
        fail(QStringLiteral("the image folder \"%1\" holds \"..\"; it is not written").arg(m_plan.dir));
        return;
    }

    const IndiSettings& indi = m_settings.indi;
    m_needs = {{indi.mount, EOD}, {indi.mount, QStringLiteral("ON_COORD_SET")}};
    const bool builtInFocus = m_plan.autofocus && indi.autofocusCommand.isEmpty() && !indi.focuser.isEmpty();
    if (builtInFocus)
        m_needs << Need{indi.focuser, absFocus};
    if (m_plan.count > 0 || builtInFocus || solveWanted())
        m_needs << Need{indi.camera, QStringLiteral("CCD_EXPOSURE")}
                << Need{indi.camera, QStringLiteral("CCD_BINNING")}
                << Need{indi.camera, QStringLiteral("CCD_FRAME")}
                << Need{indi.camera, QStringLiteral("CCD_INFO")};
    if (!m_plan.filter.isEmpty()) {
        if (indi.filterWheel.isEmpty()) {
            fail(QStringLiteral("the plan asks for filter \"%1\" and [indi] filterWheel names no device")
                     .arg(m_plan.filter));
            return;
        }
        m_needs << Need{indi.filterWheel, QStringLiteral("FILTER_SLOT")}
                << Need{indi.filterWheel, QStringLiteral("FILTER_NAME")};
    }
    if (m_link.weatherConfigured())
        m_needs << Need{indi.weather, QStringLiteral("WEATHER_STATUS")};

    // A server lost since the last plan is tried again now.
    QString error;
    if (!m_link.connectServer(error)) {
        fail(error);
        return;
    }
    enter(Step::Connecting, indi.connectTimeout, QStringLiteral("the devices were not ready"));
}

void PlanExecutor::enter(Step step, double limitSeconds, const QString& limitText)
{
    m_step = step;
    m_stepStart = m_clock.utcNow();
    m_limitSeconds = limitSeconds;
    m_limitText = limitText;
}

double PlanExecutor::secondsInStep() const
{
    return static_cast<double>(m_stepStart.msecsTo(m_clock.utcNow())) / 1000.0;
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
    if (m_step == Step::Starting)
        return;
    if (m_step != Step::Connecting) {
        if (!m_client.serverConnected()) {
            fail(QStringLiteral("lost the connection to the INDI server at %1").arg(m_link.serverText()));
            return;
        }
        for (const Need& need : m_needs)
            if (!m_client.deviceConnected(need.device)) {
                fail(QStringLiteral("device \"%1\" disconnected").arg(need.device));
                return;
            }
        if (m_link.weatherConfigured() && !m_link.weatherSafe()) {
            end(QStringLiteral("aborted, weather unsafe"), QString(), QStringLiteral("aborted"),
                QStringLiteral("weather unsafe"));
            return;
        }
    }
    if (sunAboveLimit(m_sky, m_settings.sunAltitude)) {
        end(QStringLiteral("aborted, the Sun is above the limit"), QString(), QStringLiteral("aborted"),
            QStringLiteral("the Sun is above the limit"));
        return;
    }
    if (m_focusRun && m_focusRun->started.msecsTo(m_clock.utcNow()) > m_settings.focus.timeout * 1000) {
        log({QStringLiteral("autofocus"), m_plan.target,
             QStringLiteral("failed: the run took more than %1 s; the plan goes on at the current focus")
                 .arg(doubleText(m_settings.focus.timeout))});
        if (m_step == Step::Exposing)
            m_client.sendSwitch(m_settings.indi.camera, QStringLiteral("CCD_ABORT_EXPOSURE"), QStringLiteral("ABORT"));
        m_focusRun.reset();
        m_purpose = Purpose::Plan;
        startCamera();
        return;
    }
    if (secondsInStep() > m_limitSeconds) {
        const QString why =
            m_step == Step::Connecting
                ? m_limitText + QStringLiteral(" within %1 s: ").arg(doubleText(m_limitSeconds)) +
                      m_link.missing(m_needs)
                : m_limitText + QStringLiteral(" within %1 s").arg(doubleText(m_limitSeconds));
        fail(why);
        return;
    }

    switch (m_step) {
    case Step::Connecting:
        m_link.requestDevices();
        if (m_link.missing(m_needs).isEmpty())
            startSlew();
        break;
    case Step::Slewing:
        if (!m_watch.seenBusy() && secondsInStep() > kSilentSlewSeconds) {
            Equatorial at;
            const IndiProperty* coord = m_client.property(m_settings.indi.mount, EOD);
            if (coord && coord->state == PropertyState::Ok && m_link.mountJ2000(m_clock.utcNow(), at) &&
                separation(at.rightAscension, at.declination, m_aim.rightAscension, m_aim.declination) < 0.05)
                enter(Step::Settling, m_settings.settleTime + 1, QString());
        }
        break;
    case Step::Settling:
        if (secondsInStep() >= m_settings.settleTime)
            afterSettle();
        break;
    case Step::Camera:
        switch (cameraAnswer()) {
        case CameraAnswer::Waiting:
            break;
        case CameraAnswer::Refused:
            fail(QStringLiteral("the camera refused the binning %1 or the frame").arg(m_geometry.binning));
            break;
        case CameraAnswer::Taken: {
            const IndiProperty* frame = m_client.property(m_settings.indi.camera, QStringLiteral("CCD_FRAME"));
            const IndiProperty* binning = m_client.property(m_settings.indi.camera, QStringLiteral("CCD_BINNING"));
            m_geometry.x = static_cast<int>(std::lround(frame->number(QStringLiteral("X")).value_or(0)));
            m_geometry.y = static_cast<int>(std::lround(frame->number(QStringLiteral("Y")).value_or(0)));
            m_geometry.binning = std::max(
                1, static_cast<int>(std::lround(binning->number(QStringLiteral("HOR_BIN")).value_or(m_geometry.binning))));
            switch (m_purpose) {
            case Purpose::Plan:
                log({QStringLiteral("camera"), m_plan.target, QStringLiteral("binning %1").arg(m_plan.binning),
                     QStringLiteral("subframe %1").arg(doubleText(m_plan.subframe)), frameText()});
                m_image = 0;
                startExposure(m_plan.interval);
                break;
            case Purpose::Solve:
                startExposure(m_settings.solve.exposure);
                break;
            case Purpose::Focus:
                focusNext();
                break;
            }
            break;
        }
        }
        break;
    case Step::Exposing:
        if (m_client.blobCount(m_settings.indi.camera, mainChip) > m_blobsBefore) {
            switch (m_purpose) {
            case Purpose::Plan:
                saveImage();
                break;
            case Purpose::Solve:
                solveFrame();
                break;
            case Purpose::Focus:
                measureFocus();
                break;
            }
        }
        break;
    case Step::FocusMoving:
        if (const IndiProperty* p = m_client.property(m_settings.indi.focuser, absFocus)) {
            if (p->state == PropertyState::Alert) {
                log({QStringLiteral("autofocus"), m_plan.target,
                     QStringLiteral("failed: the focuser reported Alert; the plan goes on at the current focus")});
                m_focusRun.reset();
                m_purpose = Purpose::Plan;
                startCamera();
                break;
            }
            const double at = p->number(absFocusValue).value_or(-1e9);
            if (p->state != PropertyState::Busy && std::abs(at - m_focusRun->moving) < 1)
                focuserArrived();
        }
        break;
    case Step::Idle:
    case Step::Starting:
    case Step::Focusing:
    case Step::Solving:
    case Step::Filter:
        break;
    }
}

void PlanExecutor::propertyChanged(const QString& device, const QString& name)
{
    const IndiSettings& indi = m_settings.indi;
    const IndiProperty* p = m_client.property(device, name);
    if (!p)
        return;
    if (m_step == Step::Slewing && device == indi.mount && name == EOD) {
        const auto result = m_watch.update(p->state);
        if (result == CommandWatch::Result::Failed)
            fail(QStringLiteral("slew failed: the mount reported Alert"));
        else if (result == CommandWatch::Result::Done)
            enter(Step::Settling, m_settings.settleTime + 5, QStringLiteral("the mount did not settle"));
    } else if (m_step == Step::Filter && device == indi.filterWheel &&
               name == QStringLiteral("FILTER_SLOT")) {
        const auto result = m_watch.update(p->state);
        if (result == CommandWatch::Result::Failed) {
            fail(QStringLiteral("filter change failed: the wheel reported Alert"));
        } else if (result == CommandWatch::Result::Done) {
            if (std::lround(p->number(QStringLiteral("FILTER_SLOT_VALUE")).value_or(-1)) != m_filterSlot) {
                fail(QStringLiteral("the filter wheel stopped at another slot than %1").arg(m_filterSlot));
                return;
            }
            log({QStringLiteral("filter"), m_plan.target, m_plan.filter,
                 QStringLiteral("slot %1").arg(m_filterSlot)});
            startFocus();
        }
    } else if (m_step == Step::Exposing && device == indi.camera && name == QStringLiteral("CCD_EXPOSURE")) {
        if (m_watch.update(p->state) == CommandWatch::Result::Failed)
            fail(m_purpose == Purpose::Plan
                     ? QStringLiteral("exposure %1 failed: the camera reported Alert").arg(m_image + 1)
                     : QStringLiteral("the %1 exposure failed: the camera reported Alert")
                           .arg(m_purpose == Purpose::Solve ? QStringLiteral("solve") : QStringLiteral("focus")));
    }
}


void PlanExecutor::finish()
{
    m_timer.stop();
    const QString target = m_plan.target;
    if (!m_plan.chainScript.isEmpty()) {
        // Before the script reports its end: the run loop must find the marker of this plan only.
        try {
            runChainScriptFile(m_plan.chainScript);
            log({QStringLiteral("chainscript"), m_plan.chainScript});
        } catch (const HostError& e) {
            m_step = Step::Idle;
            log({QStringLiteral("error"), e.message()});
            log({QStringLiteral("failed"), target, QStringLiteral("chain script: ") + e.message()});
            m_outcome = QStringLiteral("failed, chain script: ") + e.message();
            return;
        }
    }
    m_step = Step::Idle;
    log({QStringLiteral("end"), target, QStringLiteral("%1 images").arg(m_image)});
    m_outcome = QStringLiteral("completed");
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
    m_step = Step::Idle;
    m_timer.stop();
    QStringList fields{event, m_plan.target};
    if (!reason.isEmpty())
        fields << reason;
    if (m_image > 0)
        fields << QStringLiteral("%1 images saved").arg(m_image);
    log(fields);
    // The simulator's words: "completed", "running", or how and why the plan ended early.
    m_outcome = verdict + QStringLiteral(", ") + why;
}

void PlanExecutor::stopDevices()
{
    m_solver.cancel();
    if (m_step == Step::FocusMoving && m_client.serverConnected())
        m_client.sendSwitch(m_settings.indi.focuser, QStringLiteral("FOCUS_ABORT_MOTION"), QStringLiteral("ABORT"));
    m_focusRun.reset();
    if (m_focus) {
        m_focus->disconnect(this);
        m_focus->kill();
        m_focus->waitForFinished(1000);
        m_focus.reset();
    }
    if (!m_client.serverConnected())
        return;
    if (m_step == Step::Slewing || m_step == Step::Settling)
        m_client.sendSwitch(m_settings.indi.mount, QStringLiteral("TELESCOPE_ABORT_MOTION"),
                            QStringLiteral("ABORT"));
    if (m_step == Step::Exposing)
        m_client.sendSwitch(m_settings.indi.camera, QStringLiteral("CCD_ABORT_EXPOSURE"),
                            QStringLiteral("ABORT"));
    if (m_step == Step::Filter)
        qCDebug(lcIndi) << "plan ended while the filter wheel turns";
}

PropertyState PlanExecutor::stateOf(const QString& device, const QString& name) const
{
    const IndiProperty* p = m_client.property(device, name);
    return p ? p->state : PropertyState::Idle;
}

QString PlanExecutor::logPath() const
{
    return acquisitionLogPath(m_settings.logDir);
}

void PlanExecutor::log(const QStringList& fields) noexcept
{
    appendAcquisitionLog(m_settings.logDir, m_clock.utcNow(), fields);
}

} // namespace kestrove::indi

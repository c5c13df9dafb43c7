#include "host/indi/PlanExecutor.h"

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

// Drivers answer a property change within a few seconds; a filter wheel turns within two minutes.
constexpr double kFilterLimitSeconds = 120;
// A slew that never reports Busy but ends at the target counts after this long.
constexpr double kSilentSlewSeconds = 2;
// The mount must stand this close to the target after settling, degrees.
constexpr double kPointingTolerance = 0.5;
constexpr int kTickMs = 100;

const QString EOD = QStringLiteral("EQUATORIAL_EOD_COORD");
// The BLOB property of a camera's main chip; a guide chip or a video stream sends others.
const QString mainChip = QStringLiteral("CCD1");

QString coordinatesText(const Equatorial& e)
{
    return QString::number(e.rightAscension, 'f', 6) + u'\t' + QString::number(e.declination, 'f', 5);
}

const QString absFocus = QStringLiteral("ABS_FOCUS_POSITION");
const QString absFocusValue = QStringLiteral("FOCUS_ABSOLUTE_POSITION");
// A focuser reaches any position within this; the simulator moves at a few thousand units a second.
constexpr double kFocuserLimitSeconds = 180;
// Fewer stars than this make a focus point without a measure.
constexpr int kFocusMinimumStars = 3;
// The fit must explain this much of the curve, and the final HFR lie this close to its minimum.
constexpr double kFocusMinimumR2 = 0.8;
constexpr double kFocusFinalTolerance = 1.10;

// "HH MM SS.ss" and "+DD MM SS.s", as cameras write OBJCTRA and OBJCTDEC.
QString sexagesimal(double value, int decimals, bool sign)
{
    const bool negative = value < 0;
    double v = std::abs(value);
    const double scale = std::pow(10.0, decimals);
    long long units = std::llround(v * 3600 * scale);
    const long long whole = units / static_cast<long long>(3600 * scale);
    units -= whole * static_cast<long long>(3600 * scale);
    const long long minutes = units / static_cast<long long>(60 * scale);
    units -= minutes * static_cast<long long>(60 * scale);
    const double seconds = static_cast<double>(units) / scale;
    QString text = QStringLiteral("%1 %2 %3")
                       .arg(whole, 2, 10, QLatin1Char('0'))
                       .arg(minutes, 2, 10, QLatin1Char('0'))
                       .arg(seconds, decimals + 3, 'f', decimals, QLatin1Char('0'));
    if (sign)
        text.prepend(negative ? u'-' : u'+');
    return text;
}

double wrapHours(double hours)
{
    double h = std::fmod(hours, 24.0);
    return h < 0 ? h + 24 : h;
}

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

void PlanExecutor::startSlew()
{
    m_target = {m_plan.rightAscension, m_plan.declination};
    slewTo(m_target, QStringLiteral("slew"));
}

void PlanExecutor::slewTo(const Equatorial& aim, const QString& event)
{
    const QDateTime now = m_clock.utcNow();
    m_aim = aim;
    Equatorial from;
    const double distance =
        m_link.mountJ2000(now, from)
            ? separation(from.rightAscension, from.declination, m_aim.rightAscension, m_aim.declination)
            : 180;
    const Equatorial jnow = j2000ToJnow(m_aim, now);
    // A turn-over on the way is a long slew, not a hung mount.
    const double lst = m_sky.now()->localSiderealTime();
    const bool flip = distance < 180 && crossesMeridian(lst - j2000ToJnow(from, now).rightAscension,
                                                        lst - jnow.rightAscension);
    const QString& mount = m_settings.indi.mount;
    m_client.sendSwitch(mount, QStringLiteral("ON_COORD_SET"), QStringLiteral("TRACK"));
    // A standalone copy: the library's own object is overwritten by the mount's position updates.
    m_client.sendNumbers(
        mount, EOD, {{QStringLiteral("RA"), jnow.rightAscension}, {QStringLiteral("DEC"), jnow.declination}});
    m_watch.sent(stateOf(mount, EOD));
    const double limit =
        slewLimitSeconds(distance + (flip ? 180 : 0), m_settings.slewRate, m_settings.indi.slewMargin);
    log({event, m_plan.target, coordinatesText(m_aim),
         QStringLiteral("%1 deg").arg(QString::number(distance, 'f', 3))});
    enter(Step::Slewing, limit, QStringLiteral("the slew did not end"));
}

void PlanExecutor::afterSettle()
{
    Equatorial at;
    if (!m_link.mountJ2000(m_clock.utcNow(), at)) {
        fail(QStringLiteral("the mount reports no position"));
        return;
    }
    const double off = separation(at.rightAscension, at.declination, m_aim.rightAscension, m_aim.declination);
    log({QStringLiteral("slewed"), m_plan.target, coordinatesText(at),
         QStringLiteral("%1 arcsec off").arg(QString::number(off * 3600, 'f', 1))});
    if (off > kPointingTolerance) {
        fail(QStringLiteral("the mount stands %1 deg from the target").arg(QString::number(off, 'f', 2)));
        return;
    }
    if (solveWanted()) {
        startSolveFrame();
        return;
    }
    afterPointing();
}

void PlanExecutor::afterPointing()
{
    if (m_plan.calibrate)
        log({QStringLiteral("calibrate"), m_plan.target,
             QStringLiteral("skipped: the images are saved uncalibrated (INDI has no calibration)")});
    startFilter();
}

void PlanExecutor::startFocus()
{
    if (!m_plan.autofocus) {
        startCamera();
        return;
    }
    const QString command = m_settings.indi.autofocusCommand;
    if (command.isEmpty() && !m_settings.indi.focuser.isEmpty()) {
        startBuiltInFocus();
        return;
    }
    if (command.isEmpty()) {
        log({QStringLiteral("autofocus"), m_plan.target,
             QStringLiteral("skipped: no [indi] autofocusCommand or focuser configured")});
        startCamera();
        return;
    }
    m_focus = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KESTROVE_INDI_SERVER"), m_link.serverText());
    env.insert(QStringLiteral("KESTROVE_FOCUSER"), m_settings.indi.focuser);
    env.insert(QStringLiteral("KESTROVE_CAMERA"), m_settings.indi.camera);
    env.insert(QStringLiteral("KESTROVE_TARGET"), m_plan.target);
    env.insert(QStringLiteral("KESTROVE_FILTER"), m_plan.filter);
    m_focus->setProcessEnvironment(env);
    m_focus->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_focus.get(), &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        if (m_step != Step::Focusing)
            return;
        const bool ok = status == QProcess::NormalExit && code == 0;
        // A failed autofocus leaves the focus where it was; the images are still worth taking.
        log({QStringLiteral("autofocus"), m_plan.target,
             ok ? QStringLiteral("done")
                : QStringLiteral("failed (exit %1), the plan goes on at the current focus").arg(code)});
        m_focus.release()->deleteLater();
        try {
            startCamera();
        } catch (const std::exception& e) {
            fail(QString::fromUtf8(e.what()));
        }
    });
    log({QStringLiteral("autofocus"), m_plan.target, command});
    enter(Step::Focusing, m_settings.indi.autofocusTimeout,
          QStringLiteral("the autofocus command did not end"));
    m_focus->start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
}

void PlanExecutor::startFilter()
{
    if (m_plan.filter.isEmpty()) {
        startFocus();
        return;
    }
    const QString& wheel = m_settings.indi.filterWheel;
    QStringList names;
    if (const IndiProperty* p = m_client.property(wheel, QStringLiteral("FILTER_NAME")))
        for (const IndiElement& e : p->elements)
            names << e.text;
    const auto slot = filterSlot(names, m_plan.filter);
    if (!slot) {
        fail(QStringLiteral("filter \"%1\" is not in the wheel (%2)").arg(m_plan.filter, names.join(u',')));
        return;
    }
    m_filterSlot = *slot;
    const IndiProperty* current = m_client.property(wheel, QStringLiteral("FILTER_SLOT"));
    if (current && std::lround(current->number(QStringLiteral("FILTER_SLOT_VALUE")).value_or(-1)) == *slot &&
        current->state != PropertyState::Busy) {
        log({QStringLiteral("filter"), m_plan.target, m_plan.filter, QStringLiteral("slot %1").arg(*slot)});
        startFocus();
        return;
    }
    m_client.sendNumbers(wheel, QStringLiteral("FILTER_SLOT"),
                         {{QStringLiteral("FILTER_SLOT_VALUE"), static_cast<double>(*slot)}});
    m_watch.sent(current ? current->state : PropertyState::Idle);
    enter(Step::Filter, kFilterLimitSeconds, QStringLiteral("the filter wheel did not stop"));
}

void PlanExecutor::startCamera()
{
    if (m_plan.count <= 0) {
        finish();
        return;
    }
    configureCamera(m_plan.binning, m_plan.subframe, Purpose::Plan);
}

void PlanExecutor::configureCamera(int binningValue, double subframe, Purpose purpose)
{
    m_purpose = purpose;
    const QString& camera = m_settings.indi.camera;
    const IndiProperty* info = m_client.property(camera, QStringLiteral("CCD_INFO"));
    const int width = info ? static_cast<int>(info->number(QStringLiteral("CCD_MAX_X")).value_or(0)) : 0;
    const int height = info ? static_cast<int>(info->number(QStringLiteral("CCD_MAX_Y")).value_or(0)) : 0;
    if (width <= 0 || height <= 0) {
        fail(QStringLiteral("the camera reports no chip size"));
        return;
    }
    // A driver answers each with an update; it may round the frame to what its chip can do.
    const IndiProperty* binning = m_client.property(camera, QStringLiteral("CCD_BINNING"));
    const IndiProperty* frame = m_client.property(camera, QStringLiteral("CCD_FRAME"));
    m_binningUpdates = binning ? binning->updates : 0;
    m_frameUpdates = frame ? frame->updates : 0;
    m_geometry.binning = binningValue;
    m_client.sendNumbers(camera, QStringLiteral("CCD_BINNING"),
                         {{QStringLiteral("HOR_BIN"), static_cast<double>(binningValue)},
                          {QStringLiteral("VER_BIN"), static_cast<double>(binningValue)}});
    const Frame f = centredFrame(width, height, subframe);
    m_client.sendNumbers(camera, QStringLiteral("CCD_FRAME"),
                         {{QStringLiteral("X"), static_cast<double>(f.x)},
                          {QStringLiteral("Y"), static_cast<double>(f.y)},
                          {QStringLiteral("WIDTH"), static_cast<double>(f.width)},
                          {QStringLiteral("HEIGHT"), static_cast<double>(f.height)}});
    enter(Step::Camera, m_settings.indi.connectTimeout,
          QStringLiteral("the camera did not take the binning and frame"));
}

PlanExecutor::CameraAnswer PlanExecutor::cameraAnswer() const
{
    const QString& camera = m_settings.indi.camera;
    const IndiProperty* binning = m_client.property(camera, QStringLiteral("CCD_BINNING"));
    const IndiProperty* frame = m_client.property(camera, QStringLiteral("CCD_FRAME"));
    if (!binning || !frame)
        return CameraAnswer::Waiting;
    if (binning->state == PropertyState::Alert || frame->state == PropertyState::Alert)
        return CameraAnswer::Refused;
    const bool answered = binning->updates > m_binningUpdates && frame->updates > m_frameUpdates;
    if (!answered || binning->state == PropertyState::Busy || frame->state == PropertyState::Busy)
        return CameraAnswer::Waiting;
    return CameraAnswer::Taken;
}

QString PlanExecutor::frameText() const
{
    const IndiProperty* frame = m_client.property(m_settings.indi.camera, QStringLiteral("CCD_FRAME"));
    if (!frame)
        return {};
    QStringList values;
    for (const char* element : {"X", "Y", "WIDTH", "HEIGHT"})
        values << doubleText(frame->number(QString::fromLatin1(element)).value_or(0));
    return QStringLiteral("frame ") + values.join(u' ');
}

void PlanExecutor::startExposure(double seconds)
{
    const QString& camera = m_settings.indi.camera;
    m_blobsBefore = m_client.blobCount(camera, mainChip);
    m_exposureStart = m_clock.utcNow();
    m_exposureSeconds = seconds;
    m_client.sendNumbers(camera, QStringLiteral("CCD_EXPOSURE"), {{QStringLiteral("CCD_EXPOSURE_VALUE"), seconds}});
    m_watch.sent(stateOf(camera, QStringLiteral("CCD_EXPOSURE")));
    enter(Step::Exposing, seconds + m_settings.indi.downloadMargin,
          m_purpose == Purpose::Plan ? QStringLiteral("exposure %1 did not arrive").arg(m_image + 1)
          : m_purpose == Purpose::Solve ? QStringLiteral("the solve exposure did not arrive")
                                        : QStringLiteral("the focus exposure did not arrive"));
}

QString PlanExecutor::imageFolder() const
{
    QString dir = m_plan.dir;
    dir.replace(u'\\', u'/');
    if (dir.isEmpty())
        dir = QStringLiteral(".");
    return QDir::cleanPath(QDir(m_settings.hostPath).absoluteFilePath(dir));
}

void PlanExecutor::saveImage()
{
    const IndiBlob* blob = m_client.lastBlob(m_settings.indi.camera, mainChip);
    const QString folder = imageFolder();
    if (!QDir().mkpath(folder)) {
        fail(QStringLiteral("cannot create the image folder %1").arg(folder));
        return;
    }
    const QString extension = blobExtension(blob->format);
    if (extension.startsWith(QStringLiteral(".fits")) && !looksLikeFits(blob->data))
        log({QStringLiteral("error"), m_plan.target, QStringLiteral("the camera's image is not FITS")});
    const QDateTime now = m_clock.utcNow();
    // NewOnly: an existing file is never overwritten, not even one made meanwhile.
    for (int attempt = 1; attempt < 1000; ++attempt) {
        const QString path =
            folder + u'/' +
            imageFileName(m_plan.target, m_plan.filter, m_plan.binning, now, m_image + 1, attempt, extension);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path))
                continue;
            fail(QStringLiteral("cannot write the image %1: %2").arg(path, file.errorString()));
            return;
        }
        if (file.write(blob->data) != blob->data.size() || !file.flush()) {
            fail(QStringLiteral("cannot write the image %1: %2").arg(path, file.errorString()));
            return;
        }
        file.close();
        if (extension == QStringLiteral(".fits"))
            writeHeader(path);
        ++m_image;
        log({QStringLiteral("image"), m_plan.target, m_plan.filter, integerText(m_plan.binning),
             doubleText(m_plan.interval), path});
        if (m_image < m_plan.count)
            startExposure(m_plan.interval);
        else
            finish();
        return;
    }
    fail(QStringLiteral("no free image name in %1").arg(folder));
}

bool PlanExecutor::solveWanted()
{
    if (m_settings.indi.camera.isEmpty())
        return false;
    if (!m_solveOn) {
        QString which;
        const QString program = imaging::SolveField::executable();
        m_indexFolder = imaging::SolveField::findIndexFolder(m_settings.solve.indexFolder, &which);
        QString why;
        if (m_settings.solve.enabled == false)
            why = QStringLiteral("[solve] enabled=false");
        else if (program.isEmpty())
            why = QStringLiteral("solve-field is not installed (Debian: astrometry.net)");
        else if (m_indexFolder.isEmpty())
            why = which;
        m_solveOn = why.isEmpty();
        if (why.isEmpty())
            log({QStringLiteral("solve"), QStringLiteral("on"), program, which});
        else
            log({QStringLiteral("solve"), QStringLiteral("off: ") + why,
                 QStringLiteral("the mount's pointing is trusted")});
    }
    return *m_solveOn;
}

std::optional<double> PlanExecutor::scaleHint() const
{
    if (m_settings.solve.scale)
        return m_settings.solve.scale;
    const IndiProperty* info = m_client.property(m_settings.indi.camera, QStringLiteral("CCD_INFO"));
    const double pixel = info ? info->number(QStringLiteral("CCD_PIXEL_SIZE_X")).value_or(0) : 0;
    double focal = 0;
    if (const IndiProperty* scope = m_client.property(m_settings.indi.camera, QStringLiteral("SCOPE_INFO")))
        focal = scope->number(QStringLiteral("FOCAL_LENGTH")).value_or(0);
    if (focal <= 0)
        if (const IndiProperty* scope = m_client.property(m_settings.indi.mount, QStringLiteral("TELESCOPE_INFO")))
            focal = scope->number(QStringLiteral("TELESCOPE_FOCAL_LENGTH")).value_or(0);
    if (pixel <= 0 || focal <= 0)
        return std::nullopt;
    return 206.264806 * pixel / focal;
}

void PlanExecutor::startSolveFrame()
{
    ++m_solves;
    configureCamera(m_settings.solve.binning, 1.0, Purpose::Solve);
}

void PlanExecutor::solveFrame()
{
    const IndiBlob* blob = m_client.lastBlob(m_settings.indi.camera, mainChip);
    m_purpose = Purpose::Plan;
    if (!m_work || !m_work->isValid())
        m_work = std::make_unique<QTemporaryDir>();
    const QString path = m_work->filePath(QStringLiteral("solve-%1.fits").arg(m_solves));
    QFile file(path);
    if (!blob || !looksLikeFits(blob->data) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(blob->data) != blob->data.size() || !file.flush()) {
        log({QStringLiteral("solve"), m_plan.target,
             QStringLiteral("failed: the solve frame is not FITS or cannot be kept"),
             QStringLiteral("the plan goes on unsolved")});
        afterPointing();
        return;
    }
    file.close();
    imaging::SolveRequest request;
    request.imagePath = path;
    request.workDir = m_work->filePath(QStringLiteral("solve"));
    request.indexFolder = m_indexFolder;
    request.rightAscension = m_target.rightAscension * 15;
    request.declination = m_target.declination;
    request.radius = m_settings.solve.radius;
    if (const auto scale = scaleHint())
        request.scale = *scale * m_geometry.binning;
    request.cpuLimit = m_settings.solve.cpuLimit;
    m_solveGeometry = m_geometry;
    // Where the mount says it points while the frame is taken: the solve measures its error.
    if (!m_link.mountJ2000(m_clock.utcNow(), m_solveMount))
        m_solveMount = m_aim;
    enter(Step::Solving, m_settings.solve.cpuLimit * 2 + 60, QStringLiteral("solve-field did not end"));
    m_solver.start(request);
}

void PlanExecutor::solved(const imaging::SolveResult& result)
{
    if (m_step != Step::Solving)
        return;
    const QString seconds = QStringLiteral("%1 s").arg(result.seconds, 0, 'f', 1);
    if (!result.solved) {
        // A lost solve must not lose the night: the plan goes on where the mount points.
        log({QStringLiteral("solve"), m_plan.target, QStringLiteral("failed: ") + result.reason, seconds,
             QStringLiteral("the plan goes on unsolved")});
        afterPointing();
        return;
    }
    m_solution = Solution{result.wcs, m_solveGeometry};
    const double off = imaging::angularDistance(result.rightAscension, result.declination,
                                                m_target.rightAscension * 15, m_target.declination) *
                       3600;
    log({QStringLiteral("solved"), m_plan.target, coordinatesText({result.rightAscension / 15, result.declination}),
         QStringLiteral("%1 arcsec off").arg(off, 0, 'f', 1),
         QStringLiteral("%1 arcsec/px").arg(result.wcs.scale(), 0, 'f', 2), seconds,
         QStringLiteral("solve %1").arg(m_solves)});
    if (off <= m_settings.solve.tolerance) {
        afterPointing();
        return;
    }
    if (m_solves >= m_settings.solve.attempts) {
        log({QStringLiteral("solve"), m_plan.target,
             QStringLiteral("still %1 arcsec off after %2 solves; the plan goes on").arg(off, 0, 'f', 1).arg(m_solves)});
        afterPointing();
        return;
    }
    if (m_settings.solve.sync) {
        // The mount learns where it points, then goes to the target again.
        const Equatorial at{result.rightAscension / 15, result.declination};
        const Equatorial jnow = j2000ToJnow(at, m_clock.utcNow());
        m_client.sendSwitch(m_settings.indi.mount, QStringLiteral("ON_COORD_SET"), QStringLiteral("SYNC"));
        m_client.sendNumbers(m_settings.indi.mount, EOD,
                             {{QStringLiteral("RA"), jnow.rightAscension}, {QStringLiteral("DEC"), jnow.declination}});
        log({QStringLiteral("sync"), m_plan.target, coordinatesText(at)});
        slewTo(m_target, QStringLiteral("correct"));
        return;
    }
    // Differential: the mount's error is where the sky is less where the mount said it pointed;
    // it is sent to the target less that error. (Measured against the mount's report rather than
    // the position asked, a slew that stopped short is not taken for an error of the pointing.)
    double dRa = result.rightAscension / 15 - m_solveMount.rightAscension;
    dRa -= 24 * std::round(dRa / 24);
    Equatorial aim{wrapHours(m_target.rightAscension - dRa),
                   std::clamp(m_target.declination - (result.declination - m_solveMount.declination), -90.0, 90.0)};
    slewTo(aim, QStringLiteral("correct"));
}

void PlanExecutor::startBuiltInFocus()
{
    const QString& focuser = m_settings.indi.focuser;
    const IndiProperty* p = m_client.property(focuser, absFocus);
    const auto position = p ? p->number(absFocusValue) : std::nullopt;
    if (!position) {
        log({QStringLiteral("autofocus"), m_plan.target, QStringLiteral("skipped: the focuser reports no position")});
        startCamera();
        return;
    }
    int highest = 1 << 30;
    if (const IndiProperty* max = m_client.property(focuser, QStringLiteral("FOCUS_MAX")))
        if (const auto v = max->number(QStringLiteral("FOCUS_MAX_VALUE")); v && *v > 0)
            highest = static_cast<int>(std::lround(*v));
    const FocusSettings& f = m_settings.focus;
    const int start = static_cast<int>(std::lround(*position));
    m_focusRun = std::make_unique<FocusRun>(
        FocusRun{imaging::FocusSweep(start, f.step, f.stepsOut, f.maxTravel, 0, highest), {}, m_clock.utcNow(),
                 FocusPhase::Point, start, 0, false, {}});
    log({QStringLiteral("autofocus"), m_plan.target,
         QStringLiteral("V-curve from %1: %2 steps of %3 out, then in; %4 s at binning %5")
             .arg(start)
             .arg(f.stepsOut)
             .arg(f.step)
             .arg(doubleText(f.exposure))
             .arg(f.binning)});
    configureCamera(f.binning, 1.0, Purpose::Focus);
}

void PlanExecutor::focusNext()
{
    if (const auto next = m_focusRun->sweep.next())
        moveFocuser(*next, FocusPhase::Point);
    else
        focusFitted();
}

void PlanExecutor::moveFocuser(int position, FocusPhase phase)
{
    m_focusRun->phase = phase;
    m_focusRun->moving = position;
    m_client.sendNumbers(m_settings.indi.focuser, absFocus, {{absFocusValue, static_cast<double>(position)}});
    enter(Step::FocusMoving, kFocuserLimitSeconds, QStringLiteral("the focuser did not reach %1").arg(position));
}

void PlanExecutor::focuserArrived()
{
    FocusRun& run = *m_focusRun;
    switch (run.phase) {
    case FocusPhase::Point:
    case FocusPhase::Best:
        m_purpose = Purpose::Focus;
        startExposure(m_settings.focus.exposure);
        break;
    case FocusPhase::Overshoot:
        moveFocuser(run.best, FocusPhase::Best);
        break;
    case FocusPhase::Back:
        moveFocuser(run.sweep.start(), FocusPhase::Start);
        break;
    case FocusPhase::Start:
        focusDone();
        break;
    }
}

void PlanExecutor::measureFocus()
{
    FocusRun& run = *m_focusRun;
    const IndiBlob* blob = m_client.lastBlob(m_settings.indi.camera, mainChip);
    imaging::FocusPoint point{run.moving, 0, 0};
    try {
        const imaging::StarField field = imaging::detectStars(imaging::readFitsImage(blob->data));
        point.stars = static_cast<int>(field.stars.size());
        if (point.stars >= kFocusMinimumStars)
            point.hfr = field.medianHfr;
    } catch (const imaging::ImagingError& e) {
        log({QStringLiteral("autofocus"), m_plan.target, QStringLiteral("frame not measured: ") + e.message()});
    }
    log({QStringLiteral("focus"), m_plan.target, QStringLiteral("position %1").arg(point.position),
         QStringLiteral("HFR %1").arg(point.hfr, 0, 'f', 3), QStringLiteral("%1 stars").arg(point.stars)});
    const int step = m_settings.focus.step;
    if (run.phase == FocusPhase::Point) {
        run.sweep.add(point);
        focusNext();
        return;
    }
    // The verifying frame at the best position.
    if (point.valid() && point.hfr <= run.fit.minimumHfr * kFocusFinalTolerance) {
        run.accepted = true;
        run.outcome = QStringLiteral("accepted: focus %1, HFR %2 (fitted minimum %3), R2 %4")
                          .arg(run.best)
                          .arg(point.hfr, 0, 'f', 3)
                          .arg(run.fit.minimumHfr, 0, 'f', 3)
                          .arg(run.fit.r2, 0, 'f', 3);
        focusDone();
        return;
    }
    run.outcome = QStringLiteral("rejected: HFR %1 at %2 is more than 10 % above the fitted minimum %3; "
                                 "back to %4")
                      .arg(point.hfr, 0, 'f', 3)
                      .arg(run.best)
                      .arg(run.fit.minimumHfr, 0, 'f', 3)
                      .arg(run.sweep.start());
    moveFocuser(run.sweep.start() + step, FocusPhase::Back);
}

void PlanExecutor::focusFitted()
{
    FocusRun& run = *m_focusRun;
    run.fit = imaging::fitFocusCurve(run.sweep.window());
    QString why;
    if (!run.sweep.bracketed())
        why = run.sweep.unbracketedReason();
    else if (!run.fit.fitted)
        why = run.fit.why;
    else if (run.fit.r2 < kFocusMinimumR2)
        why = QStringLiteral("the fit's R2 %1 is below %2").arg(run.fit.r2, 0, 'f', 3).arg(kFocusMinimumR2);
    QStringList points;
    for (const imaging::FocusPoint& p : run.sweep.sorted())
        points << QStringLiteral("%1:%2/%3").arg(p.position).arg(p.hfr, 0, 'f', 3).arg(p.stars);
    log({QStringLiteral("focus curve"), m_plan.target, points.join(u' '),
         run.fit.fitted ? QStringLiteral("fitted minimum %1 HFR %2").arg(std::lround(run.fit.bestPosition))
                              .arg(run.fit.minimumHfr, 0, 'f', 3)
                        : QStringLiteral("no fit"),
         QStringLiteral("R2 %1").arg(run.fit.r2, 0, 'f', 3)});
    const int step = m_settings.focus.step;
    if (why.isEmpty()) {
        run.best = static_cast<int>(std::lround(run.fit.bestPosition));
        // Approached from above, as every point of the sweep was: the gear's play stays on one side.
        moveFocuser(run.best + step, FocusPhase::Overshoot);
        return;
    }
    run.outcome = QStringLiteral("rejected: %1; back to %2").arg(why).arg(run.sweep.start());
    moveFocuser(run.sweep.start() + step, FocusPhase::Back);
}

void PlanExecutor::focusDone()
{
    FocusRun& run = *m_focusRun;
    QString chart;
    const QString folder = imageFolder();
    if (QDir().mkpath(folder)) {
        QString name = m_plan.target;
        for (QChar& c : name)
            if (!c.isLetterOrNumber() && c != u'-')
                c = u'_';
        chart = folder + QStringLiteral("/focus-%1-%2.svg")
                             .arg(name, m_clock.utcNow().toString(QStringLiteral("yyyyMMdd-HHmmss")));
        QFile file(chart);
        const QByteArray svg =
            imaging::focusChartSvg(run.sweep.points(), run.fit,
                                   QStringLiteral("%1: focus %2").arg(m_plan.target, run.accepted
                                                                                          ? QString::number(run.best)
                                                                                          : QStringLiteral("not found")))
                .toUtf8();
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(svg) != svg.size())
            chart.clear();
    }
    const double seconds = static_cast<double>(run.started.msecsTo(m_clock.utcNow())) / 1000.0;
    QStringList fields{QStringLiteral("autofocus"), m_plan.target, run.outcome,
                       QStringLiteral("%1 s").arg(seconds, 0, 'f', 1)};
    if (!chart.isEmpty())
        fields << chart;
    log(fields);
    m_focusRun.reset();
    m_purpose = Purpose::Plan;
    startCamera();
}

void PlanExecutor::writeHeader(const QString& path)
{
    using imaging::HeaderCard;
    QList<HeaderCard> cards;
    const double ra = m_target.rightAscension;
    const double dec = m_target.declination;
    cards << HeaderCard{QStringLiteral("OBJECT"), m_plan.target, QStringLiteral("target name")}
          << HeaderCard{QStringLiteral("OBJCTRA"), sexagesimal(ra, 2, false), QStringLiteral("target J2000 RA, hours")}
          << HeaderCard{QStringLiteral("OBJCTDEC"), sexagesimal(dec, 1, true), QStringLiteral("target J2000 Dec, degrees")}
          << HeaderCard{QStringLiteral("RA"), ra * 15, QStringLiteral("target J2000 RA, degrees"), 6}
          << HeaderCard{QStringLiteral("DEC"), dec, QStringLiteral("target J2000 Dec, degrees"), 6}
          << HeaderCard{QStringLiteral("EQUINOX"), 2000.0, QStringLiteral("equinox of the coordinates"), 1};
    const QDateTime start = m_exposureStart.toUTC();
    cards << HeaderCard{QStringLiteral("DATE-OBS"), start.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")),
                        QStringLiteral("UTC start of the exposure")}
          << HeaderCard{QStringLiteral("MJD-OBS"), 40587.0 + static_cast<double>(start.toMSecsSinceEpoch()) / 86400000.0,
                        QStringLiteral("UTC start, modified Julian date"), 8}
          << HeaderCard{QStringLiteral("EXPTIME"), m_exposureSeconds, QStringLiteral("exposure, seconds"), 3}
          << HeaderCard{QStringLiteral("XBINNING"), static_cast<long long>(m_geometry.binning), QStringLiteral("binning")}
          << HeaderCard{QStringLiteral("YBINNING"), static_cast<long long>(m_geometry.binning), QStringLiteral("binning")}
          << HeaderCard{QStringLiteral("IMAGETYP"), QStringLiteral("Light Frame"), QStringLiteral("frame type")};
    // The plan's filter; without one, the name of the wheel's slot; without a wheel, the camera's.
    QString filter = m_plan.filter;
    if (filter.isEmpty() && !m_settings.indi.filterWheel.isEmpty()) {
        const IndiProperty* slot = m_client.property(m_settings.indi.filterWheel, QStringLiteral("FILTER_SLOT"));
        const IndiProperty* names = m_client.property(m_settings.indi.filterWheel, QStringLiteral("FILTER_NAME"));
        const long index = slot ? std::lround(slot->number(QStringLiteral("FILTER_SLOT_VALUE")).value_or(0)) : 0;
        if (names && index >= 1 && index <= names->elements.size())
            filter = names->elements[index - 1].text.trimmed();
    }
    if (!filter.isEmpty())
        cards << HeaderCard{QStringLiteral("FILTER"), filter, QStringLiteral("filter")};
    const Site& site = m_sky.site();
    cards << HeaderCard{QStringLiteral("SITELAT"), site.latitude, QStringLiteral("site latitude, degrees north"), 6}
          << HeaderCard{QStringLiteral("SITELONG"), site.longitude, QStringLiteral("site longitude, degrees east"), 6}
          << HeaderCard{QStringLiteral("SITEELEV"), site.elevation, QStringLiteral("site elevation, metres"), 1};
    // The elevation at mid-exposure; none below 5 degrees, where the camera's own figure is no better.
    const QDateTime middle = start.addMSecs(static_cast<qint64>(m_exposureSeconds * 500));
    const double elevation = SkyInstant(middle, site).observed(ra, dec).elevation;
    if (const auto airmass = imaging::airmassAt(elevation))
        cards << HeaderCard{QStringLiteral("AIRMASS"), *airmass, QStringLiteral("at mid-exposure"), 4};
    else
        cards << HeaderCard::remove(QStringLiteral("AIRMASS"));
    if (!m_settings.indi.focuser.isEmpty())
        if (const IndiProperty* p = m_client.property(m_settings.indi.focuser, absFocus))
            if (const auto v = p->number(absFocusValue))
                cards << HeaderCard{QStringLiteral("FOCUSPOS"), static_cast<long long>(std::llround(*v)),
                                    QStringLiteral("focuser position")};
    if (const IndiProperty* p = m_client.property(m_settings.indi.camera, QStringLiteral("CCD_TEMPERATURE")))
        if (const auto v = p->number(QStringLiteral("CCD_TEMPERATURE_VALUE")))
            cards << HeaderCard{QStringLiteral("CCD-TEMP"), *v, QStringLiteral("sensor temperature, C"), 2};
    // The survey writes its plans into baseDir/KIND/[target/]night: the kind is the folder so named.
    const QStringList dir = QString(m_plan.dir).replace(u'\\', u'/').split(u'/', Qt::SkipEmptyParts);
    for (qsizetype i = dir.size() - 1; i >= 0; --i)
        if (QStringList{QStringLiteral("SNe"), QStringLiteral("MPS"), QStringLiteral("MPF"), QStringLiteral("SLC")}
                .contains(dir[i])) {
            cards << HeaderCard{QStringLiteral("SURVEY"), dir[i], QStringLiteral("survey kind")};
            break;
        }
    if (!m_planPath.isEmpty())
        cards << HeaderCard{QStringLiteral("PLANFILE"), QFileInfo(m_planPath).fileName(), QStringLiteral("acquisition plan")};
    cards << HeaderCard{QStringLiteral("SWCREATE"),
                        QStringLiteral("Kestrove %1.%2.%3").arg(versionMajor).arg(versionMinor).arg(versionRevision),
                        QStringLiteral("acquisition program")};
    if (m_solution) {
        const imaging::Wcs wcs = m_solution->wcs.carriedTo(m_solution->geometry, m_geometry);
        cards << wcs.headerCards();
    }
    try {
        imaging::updateFitsHeader(path, cards);
    } catch (const imaging::ImagingError& e) {
        log({QStringLiteral("error"), m_plan.target, QStringLiteral("header not completed: ") + e.message()});
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

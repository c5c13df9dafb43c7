#include "host/indi/PlanExecutor.h"

#include "config/NumberText.h"
#include "host/AcquisitionLog.h"
#include "host/ChainScript.h"
#include "host/ConfigValues.h"
#include "host/HostError.h"
#include "host/LocalFileSystem.h"
#include "host/SkyUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcessEnvironment>

#include <cmath>

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

} // namespace

PlanExecutor::PlanExecutor(IndiLink& link, SiteSky& sky, Clock& clock)
    : m_link(link), m_client(link.client()), m_settings(link.settings()), m_sky(sky), m_clock(clock)
{
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &PlanExecutor::tick);
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
    if (m_plan.count > 0)
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
                separation(at.rightAscension, at.declination, m_target.rightAscension, m_target.declination) <
                    0.05)
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
            fail(QStringLiteral("the camera refused the binning %1 or the frame").arg(m_plan.binning));
            break;
        case CameraAnswer::Taken:
            log({QStringLiteral("camera"), m_plan.target, QStringLiteral("binning %1").arg(m_plan.binning),
                 QStringLiteral("subframe %1").arg(doubleText(m_plan.subframe)), frameText()});
            m_image = 0;
            startExposure();
            break;
        }
        break;
    case Step::Exposing:
        if (m_client.blobCount(m_settings.indi.camera, mainChip) > m_blobsBefore)
            saveImage();
        break;
    case Step::Idle:
    case Step::Starting:
    case Step::Focusing:
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
            startCamera();
        }
    } else if (m_step == Step::Exposing && device == indi.camera && name == QStringLiteral("CCD_EXPOSURE")) {
        if (m_watch.update(p->state) == CommandWatch::Result::Failed)
            fail(QStringLiteral("exposure %1 failed: the camera reported Alert").arg(m_image + 1));
    }
}

void PlanExecutor::startSlew()
{
    const QDateTime now = m_clock.utcNow();
    m_target = {m_plan.rightAscension, m_plan.declination};
    Equatorial from;
    const double distance =
        m_link.mountJ2000(now, from)
            ? separation(from.rightAscension, from.declination, m_target.rightAscension, m_target.declination)
            : 180;
    const Equatorial jnow = j2000ToJnow(m_target, now);
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
    log({QStringLiteral("slew"), m_plan.target, coordinatesText(m_target),
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
    const double off =
        separation(at.rightAscension, at.declination, m_target.rightAscension, m_target.declination);
    log({QStringLiteral("slewed"), m_plan.target, coordinatesText(at),
         QStringLiteral("%1 arcsec off").arg(QString::number(off * 3600, 'f', 1))});
    if (off > kPointingTolerance) {
        fail(QStringLiteral("the mount stands %1 deg from the target").arg(QString::number(off, 'f', 2)));
        return;
    }
    if (m_plan.calibrate)
        log({QStringLiteral("calibrate"), m_plan.target,
             QStringLiteral("skipped: the images are saved uncalibrated (INDI has no calibration)")});
    startFocus();
}

void PlanExecutor::startFocus()
{
    if (!m_plan.autofocus) {
        startFilter();
        return;
    }
    const QString command = m_settings.indi.autofocusCommand;
    if (command.isEmpty()) {
        log({QStringLiteral("autofocus"), m_plan.target,
             QStringLiteral("skipped: no [indi] autofocusCommand configured")});
        startFilter();
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
            startFilter();
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
        startCamera();
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
        startCamera();
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
    m_client.sendNumbers(camera, QStringLiteral("CCD_BINNING"),
                         {{QStringLiteral("HOR_BIN"), static_cast<double>(m_plan.binning)},
                          {QStringLiteral("VER_BIN"), static_cast<double>(m_plan.binning)}});
    const Frame f = centredFrame(width, height, m_plan.subframe);
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

void PlanExecutor::startExposure()
{
    const QString& camera = m_settings.indi.camera;
    m_blobsBefore = m_client.blobCount(camera, mainChip);
    m_client.sendNumbers(camera, QStringLiteral("CCD_EXPOSURE"),
                         {{QStringLiteral("CCD_EXPOSURE_VALUE"), m_plan.interval}});
    m_watch.sent(stateOf(camera, QStringLiteral("CCD_EXPOSURE")));
    enter(Step::Exposing, m_plan.interval + m_settings.indi.downloadMargin,
          QStringLiteral("exposure %1 did not arrive").arg(m_image + 1));
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
        ++m_image;
        log({QStringLiteral("image"), m_plan.target, m_plan.filter, integerText(m_plan.binning),
             doubleText(m_plan.interval), path});
        if (m_image < m_plan.count)
            startExposure();
        else
            finish();
        return;
    }
    fail(QStringLiteral("no free image name in %1").arg(folder));
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

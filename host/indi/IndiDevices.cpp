#include "host/indi/IndiDevices.h"

#include "host/AcquisitionLog.h"
#include "host/SkyFlats.h"
#include "host/indi/PlanExecutor.h"
#include "sky/Clock.h"

#include <cmath>

namespace kestrove::indi {

namespace {

const QString PARK = QStringLiteral("PARK");
const QString UNPARK = QStringLiteral("UNPARK");
const QString TELESCOPE_PARK = QStringLiteral("TELESCOPE_PARK");
const QString DOME_PARK = QStringLiteral("DOME_PARK");
const QString DOME_SHUTTER = QStringLiteral("DOME_SHUTTER");
const QString CCD_TEMPERATURE = QStringLiteral("CCD_TEMPERATURE");
// A camera counts as cooled within this many degrees of its set point.
constexpr double kTemperatureTolerance = 1.0;

QString key(const QString& device, const QString& property)
{
    return device + u'\n' + property;
}

} // namespace

IndiDevices::IndiDevices(IndiLink& link, PlanExecutor& executor, const Clock& clock)
    : m_link(link), m_client(link.client()), m_settings(link.settings()), m_executor(executor), m_clock(clock)
{
}

bool IndiDevices::has(Motion motion) const
{
    switch (motion) {
    case Motion::ParkMount:
    case Motion::UnparkMount:
        // Always: a mount that cannot be parked must stop a roof from closing on it.
        return true;
    case Motion::OpenRoof:
    case Motion::CloseRoof:
        return !m_settings.indi.enclosure().isEmpty();
    case Motion::CoolCamera:
    case Motion::WarmCamera:
        return m_settings.indi.coolTo.has_value();
    case Motion::Calibrate:
        return m_settings.calibration.enabled;
    case Motion::SkyFlats:
        return m_settings.calibration.enabled && m_settings.calibration.skyFlats &&
               m_settings.indi.lightPanel.isEmpty() && !m_settings.indi.camera.isEmpty();
    }
    return false;
}

QString IndiDevices::deviceText(Motion motion) const
{
    switch (motion) {
    case Motion::ParkMount:
    case Motion::UnparkMount:
        return QStringLiteral("mount \"%1\"").arg(m_settings.indi.mount);
    case Motion::OpenRoof:
    case Motion::CloseRoof:
        if (m_settings.indi.roof.isEmpty() && !m_settings.indi.dome.isEmpty())
            return QStringLiteral("dome \"%1\"").arg(m_settings.indi.dome);
        return QStringLiteral("roof \"%1\"").arg(m_settings.indi.roof);
    case Motion::CoolCamera:
    case Motion::WarmCamera:
    case Motion::Calibrate:
    case Motion::SkyFlats:
        return QStringLiteral("camera \"%1\"").arg(m_settings.indi.camera);
    }
    return {};
}

QList<IndiDevices::Target> IndiDevices::stepsOf(Motion motion) const
{
    const QString& roof = m_settings.indi.enclosure();
    const bool shutter = m_client.property(roof, DOME_SHUTTER) != nullptr;
    switch (motion) {
    case Motion::ParkMount:
        return {{m_settings.indi.mount, TELESCOPE_PARK, PARK}};
    case Motion::UnparkMount:
        return {{m_settings.indi.mount, TELESCOPE_PARK, UNPARK}};
    case Motion::OpenRoof:
        if (shutter)
            return {{roof, DOME_PARK, UNPARK}, {roof, DOME_SHUTTER, QStringLiteral("SHUTTER_OPEN")}};
        return {{roof, DOME_PARK, UNPARK}};
    case Motion::CloseRoof:
        if (shutter)
            return {{roof, DOME_SHUTTER, QStringLiteral("SHUTTER_CLOSE")}, {roof, DOME_PARK, PARK}};
        return {{roof, DOME_PARK, PARK}};
    case Motion::CoolCamera:
    case Motion::WarmCamera:
    case Motion::Calibrate:
    case Motion::SkyFlats:
        break;
    }
    return {};
}

bool IndiDevices::reached(const Target& target) const
{
    const IndiProperty* p = m_client.property(target.device, target.property);
    return p && p->isOn(target.element) && p->state != PropertyState::Busy &&
           p->state != PropertyState::Alert;
}

void IndiDevices::send(const Target& target)
{
    const IndiProperty* p = m_client.property(target.device, target.property);
    if (!p || reached(target))
        return;
    const Sent last = m_sent.value(key(target.device, target.property));
    // INDI aborts a park on any second write: a command still under way is only watched.
    if (p->state == PropertyState::Busy && last.element == target.element)
        return;
    m_sent.insert(key(target.device, target.property), Sent{target.element, p->updates});
    m_client.sendSwitch(target.device, target.property, target.element);
}

void IndiDevices::command(Motion motion)
{
    if (motion == Motion::Calibrate) {
        startCalibration();
        return;
    }
    if (motion == Motion::SkyFlats) {
        startSkyFlats();
        return;
    }
    if (motion == Motion::CoolCamera || motion == Motion::WarmCamera) {
        const double set = motion == Motion::CoolCamera ? *m_settings.indi.coolTo : m_settings.indi.warmTo;
        const IndiProperty* p = m_client.property(m_settings.indi.camera, CCD_TEMPERATURE);
        m_sent.insert(key(m_settings.indi.camera, CCD_TEMPERATURE), Sent{QString(), p ? p->updates : 0});
        // Warmed by its set point: a cooler switched off leaves some cameras cold.
        m_client.sendNumbers(m_settings.indi.camera, CCD_TEMPERATURE,
                             {{QStringLiteral("CCD_TEMPERATURE_VALUE"), set}});
        return;
    }
    for (const Target& step : stepsOf(motion))
        if (!reached(step)) {
            send(step);
            return;
        }
}

MotionProgress IndiDevices::temperature(Motion motion)
{
    const QString& camera = m_settings.indi.camera;
    const IndiProperty* p = m_client.property(camera, CCD_TEMPERATURE);
    if (!p)
        return MotionProgress::failed(QStringLiteral("it has no CCD_TEMPERATURE"));
    const quint64 sentAt = m_sent.value(key(camera, CCD_TEMPERATURE)).updates;
    if (p->state == PropertyState::Alert && p->updates > sentAt)
        return MotionProgress::failed(QStringLiteral("it reported Alert"));
    if (motion == Motion::WarmCamera)
        return p->updates > sentAt ? MotionProgress::done() : MotionProgress::moving();
    const double now = p->number(QStringLiteral("CCD_TEMPERATURE_VALUE")).value_or(1e9);
    return std::abs(now - *m_settings.indi.coolTo) <= kTemperatureTolerance ? MotionProgress::done()
                                                                            : MotionProgress::moving();
}

MotionProgress IndiDevices::progress(Motion motion)
{
    if (!m_client.serverConnected())
        return MotionProgress::failed(
            QStringLiteral("the INDI server at %1 is not connected").arg(m_link.serverText()));
    if (motion == Motion::CoolCamera || motion == Motion::WarmCamera)
        return temperature(motion);
    if (motion == Motion::Calibrate || motion == Motion::SkyFlats)
        return calibration();
    for (const Target& step : stepsOf(motion)) {
        const IndiProperty* p = m_client.property(step.device, step.property);
        // A mount that cannot park has nothing to unpark; parking it stays an error, so that no
        // roof closes on it.
        if (!p && motion == Motion::UnparkMount && m_client.deviceConnected(step.device))
            return MotionProgress::done();
        if (!p)
            return MotionProgress::failed(
                m_client.hasDevice(step.device)
                    ? QStringLiteral("device \"%1\" has no %2").arg(step.device, step.property)
                    : QStringLiteral("the server has no device \"%1\"").arg(step.device));
        if (reached(step))
            continue;
        const Sent last = m_sent.value(key(step.device, step.property));
        if (p->state == PropertyState::Alert && p->updates > last.updates && last.element == step.element)
            return MotionProgress::failed(QStringLiteral("%1 reported Alert").arg(step.property));
        // The next step of the motion (the shutter after the dome's park) is sent as its turn comes.
        if (last.element != step.element)
            send(step);
        return MotionProgress::moving();
    }
    return MotionProgress::done();
}

void IndiDevices::startCloseFrames(const std::function<QList<CalibrationSet>()>& gather,
                                   const QString& nothing,
                                   const std::function<bool(const QList<CalibrationSet>&)>& start)
{
    m_calibration = Calibration::NothingToDo;
    if (!m_observations)
        return;
    QList<CalibrationSet> sets;
    try {
        sets = gather();
    } catch (const std::exception& e) {
        m_calibration = Calibration::Refused;
        m_calibrationRefusal = QString::fromUtf8(e.what());
        return;
    }
    if (sets.isEmpty()) {
        m_executor.log({QStringLiteral("calibrate"), nothing});
        return;
    }
    if (!start(sets)) {
        m_calibration = Calibration::Refused;
        m_calibrationRefusal = QStringLiteral("a plan is still running");
        return;
    }
    m_calibration = Calibration::Started;
}

// The night's frames: those of the last day.
void IndiDevices::startCalibration()
{
    const QDateTime now = m_clock.utcNow();
    startCloseFrames(
        [&] {
            return nightCalibrationSets(*m_observations, m_settings, now.addDays(-1), now) +
                   nightFlatSets(*m_observations, m_settings, now.addDays(-1), now);
        },
        QStringLiteral("nothing to take: every setting of the night has its masters"),
        [this](const QList<CalibrationSet>& sets) { return m_executor.calibrate(sets); });
}

void IndiDevices::startSkyFlats()
{
    const QDateTime now = m_clock.utcNow();
    startCloseFrames([&] { return skyFlatSets(*m_observations, m_settings, now); },
                     QStringLiteral("no sky flats to take: every filter and binning has its master"),
                     [&](const QList<CalibrationSet>& sets) {
                         const Site site{m_settings.latitude, m_settings.longitude, m_settings.elevation};
                         return m_executor.skyFlats(sets, skyFlatField(site, now));
                     });
}

bool IndiDevices::skyFlatsWanted()
{
    if (!m_observations || !has(Motion::SkyFlats))
        return false;
    try {
        return !skyFlatSets(*m_observations, m_settings, m_clock.utcNow()).isEmpty();
    } catch (const std::exception& e) {
        m_executor.log({QStringLiteral("error"), QString::fromUtf8(e.what())});
        return false;
    }
}

MotionProgress IndiDevices::calibration() const
{
    switch (m_calibration) {
    case Calibration::None:
        return MotionProgress::moving();
    case Calibration::NothingToDo:
        return MotionProgress::done();
    case Calibration::Refused:
        return MotionProgress::failed(m_calibrationRefusal);
    case Calibration::Started:
        break;
    }
    if (m_executor.calibrating())
        return MotionProgress::moving();
    const QString failure = m_executor.calibrationFailure();
    return failure.isEmpty() ? MotionProgress::done() : MotionProgress::failed(failure);
}

QStringList IndiDevices::takeEvents()
{
    return m_executor.takeCalibrationEvents();
}

QString IndiDevices::shutFromOutside()
{
    const QString& roof = m_settings.indi.enclosure();
    const QList<std::pair<Target, QString>> shut{
        {{m_settings.indi.mount, TELESCOPE_PARK, PARK},
         QStringLiteral("mount \"%1\" parked").arg(m_settings.indi.mount)},
        {{roof, DOME_PARK, PARK}, QStringLiteral("roof \"%1\" parked").arg(roof)},
        {{roof, DOME_SHUTTER, QStringLiteral("SHUTTER_CLOSE")},
         QStringLiteral("shutter of \"%1\" closed").arg(roof)},
    };
    for (const auto& [target, text] : shut)
        if (!target.device.isEmpty() && reached(target))
            return text;
    return {};
}

void IndiDevices::stopImaging(const QString& why)
{
    if (m_executor.active())
        m_executor.abortFor(why);
}

bool IndiDevices::weatherSafe()
{
    return !m_link.weatherConfigured() || m_link.weatherSafe();
}

void IndiDevices::log(const QStringList& fields)
{
    m_executor.log(fields);
}

IndiWatchdog::IndiWatchdog(IndiLink& link)
    : m_link(link), m_client(link.client()), m_settings(link.settings())
{
    m_timer.setInterval(static_cast<int>(m_settings.indi.heartbeat * 1000 / 3));
    connect(&m_timer, &QTimer::timeout, this, &IndiWatchdog::beat);
    connect(&m_client, &IndiClient::serverLost, this, [this] { m_configured = false; });
}

IndiWatchdog::~IndiWatchdog()
{
    m_timer.stop();
    if (m_configured)
        m_client.sendNumbers(m_settings.indi.watchdog, QStringLiteral("WATCHDOG_HEARTBEAT"),
                             {{QStringLiteral("WATCHDOG_HEARTBEAT_VALUE"), 0.0}});
}

bool IndiWatchdog::prepare()
{
    const QString& dog = m_settings.indi.watchdog;
    if (!m_configured) {
        if (!m_client.property(dog, QStringLiteral("WATCHDOG_SETTINGS")) ||
            !m_client.property(dog, QStringLiteral("ACTIVE_DEVICES")))
            return false;
        const ServerAddress address = *parseServerAddress(m_settings.indi.server);
        // Before the device connects: it reads where to reach the mount and the roof from these.
        m_client.sendTexts(dog, QStringLiteral("WATCHDOG_SETTINGS"),
                           {{QStringLiteral("INDISERVER_HOST"), address.host},
                            {QStringLiteral("INDISERVER_PORT"), QString::number(address.port)}});
        m_client.sendTexts(dog, QStringLiteral("ACTIVE_DEVICES"),
                           {{QStringLiteral("ACTIVE_TELESCOPE"), m_settings.indi.mount},
                            {QStringLiteral("ACTIVE_DOME"), m_settings.indi.enclosure()}});
        m_configured = true;
        m_lastSend.invalidate();
    }
    if (!m_client.deviceConnected(dog)) {
        if (!m_lastSend.isValid() || m_lastSend.elapsed() > 1000) {
            m_client.connectDevice(dog);
            m_lastSend.start();
        }
        return false;
    }
    if (!m_timer.isActive()) {
        beat();
        m_timer.start();
    }
    // What to do when the heartbeat stops, read back: the driver takes some of it only once it
    // is connected and beating.
    const bool roof = !m_settings.indi.enclosure().isEmpty();
    const IndiProperty* shutdown = m_client.property(dog, QStringLiteral("WATCHDOG_SHUTDOWN"));
    const IndiProperty* trigger = m_client.property(dog, QStringLiteral("WATCHDOG_Trigger"));
    const IndiProperty* policy = m_client.property(dog, QStringLiteral("WATCHDOG_MOUNT_POLICY"));
    const bool ready = shutdown && trigger && policy && shutdown->isOn(QStringLiteral("PARK_MOUNT")) &&
                       shutdown->isOn(QStringLiteral("PARK_DOME")) == roof &&
                       trigger->isOn(QStringLiteral("TRIGGER_CLIENT")) &&
                       policy->isOn(QStringLiteral("MOUNT_LOCKS"));
    if (!ready && (!m_lastSend.isValid() || m_lastSend.elapsed() > 1000)) {
        m_client.sendSwitches(dog, QStringLiteral("WATCHDOG_SHUTDOWN"),
                              {{QStringLiteral("PARK_MOUNT"), true},
                               {QStringLiteral("PARK_DOME"), roof},
                               {QStringLiteral("EXECUTE_SCRIPT"), false}});
        m_client.sendSwitch(dog, QStringLiteral("WATCHDOG_MOUNT_POLICY"), QStringLiteral("MOUNT_LOCKS"));
        m_client.sendSwitches(
            dog, QStringLiteral("WATCHDOG_Trigger"),
            {{QStringLiteral("TRIGGER_CLIENT"), true}, {QStringLiteral("TRIGGER_WEATHER"), false}});
        m_lastSend.start();
    }
    return ready;
}

void IndiWatchdog::beat()
{
    if (!m_client.serverConnected() || !m_configured)
        return;
    m_client.sendNumbers(m_settings.indi.watchdog, QStringLiteral("WATCHDOG_HEARTBEAT"),
                         {{QStringLiteral("WATCHDOG_HEARTBEAT_VALUE"), m_settings.indi.heartbeat}});
}

} // namespace kestrove::indi
